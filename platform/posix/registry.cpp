// Registry values of a device key. Queries return their error code and leave
// the last error alone.
#include <cstring>

#include "objects.h"

namespace tqsim {
namespace {

// Value names compare without regard to case, as in the registry.
bool SameName(const std::string &stored, LPCSTR name) {
    const char *wanted = name == nullptr ? "" : name;
    if (stored.size() != std::strlen(wanted)) {
        return false;
    }
    for (std::size_t i = 0; i < stored.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(stored[i]) != lower(wanted[i])) {
            return false;
        }
    }
    return true;
}

const RegistryValue *FindValue(const RegistryKeyObject &key, LPCSTR name) {
    for (const RegistryValue &value : key.values) {
        if (SameName(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

} // namespace
} // namespace tqsim

using namespace tqsim;

LSTATUS WINAPI RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size) {
    DWORD error = 0;
    if (InjectedFault(Call::RegQueryValueExA, &error)) {
        return static_cast<LSTATUS>(error);
    }
    auto key = LookUp<RegistryKeyObject>(handle, ObjectKind::RegistryKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    if (reserved != nullptr || (data != nullptr && size == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    const RegistryValue *value = FindValue(*key, name);
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    const DWORD needed = static_cast<DWORD>(value->data.size());
    if (type != nullptr) {
        *type = value->type;
    }
    if (data != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed > 0) {
        std::memcpy(data, value->data.data(), needed);
    }
    if (size != nullptr) {
        *size = needed;
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY handle) {
    DWORD error = 0;
    if (InjectedFault(Call::RegCloseKey, &error)) {
        return static_cast<LSTATUS>(error);
    }
    return RemoveHandle(handle, ObjectKind::RegistryKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
