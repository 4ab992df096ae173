#include "LedgerSync.h"

#include <atomic>

namespace {
constexpr std::chrono::milliseconds kLockPatience{3000};
ledger::FileSync replacement;
std::atomic<long long> patienceMs{kLockPatience.count()};
std::atomic<bool> hurriedFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "hurry() is called from signal handlers");
}

void ledger::setFileSync(FileSync sync) { replacement = std::move(sync); }

bool ledger::syncFile(std::intptr_t handle) { return replacement ? replacement(handle) : systemFileSync(handle); }

void ledger::setLockPatience(std::chrono::milliseconds patience) {
    patienceMs = patience.count() > 0 ? patience.count() : kLockPatience.count();
}

std::chrono::milliseconds ledger::lockPatience() { return std::chrono::milliseconds(patienceMs.load()); }

void ledger::hurry(bool on) { hurriedFlag.store(on); }

bool ledger::hurried() { return hurriedFlag.load(); }
