#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "module/host/messages.h"
#include "runtime/log/log.h"

namespace qv::rt {
namespace {

// Placeholder indices used by a text, or -1 in *bad for a malformed brace.
std::set<int> placeholders(const std::string& t, bool* bad) {
  std::set<int> out;
  *bad = false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '}') *bad = true;
    if (t[i] != '{') continue;
    size_t j = i + 1;
    int v = 0;
    while (j < t.size() && t[j] >= '0' && t[j] <= '9') v = v * 10 + (t[j++] - '0');
    if (j == i + 1 || j >= t.size() || t[j] != '}' || v < 1) {
      *bad = true;
      return out;
    }
    out.insert(v);
    i = j;
  }
  return out;
}

TEST(Catalog, TableProperties) {
  ASSERT_LT(catalogBegin(), catalogEnd());
  for (const CatalogEntry* e = catalogBegin(); e != catalogEnd(); ++e) {
    SCOPED_TRACE(std::to_string(e->set) + "/" + std::to_string(e->number));
    if (e != catalogBegin()) {
      const CatalogEntry* p = e - 1;
      EXPECT_TRUE(std::make_pair(p->set, p->number) < std::make_pair(e->set, e->number))
          << "not sorted or repeated";
    }
    ASSERT_NE(e->text, nullptr);
    std::string t = e->text;
    EXPECT_FALSE(t.empty());
    EXPECT_EQ(t.find('\n'), std::string::npos) << "a message is one line";
    EXPECT_NE(t.back(), ' ');
    bool bad = false;
    std::set<int> used = placeholders(t, &bad);
    EXPECT_FALSE(bad) << t;
    // Every declared argument is shown and no other is asked for.
    std::set<int> declared;
    for (int i = 1; i <= e->argCount; ++i) declared.insert(i);
    EXPECT_EQ(used, declared) << t;
    EXPECT_EQ(findMessage(e->set, e->number), e);
  }
  EXPECT_EQ(findMessage(854, 0), nullptr);
  EXPECT_EQ(findMessage(854, 999), nullptr);
  EXPECT_EQ(findMessage(0, 0), nullptr);
  EXPECT_EQ(findMessage(99999, 1), nullptr);
}

TEST(Catalog, EveryNumberTheProcedureWrites) {
  for (const host::Msg m : module::kModuleMessages) {
    EXPECT_NE(findMessage(m.set, m.number), nullptr) << m.set << "/" << m.number;
  }
  for (int number : {54, kMemoryMessage, kServiceFailedMessage}) {
    EXPECT_NE(findMessage(129, number), nullptr) << number;
  }
}

// Catalog texts the module writes as values, not as messages.
TEST(Catalog, TextsUsedAsValues) {
  const CatalogEntry* desc = findMessage(854, 211);
  ASSERT_NE(desc, nullptr);
  EXPECT_LE(std::strlen(desc->text), 32u);
  const CatalogEntry* label = findMessage(854, 241);
  ASSERT_NE(label, nullptr);
  EXPECT_LE(std::strlen(label->text), 256u);
  EXPECT_EQ(std::strchr(label->text, '"'), nullptr) << "written inside a quoted label";
  for (const CatalogEntry* e : {desc, label}) {
    EXPECT_EQ(e->severity, Severity::Note);
    EXPECT_EQ(e->argCount, 0);
  }
}

}  // namespace
}  // namespace qv::rt
