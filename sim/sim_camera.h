// The simulated camera driver's own records: a plugged camera, its open
// handles, and the jobs (settings, data and status transfers of one request)
// that its service threads work through. Internal to libtqsim.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/frame_model.h"
#include "core/camera_core.h"
#include "core/transfer_pairing.h"
#include "device_manager.h"
#include "tqdev.h"
#include "tqsim.h"

namespace tqsim {

constexpr DWORD kSettingsCode = TQPROTO_SETTINGS_CODE;
constexpr DWORD kStatusCode = TQPROTO_STATUS_CODE;
constexpr DWORD kCancelCode = TQPROTO_CANCEL_CODE;
constexpr DWORD kErrorInvalidFunction = 1;
constexpr std::uint32_t kNoRequest = TQCORE_NO_REQUEST;

// Service lanes: capture-state requests must not wait behind a frame.
constexpr int kMainLane = 0;
constexpr int kStateLane = 1;
constexpr int kLaneCount = 2;

// One driver call that was taken and has not completed yet.
struct Transfer {
    IoRequest request{};
    bool present = false;
    bool done = false;
};

struct File;

// The transfers of one request of one handle, served as a unit.
struct Job {
    TQCORE_JOB core{}; // its place among the handle's transfers
    File *file = nullptr;
    std::uint64_t seq = 0;
    int lane = kMainLane;
    bool isCancel = false; // a cancel call, kept in `data`
    Transfer settings, data, status;
    std::uint32_t number = kNoRequest;
    bool haveSettings = false;
    TQDEV_CAPTURE_SETTINGS settingsRecord{};
    DWORD settingsError = 0;
    bool scriptedResult = false;
    std::uint32_t result = 0;
    bool scriptedWords = false;
    std::uint32_t words[6] = {};
    DWORD statusError = 0; // the status transfer ends with this platform error
    bool served = false;   // the request's work is done
    TQDEV_STATUS record{};
    DWORD dataBytes = 0;
    bool queued = false;
    bool inService = false;
    DWORD abortError = 0;
};

struct Camera;

// One open handle.
struct File {
    Camera *camera = nullptr;
    std::uint32_t number = 0;
    TQCORE_PAIRING pairing{}; // how its transfers make up requests
    TQCORE_HANDLE handle{};   // the register request 22 chose
};

struct ScriptedResult {
    std::uint32_t request;
    std::uint32_t result;
};

struct ScriptedWords {
    std::uint32_t request;
    std::uint32_t words[6];
};

struct ScriptedReply {
    std::uint32_t request;
    std::vector<std::uint8_t> bytes;
};

struct RefusedCall {
    DWORD code;
    DWORD error;
};

struct Scripts {
    std::vector<ScriptedResult> results;
    std::vector<ScriptedWords> words;
    std::vector<ScriptedReply> replies;
    std::vector<RefusedCall> refusals;
    std::deque<DWORD> statusFailures;
    bool hold = false;
    std::uint64_t releaseMark = 0; // jobs below this sequence number are released
};

struct Camera {
    std::uint32_t id = 0;
    std::string path;
    std::mutex lock;
    std::condition_variable changed; // any job, hold or stop changed
    TQSIM_CAMERA_CONFIG config{};
    TQCORE_CAMERA core{}; // records and capture state, served by the shared core
    // The frame pattern prepared for the settings of the last frame, used and
    // changed by the main lane's worker only.
    std::vector<std::uint8_t> pattern;
    TQCORE_PATTERN_ID patternId{};
    Scripts scripts;
    std::vector<TQSIM_CALL_RECORD> log;
    // Service
    std::vector<std::unique_ptr<File>> files;
    std::vector<std::unique_ptr<Job>> jobs;
    std::deque<Job *> lanes[kLaneCount];
    std::uint64_t nextSeq = 1;
    std::uint32_t nextFile = 1;
    bool stopping = false;
    std::thread workers[kLaneCount];
};

// The driver's entry points for the device manager.
const DriverDispatch &CameraDispatch();

// Service threads (worker.cpp).
void StartWorkers(Camera &camera);
void StopWorkers(Camera &camera);
void Enqueue(Camera &camera, Job &job);
void FinishJob(Camera &camera, Job &job);
inline Job &JobOf(TQCORE_JOB *core) {
    return *static_cast<Job *>(core->host);
}
// Jobs of a handle, with and without its cancel calls.
std::size_t JobsOfFile(const Camera &camera, const File *file);
std::size_t RequestsOfFile(const Camera &camera, const File *file);

// Serving one request's work through the shared core; the camera lock is
// held and may be released while waiting (requests.cpp, capture.cpp).
void ServeRequest(Camera &camera, Job &job, std::unique_lock<std::mutex> &held);
// Frames, clearing and homing: the core's rules, timed by the host.
void ServeFrame(Camera &camera, Job &job, TQCORE_REQUEST &request,
                std::unique_lock<std::mutex> &held);
void ServePreparation(Camera &camera, Job &job, TQCORE_REQUEST &request,
                      std::unique_lock<std::mutex> &held);

// The frame model's view of a camera.
SensorModel SensorOf(const TQSIM_CAMERA_CONFIG &config);

// Default records of a freshly plugged camera.
void InitRecords(Camera &camera);

// Cameras by simulator id (store.cpp); null when not plugged.
std::shared_ptr<Camera> FindCamera(std::uint32_t id);
// Forgets a released camera.
void ForgetCamera(Camera *camera);
// The oldest plugged camera; false when none. Stores how many are plugged.
bool OldestCamera(std::uint32_t *id, std::size_t *plugged);
// Forgets every plugged camera (ids start at 0 again) and clears all scripts.
void ForgetAllCameras();

} // namespace tqsim
