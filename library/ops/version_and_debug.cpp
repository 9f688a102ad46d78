// The library version record and the debug-print switch.
#include <cstddef>
#include <cstring>

#include "tqdev_lib_internal.h"
#include "tqdev_version.h"

namespace {

constexpr uint32_t kMajorVersion = TQDEV_VERSION_MAJOR;
constexpr uint32_t kMinorVersion = TQDEV_VERSION_MINOR;
constexpr const char *kVersionString = TQDEV_VERSION_STRING;

// The build stamp "hh:mm:ss, Mmm d yyyy". __DATE__ pads a one-digit day with a
// second blank ("Dec  9 2026"); the stamp keeps single blanks between parts.
struct BuildStamp {
    char text[24];
};

constexpr BuildStamp MakeBuildStamp() {
    constexpr char raw[] = __TIME__ ", " __DATE__;
    BuildStamp stamp{};
    size_t out = 0;
    for (size_t i = 0; raw[i] != '\0'; ++i) {
        if (raw[i] == ' ' && raw[i + 1] == ' ') {
            continue;
        }
        stamp.text[out++] = raw[i];
    }
    return stamp;
}

constexpr BuildStamp kBuildStamp = MakeBuildStamp();

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
    CopyText(version->BuildDate, kBuildStamp.text);
    return TQDEV_RESULT_OK;
}

uint32_t EnableDebugPrint(int32_t enable) {
    debugPrintEnabled.store(enable != 0 ? 1 : 0, std::memory_order_relaxed);
    TQDEV_DIAG("Debug print enabled\n");
    return TQDEV_RESULT_OK;
}
