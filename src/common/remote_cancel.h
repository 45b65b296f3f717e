// Work the process has started outside itself that a signal ending the run
// must stop first: the statement a database server runs for it (a server
// does not notice by itself that its client has gone while a statement
// runs).
#pragma once

namespace qv {

// Sets the routine that asks for that work to stop (one for the process;
// null: none). It must be safe to call from a signal handler on any thread.
void setRemoteCancel(void (*cancel)());

// Calls that routine, when one is set. Async-signal-safe: the signal
// handler calls it before it ends the run. It may wait for a server's
// answer (a PostgreSQL cancel request is one short connection).
void cancelRemoteWork();

}  // namespace qv
