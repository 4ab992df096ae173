#include "LedgerSync.h"

#include <atomic>

namespace {
constexpr std::chrono::milliseconds kLockPatience{3000};
ledger::FileSync replacement;
std::atomic<long long> patienceMs{kLockPatience.count()};
}

void ledger::setFileSync(FileSync sync) { replacement = std::move(sync); }

bool ledger::syncFile(std::intptr_t handle) { return replacement ? replacement(handle) : systemFileSync(handle); }

void ledger::setLockPatience(std::chrono::milliseconds patience) {
    patienceMs = patience.count() > 0 ? patience.count() : kLockPatience.count();
}

std::chrono::milliseconds ledger::lockPatience() { return std::chrono::milliseconds(patienceMs.load()); }
