// Shared helpers of the integration suite: the library initialised over the
// installed cameras, the driver's private controls and counters, running the
// install tool, and the frame model's pixels.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <setupapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/frame_model.h"
#include "driver_control.h"
#include "tqdev.h"

namespace wine {

inline const GUID kCameraInterface = {
    0x4ACC4CE4, 0x6A08, 0x4A8C, {0xAB, 0x7A, 0xFC, 0xBD, 0x87, 0x7B, 0x16, 0xA8}};

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);

// Waits (bounded) until the condition holds; polls, since the condition lives
// in another process or in the driver.
template <typename Condition> bool Eventually(Condition condition) {
    const auto deadline = Clock::now() + kPatience;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct DriverCamera {
    std::string path;
    std::string serial;
};

// Every present camera interface with its SerialNumber value.
inline std::vector<DriverCamera> DriverCameras() {
    std::vector<DriverCamera> cameras;
    HDEVINFO set = SetupDiGetClassDevsA(&kCameraInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return cameras;
    }
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof item;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraInterface, i, &item); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &item, nullptr, 0, &size, nullptr);
        std::vector<char> buffer(size);
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.data());
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &item, detail, size, nullptr, &device)) {
            continue;
        }
        DriverCamera camera{detail->DevicePath, ""};
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            char serial[64] = {};
            DWORD bytes = sizeof serial - 1;
            RegQueryValueExA(key, "SerialNumber", nullptr, nullptr,
                             reinterpret_cast<BYTE *>(serial), &bytes);
            camera.serial = serial;
            RegCloseKey(key);
        }
        cameras.push_back(camera);
    }
    SetupDiDestroyDeviceInfoList(set);
    return cameras;
}

// A handle of our own on a camera, for the private controls and raw requests.
class RawHandle {
  public:
    explicit RawHandle(const std::string &path, DWORD flags = 0)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              flags, nullptr)) {}
    ~RawHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    RawHandle(const RawHandle &) = delete;
    RawHandle &operator=(const RawHandle &) = delete;
    HANDLE get() const { return handle_; }

    // A synchronous call: 0, or the system's error.
    DWORD Call(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize,
               DWORD *bytes = nullptr) const {
        DWORD done = 0;
        const BOOL ok = DeviceIoControl(handle_, code, const_cast<void *>(in), inSize, out, outSize,
                                        &done, nullptr);
        if (bytes != nullptr) {
            *bytes = done;
        }
        return ok ? 0 : GetLastError();
    }

    DWORD Control(uint32_t operation, uint32_t a = 0, uint32_t b = 0,
                  const uint32_t *words = nullptr) const {
        TQCAM_CONTROL control{operation, a, b, {}};
        if (words != nullptr) {
            std::memcpy(control.words, words, sizeof control.words);
        }
        return Call(TQCAM_CONTROL_CODE, &control, sizeof control, nullptr, 0);
    }

    TQCAM_COUNTERS Counters() const {
        TQCAM_CONTROL control{TQCAM_CONTROL_COUNTERS, 0, 0, {}};
        TQCAM_COUNTERS counters{};
        EXPECT_EQ(Call(TQCAM_CONTROL_CODE, &control, sizeof control, &counters, sizeof counters),
                  0u);
        return counters;
    }

  private:
    HANDLE handle_;
};

// Runs tqcamctl.exe (beside the test) once; its exit code and standard
// output, or 0xFFFFFFFF when the process could not be run.
inline DWORD RunInstallToolOnce(const std::string &arguments, std::string *output) {
    char module[MAX_PATH];
    std::string path(module, GetModuleFileNameA(nullptr, module, sizeof module));
    path = path.substr(0, path.find_last_of("\\/") + 1) + "tqcamctl.exe";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return 0xFFFFFFFF;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::string command = "\"" + path + "\" " + arguments;
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    CloseHandle(writeEnd);
    std::string text;
    char chunk[256];
    DWORD got = 0;
    while (started && ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got != 0) {
        text.append(chunk, got);
    }
    CloseHandle(readEnd);
    if (!started) {
        std::fprintf(stderr, "tqcamctl %s: not started, error %lu\n", arguments.c_str(),
                     startError);
        return 0xFFFFFFFF;
    }
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xFFFFFFFF;
    if (!GetExitCodeProcess(process.hProcess, &code) || waited != WAIT_OBJECT_0) {
        std::fprintf(stderr, "tqcamctl %s: wait %lu, exit code %lu\n", arguments.c_str(), waited,
                     code);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (output != nullptr) {
        *output = text;
    }
    return code;
}

// The tool exits with 0, 1 or 2. Once in about a hundred suite runs under a
// loaded Wine a removal came back with 0xFFFFFFFF, nothing printed and the
// camera still in place: the tool had not run, so it is run again.
inline DWORD RunInstallTool(const std::string &arguments, std::string *output = nullptr) {
    DWORD code = 0xFFFFFFFF;
    for (int attempt = 0; attempt < 3 && code == 0xFFFFFFFF; ++attempt) {
        if (attempt != 0) {
            std::fprintf(stderr, "tqcamctl %s: run again\n", arguments.c_str());
        }
        code = RunInstallToolOnce(arguments, output);
    }
    return code;
}

inline uint32_t ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    uint32_t count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
    return count;
}

