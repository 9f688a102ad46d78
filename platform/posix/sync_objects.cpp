// Mutexes, events and waiting on them (and on threads).
#include <algorithm>
#include <chrono>

#include "objects.h"

namespace tqsim {
namespace {

template <typename Ready>
bool WaitFor(std::unique_lock<std::mutex> &held, std::condition_variable &changed, DWORD ms,
             Ready ready) {
    if (ms == INFINITE) {
        changed.wait(held, ready);
        return true;
    }
    return changed.wait_for(held, std::chrono::milliseconds(ms), ready);
}

// The mutexes a thread owns. A thread that ends owning one abandons it, so
// that it is not held for ever, nor by a later thread that reuses the id.
struct OwnedMutexes {
    std::vector<std::weak_ptr<MutexObject>> mutexes;
    ~OwnedMutexes() { AbandonOwnedMutexes(); }
};

thread_local OwnedMutexes owned;

void Forget(const MutexObject &mutex) {
    std::erase_if(owned.mutexes, [&](const std::weak_ptr<MutexObject> &entry) {
        std::shared_ptr<MutexObject> held = entry.lock();
        return !held || held.get() == &mutex;
    });
}

DWORD WaitMutex(const std::shared_ptr<MutexObject> &mutex, DWORD ms) {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock held(mutex->lock);
    auto free = [&] { return mutex->owner == std::thread::id() || mutex->owner == self; };
    if (!WaitFor(held, mutex->changed, ms, free)) {
        return WAIT_TIMEOUT;
    }
    if (mutex->recursion++ == 0) {
        mutex->owner = self;
        owned.mutexes.push_back(mutex);
    }
    const DWORD result = mutex->abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    mutex->abandoned = false;
    return result;
}

DWORD WaitEvent(EventObject &event, DWORD ms) {
    std::unique_lock held(event.lock);
    if (!WaitFor(held, event.changed, ms, [&] { return event.signalled; })) {
        return WAIT_TIMEOUT;
    }
    if (!event.manualReset) {
        event.signalled = false; // an auto-reset event releases one waiter
    }
    return WAIT_OBJECT_0;
}

DWORD WaitThread(ThreadObject &thread, DWORD ms) {
    std::unique_lock held(thread.lock);
    return WaitFor(held, thread.changed, ms, [&] { return thread.ended; }) ? WAIT_OBJECT_0
                                                                           : WAIT_TIMEOUT;
}

// The waitable object behind a handle, of whichever kind it is.
std::shared_ptr<KernelObject> LookUpWaitable(HANDLE handle) {
    for (ObjectKind kind : {ObjectKind::Mutex, ObjectKind::Event, ObjectKind::Thread}) {
        if (auto object = LookUpHandle(handle, kind)) {
            return object;
        }
    }
    return nullptr;
}

} // namespace

void AbandonOwnedMutexes() {
    const std::thread::id self = std::this_thread::get_id();
    for (const std::weak_ptr<MutexObject> &entry : owned.mutexes) {
        std::shared_ptr<MutexObject> mutex = entry.lock();
        if (!mutex) {
            continue;
        }
        {
            std::lock_guard guard(mutex->lock);
            if (mutex->owner != self) {
                continue;
            }
            mutex->owner = std::thread::id();
            mutex->recursion = 0;
            mutex->abandoned = true;
        }
        mutex->changed.notify_all();
    }
    owned.mutexes.clear();
}

void SignalEvent(EventObject &event) {
    {
        std::lock_guard guard(event.lock);
        event.signalled = true;
    }
    event.changed.notify_all();
}

bool SetEventHandle(HANDLE handle) {
    auto event = LookUp<EventObject>(handle, ObjectKind::Event);
    if (!event) {
        return false;
    }
    SignalEvent(*event);
    return true;
}

bool ResetEventHandle(HANDLE handle) {
    auto event = LookUp<EventObject>(handle, ObjectKind::Event);
    if (!event) {
        return false;
    }
    std::lock_guard guard(event->lock);
    event->signalled = false;
    return true;
}

DWORD WaitHandle(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<KernelObject> object = LookUpWaitable(handle);
    if (!object) {
        return FailWith(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    // The reference taken above keeps the object alive even if another
    // thread closes the handle while this one waits, as on Windows.
    switch (object->kind) {
    case ObjectKind::Mutex:
        return WaitMutex(std::static_pointer_cast<MutexObject>(object), milliseconds);
    case ObjectKind::Event:
        return WaitEvent(static_cast<EventObject &>(*object), milliseconds);
    default:
        return WaitThread(static_cast<ThreadObject &>(*object), milliseconds);
    }
}

} // namespace tqsim

using namespace tqsim;

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    DWORD error = 0;
    if (InjectedFault(Call::CreateMutexA, &error)) {
        return FailWith<HANDLE>(error, nullptr);
    }
    if (name != nullptr) {
        return FailWith<HANDLE>(ERROR_INVALID_PARAMETER, nullptr); // named objects: not modelled
    }
    auto mutex = std::make_shared<MutexObject>();
    if (initialOwner) {
        mutex->owner = std::this_thread::get_id();
        mutex->recursion = 1;
        owned.mutexes.push_back(mutex);
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::move(mutex));
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
    DWORD error = 0;
    if (InjectedFault(Call::ReleaseMutex, &error)) {
        return FailWith(error, FALSE);
    }
    auto mutex = LookUp<MutexObject>(handle, ObjectKind::Mutex);
    if (!mutex) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    {
        std::lock_guard guard(mutex->lock);
        if (mutex->owner != std::this_thread::get_id()) {
            return FailWith(ERROR_NOT_OWNER, FALSE);
        }
        if (--mutex->recursion > 0) {
            return TRUE;
        }
        mutex->owner = std::thread::id();
    }
    Forget(*mutex);
    mutex->changed.notify_all();
    return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    DWORD error = 0;
    if (InjectedFault(Call::CreateEventA, &error)) {
        return FailWith<HANDLE>(error, nullptr);
    }
    if (name != nullptr) {
        return FailWith<HANDLE>(ERROR_INVALID_PARAMETER, nullptr); // named objects: not modelled
    }
    auto event = std::make_shared<EventObject>();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::move(event));
}

BOOL WINAPI SetEvent(HANDLE handle) {
    DWORD error = 0;
    if (InjectedFault(Call::SetEvent, &error)) {
        return FailWith(error, FALSE);
    }
    return SetEventHandle(handle) ? TRUE : FailWith(ERROR_INVALID_HANDLE, FALSE);
}

BOOL WINAPI ResetEvent(HANDLE handle) {
    DWORD error = 0;
    if (InjectedFault(Call::ResetEvent, &error)) {
        return FailWith(error, FALSE);
    }
    return ResetEventHandle(handle) ? TRUE : FailWith(ERROR_INVALID_HANDLE, FALSE);
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    DWORD error = 0;
    if (InjectedFault(Call::WaitForSingleObject, &error)) {
        return FailWith(error, WAIT_FAILED);
    }
    return WaitHandle(handle, milliseconds);
}
