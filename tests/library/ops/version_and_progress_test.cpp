// The version record, the debug-print switch and the progress record's
// completion rule.
#include <cstring>
#include <regex>
#include <string>

#include "ops_support.h"
#include "tqdev_lib.h"

namespace {

TEST(LibraryVersion, FillsRecordBeforeInitialisationWithZeroedTails) {
    TQDEV_LIBRARY_VERSION version;
    std::memset(&version, 0xCC, sizeof version);
    ASSERT_EQ(TqdevLibraryVersion(&version), TQDEV_RESULT_OK);
    EXPECT_EQ(version.MajorVersion, 2u);
    EXPECT_EQ(version.MinorVersion, 5u);
    EXPECT_STREQ(version.VersionString, "2.05");
    // Time first, then the month, day and year of the build.
    EXPECT_TRUE(std::regex_match(version.BuildDate,
                                 std::regex(R"(\d\d:\d\d:\d\d, [A-Z][a-z]{2} [ \d]\d \d{4})")))
        << version.BuildDate;
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
            EXPECT_TRUE(std::regex_match(
                output.out,
                std::regex(R"(\.\.\\\.\.\\tqdev_lib\.cpp:\d+ - Debug print enabled\n)")))
                << output.out;
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