inline DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// Progress of an asynchronous call: callbacks counted, the end awaited.
struct Progress {
    TQDEV_PROGRESS record{};
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t calls = 0;

    Progress() {
        record.Callback = &Progress::Called;
        record.UserData = reinterpret_cast<uintptr_t>(this);
    }
    static void TQDEV_CALL Called(uint32_t, uint64_t user) {
        auto *self = reinterpret_cast<Progress *>(static_cast<uintptr_t>(user));
        std::lock_guard lock(self->mutex);
        self->calls++;
        self->changed.notify_all();
    }
    bool WaitCalls(uint32_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return calls >= count; });
    }
    // Waits for the end; the final result, or 0xFFFFFFFF when it never came.
    uint32_t WaitResult() {
        std::unique_lock lock(mutex);
        const bool done = changed.wait_for(lock, kPatience, [&] {
            return reinterpret_cast<volatile uint32_t &>(record.Done) == 1;
        });
        return done ? record.Result : 0xFFFFFFFF;
    }
};

// A record for a window of the default 1024 x 768 sensor.
inline TQDEV_CAPTURE_PARAMS Window(uint32_t mode, uint32_t flags, uint32_t width = 128,
                                   uint32_t height = 24) {
    TQDEV_CAPTURE_PARAMS params{};
    params.mode = mode;
    params.flags = flags;
    params.setup_words[0] = (4u << 16) | 8u; // left 8, top 4
    params.setup_words[1] = (height << 16) | width;
    return params;
}

// Holds an unpacked image against the frame model (frame `number`).
inline ::testing::AssertionResult MatchesModel(const TQDEV_CAPTURE_PARAMS &params, uint32_t width,
                                               uint32_t height, uint32_t number,
                                               const uint16_t *pixels) {
    TQDEV_CAPTURE_SETTINGS settings{};
    settings.mode = params.mode;
    settings.flags = params.flags;
    settings.ticket = params.ticket;
    std::memcpy(settings.setup_words, params.setup_words, sizeof settings.setup_words);
    settings.setup_words[0] = (4u << 16) | 8u;
    settings.setup_words[1] = (height << 16) | width;
    std::memcpy(settings.extra_words, params.extra_words, sizeof settings.extra_words);
    tqsim::FrameGeometry frame{};
    if (tqsim::DeriveFrame(settings, {1024, 768, 0, false}, &frame) != 0) {
        return ::testing::AssertionFailure() << "impossible window";
    }
    const tqsim::FrameStamp stamp = {number, 1, params.ticket, 0};
    uint32_t wrong = 0;
    for (uint32_t r = 0; r < height; ++r) {
        for (uint32_t c = 0; c < width; ++c) {
            wrong += pixels[r * width + c] != tqsim::ImagePixel(frame, r, c, stamp);
        }
    }
    if (wrong != 0) {
        return ::testing::AssertionFailure() << wrong << " pixels differ from frame " << number;
    }
    return ::testing::AssertionSuccess();
}

// The library initialised over the installed cameras; camera 0 opened for
// the test's own controls. At the end: the library terminated, the driver's
// scripts cleared, no request left pending, none ever without a cancel routine.
class WineFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(TqdevInitLibrary(), TQDEV_RESULT_OK);
        TQDEV_DEVICE_ARRAY array{};
        ASSERT_EQ(TqdevCreateDeviceArray(&array), TQDEV_RESULT_OK);
        ASSERT_GE(array.DeviceCount, 2u) << "install two cameras first (tqcamctl install 2)";
        // The array runs newest first: the last record is index 0.
        device_ = array.Devices[array.DeviceCount - 1].DeviceIndex;
        serial_ = array.Devices[array.DeviceCount - 1].SerialNumber;
        TqdevDestroyDeviceArray(&array);
        for (const DriverCamera &camera : DriverCameras()) {
            if (camera.serial == serial_) {
                path_ = camera.path;
            }
        }
        ASSERT_FALSE(path_.empty()) << "no driver camera with serial " << serial_;
        control_ = std::make_unique<RawHandle>(path_);
        ASSERT_NE(control_->get(), INVALID_HANDLE_VALUE);
        ASSERT_EQ(control_->Control(TQCAM_CONTROL_CLEAR), 0u);
    }

    void TearDown() override {
        TqdevTerminateLibrary();
        if (control_ == nullptr) {
            return;
        }
        control_->Control(TQCAM_CONTROL_CLEAR);
        control_->Control(TQCAM_CONTROL_TIMING, 0, 0);
        // Only our own control handle is left open, with nothing pending.
        EXPECT_TRUE(Eventually([&] { return control_->Counters().pending == 0; }))
            << "requests left pending";
        EXPECT_EQ(control_->Counters().pending_without_cancel, 0u);
        control_.reset();
    }

    uint32_t device_ = 0;
    std::string serial_;
    std::string path_;
    std::unique_ptr<RawHandle> control_;
};

} // namespace wine
