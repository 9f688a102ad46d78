// Modules: only the network message module exists.
#include <cctype>
#include <cstring>

#include "objects.h"

using namespace tqsim;

namespace {

bool IsNetworkMessageModule(LPCSTR name) {
    constexpr const char *wanted = "netmsg.dll";
    if (name == nullptr || std::strlen(name) != std::strlen(wanted)) {
        return false;
    }
    // File names compare without regard to case.
    for (std::size_t i = 0; wanted[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != wanted[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD) {
    DWORD error = 0;
    if (InjectedFault(Call::LoadLibraryExA, &error)) {
        return FailWith<HMODULE>(error, nullptr);
    }
    if (file != nullptr) {
        return FailWith<HMODULE>(ERROR_INVALID_PARAMETER, nullptr);
    }
    // The network message module holds only messages, however it is loaded.
    if (!IsNetworkMessageModule(name)) {
        return FailWith<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
    }
    return InsertHandle(std::make_shared<ModuleObject>());
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    DWORD error = 0;
    if (InjectedFault(Call::FreeLibrary, &error)) {
        return FailWith(error, FALSE);
    }
    if (!RemoveHandle(module, ObjectKind::Module)) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}
