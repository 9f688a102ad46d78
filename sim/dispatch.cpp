// The driver's entry points: calls are taken on the caller's thread, grouped
// per handle into jobs (settings, data, status) and left to the service
// threads; nothing completes here.
#include <algorithm>
#include <cstring>

#include "sim_camera.h"

namespace tqsim {
namespace {

Camera &CameraOf(void *device) {
    return *static_cast<Camera *>(device);
}

void Log(Camera &camera, const File &file, const IoRequest &request, DWORD refusal) {
    if (camera.log.size() >= TQSIM_CALL_LOG_MAX) {
        return;
    }
    TQSIM_CALL_RECORD entry{};
    entry.code = request.code;
    entry.in_size = request.inSize;
    entry.out_size = request.outSize;
    entry.refused_with = refusal;
    entry.handle = file.number;
    if (request.code == kSettingsCode && request.inSize == sizeof(TQDEV_CAPTURE_SETTINGS) &&
        request.in != nullptr) {
        entry.has_settings = 1;
        std::memcpy(&entry.settings, request.in, sizeof entry.settings);
    }
    camera.log.push_back(entry);
}

// A scripted refusal, or the refusal of a code the camera does not know.
DWORD Refusal(Camera &camera, DWORD code) {
    auto &refusals = camera.scripts.refusals;
    auto it = std::find_if(refusals.begin(), refusals.end(),
                           [&](const RefusedCall &r) { return r.code == code; });
    if (it != refusals.end()) {
        const DWORD error = it->error;
        refusals.erase(it);
        return error;
    }
    const bool known =
        code == kStatusCode || code == kCancelCode || TqcoreRequestNumber(code) != kNoRequest;
    return known ? 0 : kErrorInvalidFunction;
}

Job &NewJob(Camera &camera, File &file) {
    camera.jobs.push_back(std::make_unique<Job>());
    Job &job = *camera.jobs.back();
    job.core.host = &job;
    job.file = &file;
    job.seq = camera.nextSeq++;
    return job;
}

void TakeSettings(Camera &camera, File &file, const IoRequest &request) {
    Job &job = NewJob(camera, file);
    // Settings whose data never came still complete.
    if (TQCORE_JOB *flushed = TqcoreSettingsTaken(&file.pairing, &job.core)) {
        Enqueue(camera, JobOf(flushed));
    }
    job.settings = {request, true, false};
    if (request.inSize == sizeof(TQDEV_CAPTURE_SETTINGS) && request.in != nullptr) {
        job.haveSettings = true;
        std::memcpy(&job.settingsRecord, request.in, sizeof job.settingsRecord);
    } else {
        job.settingsError = ERROR_INVALID_PARAMETER;
    }
}

void ApplyScripts(Camera &camera, Job &job) {
    auto &results = camera.scripts.results;
    auto r = std::find_if(results.begin(), results.end(),
                          [&](const ScriptedResult &s) { return s.request == job.number; });
    if (r != results.end()) {
        job.scriptedResult = true;
        job.result = r->result;
        results.erase(r);
    }
    auto &words = camera.scripts.words;
    auto w = std::find_if(words.begin(), words.end(),
                          [&](const ScriptedWords &s) { return s.request == job.number; });
    if (w != words.end()) {
        job.scriptedWords = true;
        std::memcpy(job.words, w->words, sizeof job.words);
        words.erase(w);
    }
}

void TakeData(Camera &camera, File &file, const IoRequest &request, std::uint32_t number) {
    TQCORE_JOB *open = TqcoreJobForData(&file.pairing);
    Job &job = open != nullptr ? JobOf(open) : NewJob(camera, file);
    TqcoreDataTaken(&file.pairing, &job.core);
    job.data = {request, true, false};
    job.number = number;
    job.lane = number == 1 ? kStateLane : kMainLane;
    ApplyScripts(camera, job);
    Enqueue(camera, job);
}

void TakeStatus(Camera &camera, File &file, const IoRequest &request) {
    TQCORE_JOB *paired = TqcoreJobForStatus(&file.pairing);
    Job *job = paired != nullptr ? &JobOf(paired) : &NewJob(camera, file);
    TqcoreStatusTaken(&job->core);
    job->status = {request, true, false};
    if (!camera.scripts.statusFailures.empty()) {
        job->statusError = camera.scripts.statusFailures.front();
        camera.scripts.statusFailures.pop_front();
    }
    if (!job->queued && !job->inService) {
        Enqueue(camera, *job);
    }
}

// Marks every job of the handle (or of every handle) to end with error; a
// cancel leaves the handle's other cancel calls to complete normally.
void AbortJobs(Camera &camera, const File *file, DWORD error, bool keepCancels = false) {
    for (auto &job : camera.jobs) {
        if ((file != nullptr && job->file != file) || (keepCancels && job->isCancel)) {
            continue;
        }
        if (job->abortError == 0) {
            job->abortError = error;
        }
        if (!job->queued && !job->inService) {
            Enqueue(camera, *job);
        }
    }
    for (auto &f : camera.files) {
        if (file == nullptr || f.get() == file) {
            TqcoreForgetPairing(&f->pairing);
        }
    }
}

void TakeCancel(Camera &camera, File &file, const IoRequest &request) {
    AbortJobs(camera, &file, ERROR_OPERATION_ABORTED, true);
    Job &job = NewJob(camera, file);
    job.isCancel = true;
    job.data = {request, true, false};
    Enqueue(camera, job);
}

void *Create(void *device, DWORD *error) {
    Camera &camera = CameraOf(device);
    std::lock_guard guard(camera.lock);
    camera.files.push_back(std::make_unique<File>());
    File &file = *camera.files.back();
    file.camera = &camera;
    file.number = camera.nextFile++;
    *error = 0;
    return &file;
}

DWORD DeviceControl(void *device, const IoRequest &request) {
    Camera &camera = CameraOf(device);
    File &file = *static_cast<File *>(request.file);
    std::lock_guard guard(camera.lock);
    const DWORD refusal = Refusal(camera, request.code);
    Log(camera, file, request, refusal);
    // Refused before it reaches the camera: what the handle holds of the same
    // request stays held, as with a driver that never sees the call.
    if (refusal != 0) {
        return refusal;
    }
    const std::uint32_t number = TqcoreRequestNumber(request.code);
    if (request.code == kCancelCode) {
        TakeCancel(camera, file, request);
    } else if (request.code == kStatusCode) {
        TakeStatus(camera, file, request);
    } else if (request.code == kSettingsCode && request.inSize != 0) {
        TakeSettings(camera, file, request);
    } else {
        TakeData(camera, file, request, number);
    }
    camera.changed.notify_all();
    return ERROR_IO_PENDING;
}

void Close(void *device, void *context) {
    Camera &camera = CameraOf(device);
    File *file = static_cast<File *>(context);
    std::unique_lock held(camera.lock);
    AbortJobs(camera, file, ERROR_OPERATION_ABORTED);
    camera.changed.notify_all();
    camera.changed.wait(held, [&] { return JobsOfFile(camera, file) == 0; });
    std::erase_if(camera.files, [&](const std::unique_ptr<File> &f) { return f.get() == file; });
}

void Remove(void *device) {
    Camera &camera = CameraOf(device);
    std::unique_lock held(camera.lock);
    AbortJobs(camera, nullptr, ERROR_DEVICE_REMOVED);
    camera.changed.notify_all();
    camera.changed.wait(held, [&] { return camera.jobs.empty(); });
}

void Release(void *device) {
    Camera &camera = CameraOf(device);
    StopWorkers(camera);
    ForgetCamera(&camera);
}

const DriverDispatch kDispatch = {Create, DeviceControl, Close, Remove, Release};

} // namespace

const DriverDispatch &CameraDispatch() {
    return kDispatch;
}
} // namespace tqsim
