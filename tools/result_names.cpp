#include "result_names.h"

#include <cstdio>

#include <CLI/CLI.hpp>

#include "tqdev.h"

namespace {

struct ResultName {
    uint32_t code;
    const char *name;
};

constexpr ResultName kResultNames[] = {
    {TQDEV_RESULT_OK, "TQDEV_RESULT_OK"},
    {TQDEV_RESULT_INVALID_PARAMETER, "TQDEV_RESULT_INVALID_PARAMETER"},
    {TQDEV_RESULT_SYSTEM_ERROR, "TQDEV_RESULT_SYSTEM_ERROR"},
    {TQDEV_RESULT_INVALID_BUFFER, "TQDEV_RESULT_INVALID_BUFFER"},
    {TQDEV_RESULT_CANCELLED, "TQDEV_RESULT_CANCELLED"},
    {TQDEV_RESULT_DEVICE_NOT_FOUND, "TQDEV_RESULT_DEVICE_NOT_FOUND"},
    {TQDEV_RESULT_DEVICE_NOT_OPEN, "TQDEV_RESULT_DEVICE_NOT_OPEN"},
    {TQDEV_RESULT_DEVICE_ALREADY_OPEN, "TQDEV_RESULT_DEVICE_ALREADY_OPEN"},
    {TQDEV_RESULT_OPEN_FAILED, "TQDEV_RESULT_OPEN_FAILED"},
    {TQDEV_RESULT_OUT_OF_MEMORY, "TQDEV_RESULT_OUT_OF_MEMORY"},
    {TQDEV_RESULT_INVALID_DEVICE, "TQDEV_RESULT_INVALID_DEVICE"},
    {TQDEV_RESULT_NOT_INITIALIZED, "TQDEV_RESULT_NOT_INITIALIZED"},
    {TQDEV_RESULT_LIVE_FOCUS_STOPPED, "TQDEV_RESULT_LIVE_FOCUS_STOPPED"},
};

} // namespace

std::string DescribeResult(uint32_t result) {
    for (const ResultName &entry : kResultNames) {
        if (entry.code == result) {
            return std::string(entry.name) + " (" + std::to_string(result) + ")";
        }
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
