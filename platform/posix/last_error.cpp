// The calling thread's last error.
#include "win32_subset.h"

namespace {
thread_local DWORD lastError = 0;
}

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD error) {
    lastError = error;
}
