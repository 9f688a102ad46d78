// System error texts (FormatMessageA), the network message module and the
// buffers FormatMessageA allocates (LocalFree).
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "objects.h"

namespace tqsim {
namespace {

struct Message {
    DWORD code;
    std::string_view text;
};

// The system's own wording, line end included.
constexpr Message systemMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {234, "More data is available.\r\n"},
    {258, "The wait operation timed out.\r\n"},
    {259, "No more data is available.\r\n"},
    {288, "Attempt to release mutex not owned by caller.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for "
          "%2.\r\n"},
    {995, "The I/O operation has been aborted because of either a thread exit or an application "
          "request.\r\n"},
    {996, "Overlapped I/O event is not in a signaled state.\r\n"},
    {997, "Overlapped I/O operation is in progress.\r\n"},
    {998, "Invalid access to memory location.\r\n"},
    {1617, "The device has been removed.\r\n"},
    {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    {2250, "This network connection does not exist.\r\n"},
};

// The network message module's table. Where a code has a text in both, the
// module's wording wins when it is searched.
constexpr Message networkMessages[] = {
    {2102, "The workstation driver is not installed.\r\n"},
    {2221, "The user name could not be found.\r\n"},
    {2250, "The network connection could not be found.\r\n"},
};

template <std::size_t N> const Message *Find(const Message (&table)[N], DWORD code) {
    for (const Message &message : table) {
        if (message.code == code) {
            return &message;
        }
    }
    return nullptr;
}

struct LocalBlocks {
    std::mutex lock;
    std::unordered_set<void *> live;
};

LocalBlocks &Locals() {
    static LocalBlocks blocks;
    return blocks;
}

char *LocalAllocText(std::string_view text) {
    auto *block = static_cast<char *>(std::malloc(text.size() + 1));
    if (block == nullptr) {
        return nullptr;
    }
    std::memcpy(block, text.data(), text.size());
    block[text.size()] = '\0';
    LocalBlocks &locals = Locals();
    std::lock_guard guard(locals.lock);
    locals.live.insert(block);
    return block;
}

// Finds the text as FormatMessageA searches: the module first, then the system.
DWORD LookUpText(DWORD flags, LPCVOID source, DWORD code, std::string_view *text) {
    const Message *found = nullptr;
    if ((flags & FORMAT_MESSAGE_FROM_HMODULE) != 0 && source != nullptr) {
        if (!LookUpHandle(const_cast<void *>(source), ObjectKind::Module)) {
            return ERROR_INVALID_HANDLE;
        }
        found = Find(networkMessages, code);
    }
    if (found == nullptr && (flags & FORMAT_MESSAGE_FROM_SYSTEM) != 0) {
        found = Find(systemMessages, code);
    }
    if (found == nullptr) {
        return ERROR_MR_MID_NOT_FOUND;
    }
    *text = found->text;
    return ERROR_SUCCESS;
}

} // namespace
} // namespace tqsim

using namespace tqsim;

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD, LPSTR buffer,
                            DWORD size, va_list *) {
    DWORD error = 0;
    if (InjectedFault(Call::FormatMessageA, &error)) {
        return FailWith<DWORD>(error, 0);
    }
    if (buffer == nullptr) {
        return FailWith<DWORD>(ERROR_INVALID_PARAMETER, 0);
    }
    std::string_view text;
    error = LookUpText(flags, source, messageId, &text);
    if (error != ERROR_SUCCESS) {
        return FailWith<DWORD>(error, 0);
    }
    // Inserts are only copied through as they stand; filling them is not modelled.
    if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && text.find('%') != text.npos) {
        return FailWith<DWORD>(ERROR_INVALID_PARAMETER, 0);
    }
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        char *block = LocalAllocText(text);
        if (block == nullptr) {
            return FailWith<DWORD>(ERROR_NOT_ENOUGH_MEMORY, 0);
        }
        *reinterpret_cast<LPSTR *>(buffer) = block;
        return static_cast<DWORD>(text.size());
    }
    if (size < text.size() + 1) {
        return FailWith<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return static_cast<DWORD>(text.size());
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    DWORD error = 0;
    if (InjectedFault(Call::LocalFree, &error)) {
        return FailWith(error, memory);
    }
    if (memory == nullptr) {
        return nullptr;
    }
    {
        LocalBlocks &locals = Locals();
        std::lock_guard guard(locals.lock);
        if (locals.live.erase(memory) == 0) {
            return FailWith(ERROR_INVALID_HANDLE, memory);
        }
    }
    std::free(memory);
    return nullptr;
}
