#include "module/host/statements.h"

namespace qv::host {

namespace {
const Slot kAbsentSlot{};

// Word index and bit mask of flag n (see Statement::flag).
bool flagPlace(int n, int* word, uint64_t* mask) {
  if (n < 0 || n >= 256) return false;
  int byte = n / 8;
  *word = byte / 8;
  *mask = uint64_t(0x80u >> (n % 8)) << (8 * (byte % 8));
  return true;
}
}  // namespace

const Slot& Slot::attr(int key) const {
  if (key < 0 || key >= static_cast<int>(attrs.size())) return kAbsentSlot;
  return attrs[key];
}

bool Statement::flag(int n) const {
  int w;
  uint64_t m;
  return flagPlace(n, &w, &m) && (header[w] & m) != 0;
}

void Statement::setFlag(int n) {
  int w;
  uint64_t m;
  if (flagPlace(n, &w, &m)) header[w] |= m;
}


Slot& Statement::slot(int id) {
  if (id < 0) {  // no option has a negative id: hand out a scratch slot
    static thread_local Slot scratch;
    scratch = Slot{};
    return scratch;
  }
  if (id >= static_cast<int>(slots.size())) slots.resize(id + 1);
  return slots[id];
}

const Slot& Statement::slot(int id) const {
  if (id < 0 || id >= static_cast<int>(slots.size())) return kAbsentSlot;
  return slots[id];
}

Statement& StatementList::append() {
  Statement* prev = nodes.empty() ? nullptr : &nodes.back();
  nodes.emplace_back();
  if (prev) prev->next = &nodes.back();
  return nodes.back();
}

}  // namespace qv::host
