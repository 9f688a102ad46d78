// The camera's service threads: each takes the next job of its lane that may
// run (held jobs wait, aborted ones end at once) and completes its transfers
// in order: settings, data, status.
#include <algorithm>
#include <cstring>

#include "sim_camera.h"

namespace tqsim {
namespace {

bool Runnable(const Camera &camera, const Job &job) {
    if (job.abortError != 0) {
        return true;
    }
    if (job.served) {
        return true; // only its status transfer is left
    }
    if (job.isCancel) {
        // A cancel completes only after every request of its handle.
        return RequestsOfFile(camera, job.file) == 0;
    }
    return !camera.scripts.hold || job.seq < camera.scripts.releaseMark;
}

Job *TakeNext(Camera &camera, int lane) {
    auto &queue = camera.lanes[lane];
    auto it =
        std::find_if(queue.begin(), queue.end(), [&](Job *job) { return Runnable(camera, *job); });
    if (it == queue.end()) {
        return nullptr;
    }
    Job *job = *it;
    queue.erase(it);
    job->queued = false;
    job->inService = true;
    return job;
}

void Complete(Transfer &transfer, DWORD error, DWORD bytes) {
    if (transfer.present && !transfer.done) {
        transfer.done = true;
        CompleteIo(transfer.request.overlapped, error, bytes);
    }
}

void CompleteStatus(Job &job) {
    Transfer &status = job.status;
    if (job.statusError != 0) {
        Complete(status, job.statusError, 0);
    } else if (status.request.out == nullptr || status.request.outSize < sizeof(TQDEV_STATUS)) {
        Complete(status, ERROR_INSUFFICIENT_BUFFER, 0);
    } else {
        std::memcpy(status.request.out, &job.record, sizeof job.record);
        Complete(status, 0, sizeof job.record);
    }
}

void Serve(Camera &camera, Job &job, std::unique_lock<std::mutex> &held) {
    if (job.isCancel) {
        Complete(job.data, job.abortError, 0);
        return;
    }
    if (job.abortError == 0) {
        Complete(job.settings, job.settingsError,
                 job.settingsError == 0 ? job.settings.request.inSize : 0);
        if (job.data.present && !job.served) {
            ServeRequest(camera, job, held);
            job.served = true;
        }
    }
    if (job.abortError != 0) {
        Complete(job.settings, job.abortError, 0);
        Complete(job.data, job.abortError, 0);
        Complete(job.status, job.abortError, 0);
        return;
    }
    Complete(job.data, 0, job.dataBytes);
    if (!job.data.present) {
        job.record = TQDEV_STATUS{};
        job.record.word[0] = TQDEV_RESULT_SYSTEM_ERROR; // status with no data transfer
    }
    if (job.status.present) {
        CompleteStatus(job);
    }
}

bool Finished(const Job &job) {
    if (job.isCancel || job.abortError != 0 || job.status.done) {
        return true;
    }
    return job.core.expect_status == 0;
}

void WorkerLoop(Camera &camera, int lane) {
    std::unique_lock held(camera.lock);
    for (;;) {
        Job *job = TakeNext(camera, lane);
        if (job == nullptr) {
            if (camera.stopping) {
                return;
            }
            camera.changed.wait(held);
            continue;
        }
        Serve(camera, *job, held);
        job->inService = false;
        if (Finished(*job)) {
            FinishJob(camera, *job);
        }
        camera.changed.notify_all();
    }
}

} // namespace

void Enqueue(Camera &camera, Job &job) {
    if (job.queued || job.inService) {
        return;
    }
    job.queued = true;
    auto &queue = camera.lanes[job.lane];
    // Keep issue order within a lane, also for a job that comes back for its status.
    auto at =
        std::find_if(queue.begin(), queue.end(), [&](Job *other) { return other->seq > job.seq; });
    queue.insert(at, &job);
}

void FinishJob(Camera &camera, Job &job) {
    TqcoreUnpair(&job.core);
    std::erase_if(camera.jobs, [&](const std::unique_ptr<Job> &j) { return j.get() == &job; });
}

std::size_t RequestsOfFile(const Camera &camera, const File *file) {
    return static_cast<std::size_t>(
        std::count_if(camera.jobs.begin(), camera.jobs.end(), [&](const std::unique_ptr<Job> &job) {
            return job->file == file && !job->isCancel;
        }));
}

std::size_t JobsOfFile(const Camera &camera, const File *file) {
    return static_cast<std::size_t>(
        std::count_if(camera.jobs.begin(), camera.jobs.end(),
                      [&](const std::unique_ptr<Job> &job) { return job->file == file; }));
}

void StartWorkers(Camera &camera) {
    for (int lane = 0; lane < kLaneCount; ++lane) {
        camera.workers[lane] = std::thread(WorkerLoop, std::ref(camera), lane);
    }
}

void StopWorkers(Camera &camera) {
    {
        std::lock_guard guard(camera.lock);
        camera.stopping = true;
        camera.changed.notify_all();
    }
    for (auto &worker : camera.workers) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

} // namespace tqsim
