// Diagnostic output: written only while debug printing is on, as the prefix
// "path:line - " and then the message, two writes to standard output. The
// build defines TQDEV_MODULE_PATH for each module's target: the source path
// that its sites print.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

// The process-wide debug-print switch, off at load.
extern std::atomic<uint32_t> debugPrintEnabled;

inline bool DebugPrintOn() {
    return debugPrintEnabled.load(std::memory_order_relaxed) != 0;
}

void PrintSystemError(uint32_t error);

#define TQDEV_DIAG(...)                                                                            \
    do {                                                                                           \
        if (DebugPrintOn()) {                                                                      \
            std::printf("%s:%d - ", TQDEV_MODULE_PATH, __LINE__);                                  \
            std::printf(__VA_ARGS__);                                                              \
        }                                                                                          \
    } while (0)

// A failed platform call: its name, then ": ", then the system's text for the
// error on standard error.
#define TQDEV_REPORT_FAILED_CALL(name, error)                                                      \
    do {                                                                                           \
        if (DebugPrintOn()) {                                                                      \
            uint32_t failedCallError_ = (error);                                                   \
            TQDEV_DIAG(name);                                                                      \
            TQDEV_DIAG(": ");                                                                      \
            PrintSystemError(failedCallError_);                                                    \
        }                                                                                          \
    } while (0)
