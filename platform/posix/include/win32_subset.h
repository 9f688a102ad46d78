// The subset of Win32 that the device-access module uses, for POSIX hosts.
// Types, constants and calls carry their Windows names, layouts and documented
// semantics; devices come from the virtual device manager of libtqsim.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define TQSIM_WIN32_API extern "C" __attribute__((visibility("default")))
#define WINAPI

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using CHAR = char;
using LPSTR = char *;
using LPCSTR = const char *;
using LPVOID = void *;
using LPCVOID = const void *;
using LPDWORD = DWORD *;
using LPBYTE = BYTE *;
using HANDLE = void *;
using HKEY = void *;
using HMODULE = void *;
using HINSTANCE = void *;
using HLOCAL = void *;
using HWND = void *;
using HDEVINFO = void *;
using LSTATUS = LONG;
using REGSAM = DWORD;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES *;

struct OVERLAPPED {
    ULONG_PTR Internal;     // completion status; pending while the call runs
    ULONG_PTR InternalHigh; // bytes transferred
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED *;

using LPTHREAD_START_ROUTINE = DWORD(WINAPI *)(LPVOID);

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA *;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA *;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_A = SP_DEVICE_INTERFACE_DETAIL_DATA_A *;

static_assert(sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);

// Errors
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_INCOMPLETE = 996;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_NOACCESS = 998;
constexpr DWORD ERROR_DEVICE_REMOVED = 1617;

// Waits
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// The completion status of an OVERLAPPED block whose call is still running.
constexpr ULONG_PTR STATUS_PENDING = 0x103;

// Windows has this as a macro reading Internal; the driver's completion may
// publish it from another thread.
inline bool HasOverlappedIoCompleted(const OVERLAPPED *overlapped) {
    auto &status = const_cast<ULONG_PTR &>(overlapped->Internal);
    return std::atomic_ref<ULONG_PTR>(status).load(std::memory_order_acquire) != STATUS_PENDING;
}

// Files
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

// Device installation services and registry
constexpr DWORD DIGCF_PRESENT = 0x2;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;
constexpr DWORD DICS_FLAG_GLOBAL = 0x1;
constexpr DWORD DIREG_DEV = 0x1;
constexpr REGSAM KEY_READ = 0x20019;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_QWORD = 11;

// Messages and modules
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x2;
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

// Heap
constexpr DWORD HEAP_ZERO_MEMORY = 0x8;

// libtqsim exports nothing but Tqsim names: the calls below keep their Windows
// names in source and link as TqsimWin<name>, so a host program that defines
// a GetLastError, Sleep or CloseHandle of its own cannot replace them.
#define CreateMutexA TqsimWinCreateMutexA
#define ReleaseMutex TqsimWinReleaseMutex
#define CreateEventA TqsimWinCreateEventA
#define SetEvent TqsimWinSetEvent
#define ResetEvent TqsimWinResetEvent
#define WaitForSingleObject TqsimWinWaitForSingleObject
#define CreateThread TqsimWinCreateThread
#define Sleep TqsimWinSleep
#define CloseHandle TqsimWinCloseHandle
#define GetLastError TqsimWinGetLastError
#define SetLastError TqsimWinSetLastError
#define GetProcessHeap TqsimWinGetProcessHeap
#define HeapAlloc TqsimWinHeapAlloc
#define HeapFree TqsimWinHeapFree
#define CreateFileA TqsimWinCreateFileA
#define DeviceIoControl TqsimWinDeviceIoControl
#define GetOverlappedResult TqsimWinGetOverlappedResult
#define SetupDiGetClassDevsA TqsimWinSetupDiGetClassDevsA
#define SetupDiEnumDeviceInterfaces TqsimWinSetupDiEnumDeviceInterfaces
#define SetupDiGetDeviceInterfaceDetailA TqsimWinSetupDiGetDeviceInterfaceDetailA
#define SetupDiOpenDevRegKey TqsimWinSetupDiOpenDevRegKey
#define SetupDiDestroyDeviceInfoList TqsimWinSetupDiDestroyDeviceInfoList
#define RegQueryValueExA TqsimWinRegQueryValueExA
#define RegCloseKey TqsimWinRegCloseKey
#define FormatMessageA TqsimWinFormatMessageA
#define LocalFree TqsimWinLocalFree
#define LoadLibraryExA TqsimWinLoadLibraryExA
#define FreeLibrary TqsimWinFreeLibrary
#define GetStdHandle TqsimWinGetStdHandle
#define WriteFile TqsimWinWriteFile

// Kernel objects
TQSIM_WIN32_API HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner,
                                           LPCSTR name);
TQSIM_WIN32_API BOOL WINAPI ReleaseMutex(HANDLE mutex);
TQSIM_WIN32_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                           BOOL initialState, LPCSTR name);
TQSIM_WIN32_API BOOL WINAPI SetEvent(HANDLE event);
TQSIM_WIN32_API BOOL WINAPI ResetEvent(HANDLE event);
TQSIM_WIN32_API DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
TQSIM_WIN32_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                           LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                           DWORD creationFlags, LPDWORD threadId);
TQSIM_WIN32_API void WINAPI Sleep(DWORD milliseconds);
TQSIM_WIN32_API BOOL WINAPI CloseHandle(HANDLE handle);
TQSIM_WIN32_API DWORD WINAPI GetLastError(void);
TQSIM_WIN32_API void WINAPI SetLastError(DWORD error);

// Heap
TQSIM_WIN32_API HANDLE WINAPI GetProcessHeap(void);
TQSIM_WIN32_API LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
TQSIM_WIN32_API BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

// Device files
TQSIM_WIN32_API HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                          LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                                          DWORD flags, HANDLE templateFile);
TQSIM_WIN32_API BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer,
                                            DWORD inSize, LPVOID outBuffer, DWORD outSize,
                                            LPDWORD bytesReturned, LPOVERLAPPED overlapped);
TQSIM_WIN32_API BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped,
                                                LPDWORD bytesTransferred, BOOL wait);

// Device installation services
TQSIM_WIN32_API HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *classGuid, LPCSTR enumerator,
                                                     HWND parent, DWORD flags);
TQSIM_WIN32_API BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                                        const GUID *interfaceClass,
                                                        DWORD memberIndex,
                                                        PSP_DEVICE_INTERFACE_DATA interfaceData);
TQSIM_WIN32_API BOOL WINAPI
SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                 LPDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo);
TQSIM_WIN32_API HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                                 DWORD scope, DWORD hwProfile, DWORD keyType,
                                                 REGSAM access);
TQSIM_WIN32_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);

// Registry
TQSIM_WIN32_API LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved,
                                                LPDWORD type, LPBYTE data, LPDWORD size);
TQSIM_WIN32_API LSTATUS WINAPI RegCloseKey(HKEY key);

// Messages, modules, standard handles
TQSIM_WIN32_API DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId,
                                            DWORD languageId, LPSTR buffer, DWORD size,
                                            va_list *arguments);
TQSIM_WIN32_API HLOCAL WINAPI LocalFree(HLOCAL memory);
TQSIM_WIN32_API HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
TQSIM_WIN32_API BOOL WINAPI FreeLibrary(HMODULE module);
TQSIM_WIN32_API HANDLE WINAPI GetStdHandle(DWORD which);
TQSIM_WIN32_API BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written,
                                      LPOVERLAPPED overlapped);
