#include "module/entry/entry.h"
#include "module/grammar/grammar.h"
#include "module/host/statements.h"

namespace qv::module {

// The step driver: parses the step; the translators come later.
host::Status qortavlo() {
  host::Host& h = host::host();
  ParseWork work;
  host::Status rc = xinit(work);
  host::StatementList list;
  if (rc == 0 && tavlog(work)) rc = xsparse(work, work.traceFlags, &list);
  if (rc == 0 && list.errors > 0) rc = host::kUserError;
  h.xexit(rc);
  return rc;
}

}  // namespace qv::module
