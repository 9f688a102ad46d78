// The handle table: every open handle names a shared kernel object.
#include <unordered_map>

#include "objects.h"
#include "tqsim.h"

namespace tqsim {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Multiples of 4 as on Windows, from 0x1000 on (the fixed heap and standard
    // handles lie below); never INVALID_HANDLE_VALUE, never reused,
    // so a stale handle is detected rather than naming a newer object.
    std::uintptr_t next = 0x1000;
};

HandleTable &Table() {
    static HandleTable table;
    return table;
}

std::uintptr_t Key(HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

bool ClosableByCloseHandle(ObjectKind kind) {
    return kind == ObjectKind::Mutex || kind == ObjectKind::Event || kind == ObjectKind::Thread ||
           kind == ObjectKind::File;
}

} // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable &table = Table();
    std::lock_guard guard(table.lock);
    std::uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookUpHandle(HANDLE handle, ObjectKind kind) {
    HandleTable &table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.objects.find(Key(handle));
    if (found == table.objects.end() || found->second->kind != kind) {
        return nullptr;
    }
    return found->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle, ObjectKind kind) {
    HandleTable &table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.objects.find(Key(handle));
    if (found == table.objects.end() || found->second->kind != kind) {
        return nullptr;
    }
    std::shared_ptr<KernelObject> object = std::move(found->second);
    table.objects.erase(found);
    return object;
}

std::shared_ptr<KernelObject> RemoveKernelHandle(HANDLE handle) {
    HandleTable &table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.objects.find(Key(handle));
    if (found == table.objects.end() || !ClosableByCloseHandle(found->second->kind)) {
        return nullptr;
    }
    std::shared_ptr<KernelObject> object = std::move(found->second);
    table.objects.erase(found);
    return object;
}

} // namespace tqsim

using namespace tqsim;

BOOL WINAPI CloseHandle(HANDLE handle) {
    DWORD error = 0;
    if (InjectedFault(Call::CloseHandle, &error)) {
        return FailWith(error, FALSE);
    }
    std::shared_ptr<KernelObject> object = RemoveKernelHandle(handle);
    if (!object) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (object->kind == ObjectKind::File) {
        CloseDeviceFile(static_cast<FileObject &>(*object));
    }
    return TRUE;
}

uint32_t TqsimOpenHandleCount(void) {
    HandleTable &table = Table();
    std::lock_guard guard(table.lock);
    return static_cast<uint32_t>(table.objects.size());
}
