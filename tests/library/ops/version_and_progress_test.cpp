// The version record, the debug-print switch and the progress record's
// completion rule.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "ops_support.h"
#include "tqdev_lib.h"

namespace {

// "hh:mm:ss, Mmm d yyyy" or "hh:mm:ss, Mmm dd yyyy": single blanks only.
bool IsBuildStamp(const std::string &text) {
    const std::string shape = text.size() == 20 ? "99:99:99, Aaa 9 9999" : "99:99:99, Aaa 99 9999";
    if (text.size() != shape.size()) {
        return false;
    }
    for (size_t i = 0; i < shape.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool fits = shape[i] == '9'   ? std::isdigit(c) != 0
                    : shape[i] == 'A' ? std::isupper(c) != 0
                    : shape[i] == 'a' ? std::islower(c) != 0
                                      : c == static_cast<unsigned char>(shape[i]);
        if (!fits) {
            return false;
        }
    }
    return true;
}

// One diagnostic of this module: prefix with a line number, then the message.
bool IsDiagnostic(const std::string &text, const std::string &message) {
    const std::string prefix = "..\\..\\tqdev_lib.cpp:";
    const std::string tail = " - " + message;
    if (text.size() <= prefix.size() + tail.size() || text.rfind(prefix, 0) != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    std::string line = text.substr(prefix.size(), text.size() - prefix.size() - tail.size());
    return std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TEST(LibraryVersion, FillsRecordBeforeInitialisationWithZeroedTails) {
    TQDEV_LIBRARY_VERSION version;
    std::memset(&version, 0xCC, sizeof version);
    ASSERT_EQ(TqdevLibraryVersion(&version), TQDEV_RESULT_OK);
    EXPECT_EQ(version.MajorVersion, 2u);
    EXPECT_EQ(version.MinorVersion, 5u);
    EXPECT_STREQ(version.VersionString, "2.05");
    // Time first, then the month, day and year of the build.
    EXPECT_TRUE(IsBuildStamp(version.BuildDate)) << version.BuildDate;
    for (const char *text : {version.VersionString, version.BuildDate}) {
        for (size_t i = std::strlen(text); i < 40; ++i) {
            EXPECT_EQ(text[i], 0) << "byte " << i << " behind " << text;
        }
    }
}

TEST(LibraryVersion, NullRecordIsRefused) {
    EXPECT_EQ(TqdevLibraryVersion(nullptr), TQDEV_RESULT_INVALID_PARAMETER);
}

TEST(DebugPrint, SwitchingOnAnnouncesItselfAndOffIsSilent) {
    struct Case {
        int32_t enable;
        bool announced;
    };
    for (Case c : {Case{1, true}, Case{-7, true}, Case{0, false}}) {
        CapturedOutput output;
        EXPECT_EQ(TqdevEnableDebugPrint(c.enable), TQDEV_RESULT_OK);
        output.Finish();
        EXPECT_EQ(DebugPrintOn(), c.enable != 0);
        if (c.announced) {
            EXPECT_TRUE(IsDiagnostic(output.out, "Debug print enabled\n")) << output.out;
        } else {
            EXPECT_EQ(output.out, "");
        }
        EXPECT_EQ(output.err, "");
    }
    TqdevEnableDebugPrint(0);
}

struct CallbackSeen {
    int calls = 0;
    uint32_t result = 0;
    uint64_t userData = 0;
    TQDEV_PROGRESS *record = nullptr;
    TQDEV_PROGRESS atCall{};
};

CallbackSeen seen;

void TQDEV_CALL RecordCallback(uint32_t result, uint64_t userData) {
    seen.calls += 1;
    seen.result = result;
    seen.userData = userData;
    seen.atCall = *seen.record;
}

TEST(CompleteProgress, WritesFieldsThenCallsBackAndKeepsReserved) {
    TQDEV_PROGRESS record{};
    record.Percent = 40;
    record.reserved = 0xDEADBEEF;
    record.Callback = RecordCallback;
    record.UserData = 0x1122334455667788ull;
    seen = CallbackSeen{};
    seen.record = &record;
    CompleteProgress(&record, 0x1234);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.result, 0x1234u);
    EXPECT_EQ(seen.userData, 0x1122334455667788ull);
    // The callback already finds the record final.
    EXPECT_EQ(seen.atCall.Done, 1u);
    EXPECT_EQ(seen.atCall.Percent, 100u);
    EXPECT_EQ(seen.atCall.Result, 0x1234u);
    EXPECT_EQ(record.reserved, 0xDEADBEEFu);

    TQDEV_PROGRESS silent{};
    CompleteProgress(&silent, 7);
    EXPECT_EQ(silent.Done, 1u);
    EXPECT_EQ(silent.Result, 7u);
    CompleteProgress(nullptr, 7); // nothing to complete
}

} // namespace
