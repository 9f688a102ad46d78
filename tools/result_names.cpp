#include "result_names.h"

#include <cstdio>

#include <CLI/CLI.hpp>

#include "tqdev.h"

std::string DescribeResult(uint32_t result) {
    if (const char *name = TqdevResultName(result)) {
        return std::string(name) + " (" + std::to_string(result) + ")";
    }
    return "driver result " + std::to_string(result);
}

bool ReportFailure(const char *call, uint32_t result) {
    if (result == TQDEV_RESULT_OK) {
        return false;
    }
    std::fprintf(stderr, "tqdev: %s: %s\n", call, DescribeResult(result).c_str());
    return true;
}

void FailCommand(const char *call, uint32_t result) {
    ReportFailure(call, result);
    throw CLI::RuntimeError(1);
}

void CheckResult(const char *call, uint32_t result) {
    if (result != TQDEV_RESULT_OK) {
        FailCommand(call, result);
    }
}
