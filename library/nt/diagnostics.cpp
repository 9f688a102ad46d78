// The debug-print switch and the printer of system error texts.
#include "nt_internal.h"

std::atomic<uint32_t> debugPrintEnabled{0};

namespace {

constexpr DWORD kMessageFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kUserDefaultLanguage = 0x400;
constexpr uint32_t kFirstNetworkError = 2100;
constexpr uint32_t kLastNetworkError = 2999;

} // namespace

void PrintSystemError(uint32_t error) {
    DWORD flags = kMessageFlags;
    HMODULE networkMessages = nullptr;
    // Network errors have their texts in the network message module only.
    if (error >= kFirstNetworkError && error <= kLastNetworkError) {
        networkMessages = LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (networkMessages != nullptr) {
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
        }
    }
    char *text = nullptr;
    DWORD length = FormatMessageA(flags, networkMessages, error, kUserDefaultLanguage,
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length != 0) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, length, &written, nullptr);
        LocalFree(text);
    }
    if (networkMessages != nullptr) {
        FreeLibrary(networkMessages);
    }
}
