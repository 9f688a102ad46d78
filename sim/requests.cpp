// Serving a request: the shared core's rules for records and capture
// requests, with the simulator's scripted results and status words on top.
#include <algorithm>
#include <cstring>

#include "sim_camera.h"

namespace tqsim {

namespace {

// A scripted reply takes the place of what the request wrote.
void ReplaceReply(Camera &camera, Job &job) {
    auto &replies = camera.scripts.replies;
    auto it = std::find_if(replies.begin(), replies.end(),
                           [&](const ScriptedReply &r) { return r.request == job.number; });
    if (it == replies.end()) {
        return;
    }
    const IoRequest &r = job.data.request;
    const DWORD size =
        r.out != nullptr ? std::min<DWORD>(r.outSize, static_cast<DWORD>(it->bytes.size())) : 0;
    if (size != 0) {
        std::memcpy(r.out, it->bytes.data(), size);
    }
    job.dataBytes = size;
    replies.erase(it);
}

} // namespace

void ServeRequest(Camera &camera, Job &job, std::unique_lock<std::mutex> &held) {
    const IoRequest &r = job.data.request;
    TQCORE_REQUEST request{};
    request.number = job.number;
    request.in = r.in;
    request.in_size = r.inSize;
    request.out = r.out;
    request.out_size = r.outSize;
    request.have_settings = job.haveSettings ? 1 : 0;
    request.settings = job.settingsRecord;
    request.handle = &job.file->handle;
    if (job.scriptedResult && job.result != 0) {
        request.record.word[0] = job.result;
    } else {
        switch (TqcoreRequestKind(job.number)) {
        case TQCORE_KIND_FRAME:
            ServeFrame(camera, job, request, held);
            break;
        case TQCORE_KIND_PREPARE:
            ServePreparation(camera, job, request, held);
            break;
        default:
            TqcoreServeRecord(&camera.core, &request);
            break;
        }
    }
    job.record = request.record;
    job.dataBytes = request.data_bytes;
    ReplaceReply(camera, job);
    if (job.scriptedWords) {
        std::memcpy(&job.record.word[1], job.words, sizeof job.words);
    }
}

} // namespace tqsim
