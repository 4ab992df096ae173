#include "LedgerSync.h"

namespace {
ledger::FileSync replacement;
}

void ledger::setFileSync(FileSync sync) { replacement = std::move(sync); }

bool ledger::syncFile(std::intptr_t handle) { return replacement ? replacement(handle) : systemFileSync(handle); }
