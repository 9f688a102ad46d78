// Result codes by name, and the tool's way of failing a command on one.
#pragma once

#include <cstdint>
#include <string>

// "TQDEV_RESULT_INVALID_DEVICE (16)"; a code the library never produces
// itself (a driver's own) reads "driver result 42".
std::string DescribeResult(uint32_t result);

// Prints "tqdev: <call>: <result>" on standard error unless result is
// TQDEV_RESULT_OK; for calls whose failure must not end the command (while a
// capture still writes into the command's buffers). Returns true on failure.
bool ReportFailure(const char *call, uint32_t result);

// Prints "tqdev: <call>: <result>" on standard error and ends the command
// with exit code 1 (throws CLI::RuntimeError, which main turns into the exit
// code after every guard on the way out has run).
[[noreturn]] void FailCommand(const char *call, uint32_t result);

// FailCommand unless result is TQDEV_RESULT_OK.
void CheckResult(const char *call, uint32_t result);
