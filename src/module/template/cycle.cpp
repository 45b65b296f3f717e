#include "module/template/cycle.h"

#include "module/grammar/grammar.h"

namespace qv::module {

int checkAutoCycle(const host::StatementList& list) {
  int count = 0;
  Stmt first = Stmt::Count;
  for (const host::Statement& node : list.nodes) {
    const Stmt kind = statementKind(node);
    if (!isPlotStatement(kind)) continue;
    if (count == 0) first = kind;
    else if (kind != first) return 0;
    ++count;
  }
  return count >= 2 ? 1 : 0;
}

}  // namespace qv::module
