// The platform of the device-access layer: the real Windows headers, or the
// Win32 subset of libtqsim on POSIX hosts. Nothing else differs between the two.
#pragma once

#ifdef _WIN32
#include <windows.h>
// windows.h must come first
#include <setupapi.h>
#else
#include "win32_subset.h"
#endif
