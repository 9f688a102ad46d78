// Diagnostic output: the prefix, the messages, system texts on standard
// error, and silence while printing is off.
#include <string>

#include "library_fixture.h"
#include "nt_internal.h"

namespace {

using DiagnosticsTest = LibraryFixture;

const std::string kPrefix = "..\\tqdev_lib_nt.cpp:";

// Every line of out starts with the module's prefix "path:line - ".
void ExpectPrefixedLines(const std::string &out) {
    size_t start = 0;
    while (start < out.size()) {
        EXPECT_EQ(out.compare(start, kPrefix.size(), kPrefix), 0) << out.substr(start);
        size_t dash = out.find(" - ", start);
        ASSERT_NE(dash, std::string::npos);
        std::string line = out.substr(start + kPrefix.size(), dash - start - kPrefix.size());
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(line.find_first_not_of("0123456789"), std::string::npos) << line;
        size_t end = out.find('\n', start);
        // A message without a line end leaves the next prefix on its line.
        size_t nextPrefix = out.find(kPrefix, dash);
        if (nextPrefix != std::string::npos && (end == std::string::npos || nextPrefix < end)) {
            start = nextPrefix;
        } else {
            start = end == std::string::npos ? out.size() : end + 1;
        }
    }
}

// The whole inventory trace of one camera, in the order of the registry
// values; then the removal when it has gone.
TEST_F(DiagnosticsTest, InventoryIsTracedWhilePrintingIsOn) {
    uint32_t camera = PlugCamera();
    char path[512];
    ASSERT_EQ(TqsimDevicePath(camera, path, sizeof(path)), 0);
    debugPrintEnabled.store(1);
    CapturedOutput output;
    ASSERT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    output.Finish();
    const std::vector<std::string> added = {std::string("Device ") + path +
                                                " not on device list, adding...",
                                            "value: 1",
                                            "value: 2",
                                            "value: tqsim camera",
                                            "value: SIM00001",
                                            "value: 1",
                                            "value: 3",
                                            "value: 1.03",
                                            "value: 2026-11-30",
                                            "value: 2",
                                            "value: 5",
                                            "value: 2.05",
                                            "value: 2026-12-01"};
    EXPECT_EQ(Messages(output.out), added) << output.out;
    EXPECT_EQ(output.err, "");
    ExpectPrefixedLines(output.out);

    // Held, so that the notification thread's pass cannot remove it first.
    LockLibrary();
    ASSERT_EQ(TqsimUnplugCamera(camera), 0);
    CapturedOutput removal;
    EXPECT_EQ(EnumerateDevices(nullptr), TQDEV_RESULT_OK);
    UnlockLibrary();
    removal.Finish();
    EXPECT_EQ(Messages(removal.out), std::vector<std::string>{"Removing device"}) << removal.out;
}

TEST_F(DiagnosticsTest, FailedCallPrintsNameColonAndSystemText) {
    ASSERT_EQ(TqsimFailCall("CreateMutexA", 1, ERROR_NOT_ENOUGH_MEMORY), 0);
    debugPrintEnabled.store(1);
    CapturedOutput output;
    EXPECT_EQ(InitLibrary(), TQDEV_RESULT_SYSTEM_ERROR);
    output.Finish();
    size_t name = output.out.find(" - CreateMutex\n");
    ASSERT_NE(name, std::string::npos) << output.out;
    EXPECT_NE(output.out.find(" - : ", name), std::string::npos) << output.out;
    EXPECT_EQ(output.err, "Not enough memory resources are available to process this command.\r\n");
    ExpectPrefixedLines(output.out);
}

TEST_F(DiagnosticsTest, NothingIsWrittenWhilePrintingIsOff) {
    PlugCamera();
    ASSERT_EQ(TqsimFailCall("SetupDiGetClassDevsA", 1, ERROR_INVALID_PARAMETER), 0);
    CapturedOutput output;
    EXPECT_EQ(InitLibrary(), TQDEV_RESULT_SYSTEM_ERROR);
    EXPECT_EQ(InitLibrary(), TQDEV_RESULT_OK);
    EXPECT_EQ(OpenDevice(5), TQDEV_RESULT_INVALID_DEVICE);
    EXPECT_EQ(SubmitRequest(0, 25, nullptr, 0, nullptr, nullptr, nullptr),
              TQDEV_RESULT_DEVICE_NOT_OPEN);
    output.Finish();
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
}

TEST_F(DiagnosticsTest, UnknownErrorCodePrintsNothingOnStandardError) {
    CapturedOutput output;
    PrintSystemError(0x3FFFFFFF);
    output.Finish();
    EXPECT_EQ(output.err, "");
}

TEST_F(DiagnosticsTest, NetworkMessageModuleIsConsultedFor2100To2999Only) {
    struct Case {
        uint32_t code;
        bool consulted;
    };
    for (const Case &c :
         {Case{2099, false}, Case{2100, true}, Case{2999, true}, Case{3000, false}}) {
        // A pending failure of the module load is used up only by a lookup
        // that loads the module.
        ASSERT_EQ(TqsimFailCall("LoadLibraryExA", 1, 126), 0);
        CapturedOutput output;
        PrintSystemError(c.code);
        output.Finish();
        HMODULE module = LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_EQ(module != nullptr, c.consulted) << c.code;
        if (module != nullptr) {
            FreeLibrary(module);
        }
        TqsimClearFaults();
    }
}

TEST_F(DiagnosticsTest, NetworkTextsComeFromTheNetworkMessageModule) {
    CapturedOutput output;
    PrintSystemError(2102);
    output.Finish();
    EXPECT_EQ(output.err, "The workstation driver is not installed.\r\n");
}

} // namespace
