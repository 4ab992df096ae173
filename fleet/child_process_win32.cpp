// Windows has no fork: every run's child is started anew.
#include "ChildProcess.h"
#include "ExecChild.h"

std::unique_ptr<ChildProcess> ChildProcess::make(const Spec& spec) { return std::make_unique<ExecChild>(spec); }

// Never asked for on Windows; a launcher call ends at once as a usage error.
int serveForkedRuns(int (*)(int, char**)) { return 2; }
