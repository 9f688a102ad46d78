// The library version record and the debug-print switch.
#include <cstring>

#include "tqdev_lib_internal.h"

namespace {

constexpr uint32_t kMajorVersion = 2;
constexpr uint32_t kMinorVersion = 5;
constexpr const char *kVersionString = "2.05";
constexpr const char *kBuildStamp = __TIME__ ", " __DATE__;

// At most 39 characters, so the field stays terminated.
void CopyText(char (&field)[40], const char *text) {
    std::strncpy(field, text, sizeof field - 1);
}

} // namespace

uint32_t LibraryVersion(TQDEV_LIBRARY_VERSION *version) {
    if (version == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    std::memset(version, 0, sizeof *version);
    version->MajorVersion = kMajorVersion;
    version->MinorVersion = kMinorVersion;
    CopyText(version->VersionString, kVersionString);
    CopyText(version->BuildDate, kBuildStamp);
    return TQDEV_RESULT_OK;
}

uint32_t EnableDebugPrint(int32_t enable) {
    debugPrintEnabled.store(enable != 0 ? 1 : 0, std::memory_order_relaxed);
    TQDEV_DIAG("Debug print enabled\n");
    return TQDEV_RESULT_OK;
}
