// Standard handles: unbuffered writes to the process's file descriptors.
#include <cerrno>
#include <unistd.h>

#include "objects.h"

using namespace tqsim;

namespace {

constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);

// Fixed values outside the handle table; they are never closed.
HANDLE const standardOutput = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x0F04));
HANDLE const standardError = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x0F08));

bool WriteAll(int fd, const char *data, DWORD bytes, DWORD *written) {
    *written = 0;
    while (*written < bytes) {
        ssize_t n = ::write(fd, data + *written, bytes - *written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        *written += static_cast<DWORD>(n);
    }
    return true;
}

} // namespace

HANDLE WINAPI GetStdHandle(DWORD which) {
    DWORD error = 0;
    if (InjectedFault(Call::GetStdHandle, &error)) {
        return FailWith(error, INVALID_HANDLE_VALUE);
    }
    if (which == STD_ERROR_HANDLE) {
        return standardError;
    }
    if (which == STD_OUTPUT_HANDLE) {
        return standardOutput;
    }
    return FailWith(ERROR_INVALID_HANDLE, INVALID_HANDLE_VALUE);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    DWORD error = 0;
    if (InjectedFault(Call::WriteFile, &error)) {
        return FailWith(error, FALSE);
    }
    if (file != standardError && file != standardOutput) {
        // Device files take only control calls.
        return FailWith(LookUpHandle(file, ObjectKind::File) ? ERROR_INVALID_FUNCTION
                                                             : ERROR_INVALID_HANDLE,
                        FALSE);
    }
    if (overlapped != nullptr || (buffer == nullptr && bytes != 0)) {
        return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    DWORD done = 0;
    const bool ok =
        WriteAll(file == standardError ? 2 : 1, static_cast<const char *>(buffer), bytes, &done);
    if (written != nullptr) {
        *written = done;
    }
    return ok ? TRUE : FailWith(ERROR_ACCESS_DENIED, FALSE);
}
