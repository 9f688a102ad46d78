// System error texts, the network message module and standard error.
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "test_driver.h"
#include "win32_subset.h"

namespace {

using test::PlatformTest;
using Messages = PlatformTest;

constexpr DWORD systemFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;

// The text FormatMessageA gives, or "" with its last error when it fails.
std::string Text(DWORD code, HMODULE module = nullptr, DWORD *error = nullptr) {
    char *buffer = nullptr;
    const DWORD flags = module != nullptr ? systemFlags | FORMAT_MESSAGE_FROM_HMODULE : systemFlags;
    DWORD length =
        FormatMessageA(flags, module, code, 0x400, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (error != nullptr) {
        *error = length == 0 ? GetLastError() : 0;
    }
    if (length == 0) {
        EXPECT_EQ(buffer, nullptr);
        return "";
    }
    std::string text(buffer, length);
    EXPECT_EQ(LocalFree(buffer), nullptr);
    return text;
}

TEST_F(Messages, SystemTextsAreWindowsOwnWording) {
    struct Case {
        DWORD code;
        const char *text;
    };
    const Case cases[] = {
        {2, "The system cannot find the file specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {6, "The handle is invalid.\r\n"},
        {8, "Not enough memory resources are available to process this command.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {122, "The data area passed to a system call is too small.\r\n"},
        {259, "No more data is available.\r\n"},
        {995, "The I/O operation has been aborted because of either a thread exit or an "
              "application request.\r\n"},
        {996, "Overlapped I/O event is not in a signaled state.\r\n"},
        {997, "Overlapped I/O operation is in progress.\r\n"},
        {998, "Invalid access to memory location.\r\n"},
        {1617, "The device has been removed.\r\n"},
        {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Text(c.code), c.text) << c.code;
    }
}

TEST_F(Messages, NetworkTextsComeOnlyFromTheModule) {
    HMODULE netmsg = LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(netmsg, nullptr);
    struct Case {
        DWORD code;
        const char *withModule;
        const char *systemOnly; // "" when the system has no text
    };
    const Case cases[] = {
        {2102, "The workstation driver is not installed.\r\n", ""},
        {2221, "The user name could not be found.\r\n", ""},
        {2250, "The network connection could not be found.\r\n",
         "This network connection does not exist.\r\n"},
        {2, "The system cannot find the file specified.\r\n",
         "The system cannot find the file specified.\r\n"},
        {2999, "", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Text(c.code, netmsg), c.withModule) << c.code;
        EXPECT_EQ(Text(c.code), c.systemOnly) << c.code;
    }
    EXPECT_TRUE(FreeLibrary(netmsg));
    EXPECT_FALSE(FreeLibrary(netmsg));
}

TEST_F(Messages, CodeWithoutTextGivesZeroLength) {
    for (DWORD code : {4u, 2099u, 3000u, 0x20000000u}) {
        DWORD error = 0;
        EXPECT_EQ(Text(code, nullptr, &error), "") << code;
        EXPECT_EQ(error, 317u) << code;
    }
}

TEST_F(Messages, OnlyTheNetworkModuleLoads) {
    EXPECT_EQ(LoadLibraryExA("kernel32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), 126u);
    HMODULE netmsg = LoadLibraryExA("NetMsg.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(netmsg, nullptr);
    EXPECT_TRUE(FreeLibrary(netmsg));
}

TEST_F(Messages, WriteFileOnStandardErrorIsUnbuffered) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const int savedStderr = dup(2);
    dup2(pipeFds[1], 2);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    const BOOL ok = WriteFile(err, "abc\r\n", 5, &written, nullptr);
    dup2(savedStderr, 2);
    close(savedStderr);
    close(pipeFds[1]);
    char got[16] = {};
    const ssize_t n = read(pipeFds[0], got, sizeof(got));
    close(pipeFds[0]);
    EXPECT_TRUE(ok);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(std::string(got, n > 0 ? n : 0), "abc\r\n");
}

} // namespace
