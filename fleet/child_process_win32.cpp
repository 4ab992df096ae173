// Windows has no fork: every run's child is started anew.
#include "ChildProcess.h"
#include "ExecChild.h"

std::unique_ptr<ChildProcess> ChildProcess::make(const Setup& setup) { return std::make_unique<ExecChild>(setup); }

// Never asked for on Windows; a launcher call ends at once as a usage error.
int serveForkedRuns(int (*)(int, char**)) { return 2; }
