#pragma once

// Ctrl+C and SIGTERM during a run without a window: the handler only notes the
// request; the run control turns it into the cancel action at the next event,
// so the copy stops between blocks and never leaves a half-written file.

namespace qvb {

// Installs the handlers for SIGINT and SIGTERM (SIGPIPE is ignored, so a
// closed standard output does not kill a run in the middle of a copy).
void installCancelSignals();
bool cancelRequested();
// Forgets a request (tests; a new command-line run).
void clearCancelRequest();

}  // namespace qvb
