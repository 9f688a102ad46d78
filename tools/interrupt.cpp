#include "interrupt.h"

#include <algorithm>
#include <atomic>
#include <signal.h>
#include <thread>

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

void OnInterrupt(int) {
    interrupted.store(true);
}

} // namespace

void CatchInterrupt() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() {
    return interrupted.load();
}

bool SleepUnlessInterrupted(std::chrono::milliseconds duration) {
    // Short naps keep the reaction to Ctrl-C quick without waking often.
    constexpr std::chrono::milliseconds kNap{20};
    const auto end = std::chrono::steady_clock::now() + duration;
    while (!Interrupted()) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return false;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kNap));
    }
    return true;
}
