// Events, mutexes, threads, waits and the last error.
#include "test_driver.h"
#include "win32_subset.h"

namespace {

using test::PlatformTest;
using SyncObjects = PlatformTest;

struct EventCase {
    const char *name;
    BOOL manualReset;
    BOOL initialState;
    DWORD firstWait, secondWait; // after SetEvent (or the initial state)
    bool setFirst;
};

TEST_F(SyncObjects, EventsResetAsCreated) {
    const EventCase cases[] = {
        {"auto, set", FALSE, FALSE, WAIT_OBJECT_0, WAIT_TIMEOUT, true},
        {"manual, set", TRUE, FALSE, WAIT_OBJECT_0, WAIT_OBJECT_0, true},
        {"auto, initially signalled", FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT, false},
        {"manual, initially signalled", TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0, false},
        {"auto, never set", FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT, false},
    };
    for (const EventCase &c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE event = CreateEventA(nullptr, c.manualReset, c.initialState, nullptr);
        ASSERT_NE(event, nullptr);
        if (c.setFirst) {
            EXPECT_TRUE(SetEvent(event));
        }
        EXPECT_EQ(WaitForSingleObject(event, 0), c.firstWait);
        EXPECT_EQ(WaitForSingleObject(event, 1), c.secondWait);
        EXPECT_TRUE(ResetEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(CloseHandle(event));
    }
}

struct MutexProbe {
    HANDLE mutex;
    DWORD wait = 0;
    BOOL released = TRUE;
    DWORD releaseError = 0;
};

DWORD WINAPI ProbeMutex(LPVOID parameter) {
    auto *probe = static_cast<MutexProbe *>(parameter);
    probe->released = ReleaseMutex(probe->mutex);
    probe->releaseError = GetLastError();
    probe->wait = WaitForSingleObject(probe->mutex, 10);
    if (probe->wait == WAIT_OBJECT_0) {
        ReleaseMutex(probe->mutex);
    }
    return 0;
}

MutexProbe ProbeFromOtherThread(HANDLE mutex) {
    MutexProbe probe{mutex};
    HANDLE thread = CreateThread(nullptr, 0, ProbeMutex, &probe, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    return probe;
}

TEST_F(SyncObjects, MutexIsOwnedRecursivelyAndOnlyItsOwnerReleasesIt) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // owner again: recursion 2

    MutexProbe held = ProbeFromOtherThread(mutex);
    EXPECT_FALSE(held.released);
    EXPECT_EQ(held.releaseError, 288u);
    EXPECT_EQ(held.wait, WAIT_TIMEOUT);

    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(ProbeFromOtherThread(mutex).wait, WAIT_TIMEOUT); // still held once
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(ProbeFromOtherThread(mutex).wait, WAIT_OBJECT_0);

    EXPECT_FALSE(ReleaseMutex(mutex)); // not owned by anyone
    EXPECT_EQ(GetLastError(), 288u);
    EXPECT_TRUE(CloseHandle(mutex));
}

DWORD WINAPI TakeAndEnd(LPVOID mutex) {
    return WaitForSingleObject(mutex, 0);
}

TEST_F(SyncObjects, MutexOfAnEndedOwnerIsAbandonedToTheNextWaiter) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, TakeAndEnd, mutex, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);
    EXPECT_EQ(ProbeFromOtherThread(mutex).wait, WAIT_TIMEOUT); // now owned here
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // reported once
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(mutex));
}

struct Gate {
    HANDLE go;
};

DWORD WINAPI WaitForGo(LPVOID parameter) {
    auto *gate = static_cast<Gate *>(parameter);
    WaitForSingleObject(gate->go, INFINITE);
    return 42;
}

TEST_F(SyncObjects, ThreadHandleIsSignalledOnceTheRoutineHasReturned) {
    Gate gate{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, WaitForGo, &gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(TqsimRunningThreadCount(), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    SetEvent(gate.go);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    // Lowered before the handle was signalled.
    EXPECT_EQ(TqsimRunningThreadCount(), 0u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0); // stays signalled
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(gate.go));
}

TEST_F(SyncObjects, ClosingAThreadHandleEarlyLeavesTheThreadRunning) {
    Gate gate{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, WaitForGo, &gate, 0, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_EQ(TqsimRunningThreadCount(), 1u);
    SetEvent(gate.go);
    while (TqsimRunningThreadCount() != 0) {
        Sleep(1);
    }
    EXPECT_TRUE(CloseHandle(gate.go));
}

struct LastErrorProbe {
    DWORD value;
    DWORD before = 0xFFFFFFFF;
    DWORD after = 0;
};

DWORD WINAPI SetOwnLastError(LPVOID parameter) {
    auto *probe = static_cast<LastErrorProbe *>(parameter);
    probe->before = GetLastError();
    SetLastError(probe->value);
    Sleep(5);
    probe->after = GetLastError();
    return 0;
}

TEST_F(SyncObjects, LastErrorIsPerThread) {
    SetLastError(1234);
    LastErrorProbe probes[4] = {{7}, {8}, {9}, {10}};
    HANDLE threads[4];
    for (int i = 0; i < 4; ++i) {
        threads[i] = CreateThread(nullptr, 0, SetOwnLastError, &probes[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(WaitForSingleObject(threads[i], INFINITE), WAIT_OBJECT_0);
        CloseHandle(threads[i]);
        EXPECT_EQ(probes[i].before, 0u) << "a new thread starts without an error";
        EXPECT_EQ(probes[i].after, probes[i].value);
    }
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST_F(SyncObjects, StaleAndForeignHandlesAreRefused) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    struct Refusal {
        const char *name;
        bool failed;
    };
    const Refusal refusals[] = {
        {"CloseHandle twice", !CloseHandle(event)},
        {"SetEvent on closed", !SetEvent(event)},
        {"wait on closed", WaitForSingleObject(event, 0) == WAIT_FAILED},
        {"CloseHandle(INVALID_HANDLE_VALUE)", !CloseHandle(INVALID_HANDLE_VALUE)},
        {"ReleaseMutex on an event", !ReleaseMutex(event)},
    };
    for (const Refusal &r : refusals) {
        EXPECT_TRUE(r.failed) << r.name;
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_FALSE(SetEvent(mutex)); // a mutex is not an event
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(SyncObjects, HeapBlocksAreZeroedCountedAndFreedOnce) {
    HANDLE heap = GetProcessHeap();
    auto *block = static_cast<unsigned char *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(TqsimHeapBlockCount(), blocks + 1);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_FALSE(HeapFree(heap, 0, block)); // freed already
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

} // namespace
