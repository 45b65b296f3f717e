#include "module/template/cycle.h"

#include "module/grammar/grammar.h"

namespace qv::module {

int checkAutoCycle(const host::StatementList& list) {
  int count = 0;
  int first = -1;
  for (const host::Statement& node : list.nodes) {
    const int kind = node.statement;
    if (kind != static_cast<int>(Stmt::Scatter) && kind != static_cast<int>(Stmt::Series) &&
        kind != static_cast<int>(Stmt::Bubble) && kind != static_cast<int>(Stmt::Text))
      continue;
    if (count == 0) first = kind;
    else if (kind != first) return 0;
    ++count;
  }
  return count >= 2 ? 1 : 0;
}

}  // namespace qv::module
