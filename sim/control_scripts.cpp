// Control API: scripting the driver and reading its call log.
#include <cstring>

#include "control.h"

using namespace tqsim;

namespace {

constexpr std::uint32_t kLastRequest = 24;

std::uint32_t OpenTransfers(const Job &job) {
    std::uint32_t open = 0;
    for (const Transfer *t : {&job.settings, &job.data, &job.status}) {
        open += t->present && !t->done ? 1 : 0;
    }
    return open;
}

} // namespace

extern "C" int TqsimScriptResult(uint32_t id, uint32_t request, uint32_t result) {
    if (request > kLastRequest) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        camera.scripts.results.push_back({request, result});
        return 0;
    });
}

extern "C" int TqsimScriptStatusWords(uint32_t id, uint32_t request, const uint32_t words[6]) {
    if (request > kLastRequest || words == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        ScriptedWords script{request, {}};
        std::memcpy(script.words, words, sizeof script.words);
        camera.scripts.words.push_back(script);
        return 0;
    });
}

extern "C" int TqsimScriptReply(uint32_t id, uint32_t request, const void *bytes, uint32_t size) {
    if (request > kLastRequest || (bytes == nullptr && size != 0) || size > 4096) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        const auto *first = static_cast<const std::uint8_t *>(bytes);
        camera.scripts.replies.push_back({request, {first, first + size}});
        return 0;
    });
}

extern "C" int TqsimRefuseCall(uint32_t id, uint32_t code, uint32_t error) {
    if (error == 0) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        camera.scripts.refusals.push_back({code, error});
        return 0;
    });
}

extern "C" int TqsimFailStatusTransfer(uint32_t id, uint32_t error) {
    if (error == 0) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        camera.scripts.statusFailures.push_back(error);
        return 0;
    });
}

extern "C" int TqsimLoseStatusOutcome(uint32_t id) {
    return WithCamera(id, [&](Camera &camera) {
        // Completing with the pending marker signals the event and leaves the
        // block reading pending, the outcome never written.
        camera.scripts.statusFailures.push_back(static_cast<DWORD>(STATUS_PENDING));
        return 0;
    });
}

extern "C" int TqsimHoldRequests(uint32_t id, int hold) {
    return ChangeCamera(id, [&](Camera &camera) {
        camera.scripts.hold = hold != 0;
        return 0;
    });
}

extern "C" int TqsimReleaseRequests(uint32_t id) {
    return ChangeCamera(id, [&](Camera &camera) {
        camera.scripts.releaseMark = camera.nextSeq;
        return 0;
    });
}

extern "C" int TqsimPendingTransfers(uint32_t id, uint32_t *count) {
    if (count == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        *count = 0;
        for (const auto &job : camera.jobs) {
            *count += OpenTransfers(*job);
        }
        return 0;
    });
}

extern "C" int TqsimClearScripts(uint32_t id) {
    return ChangeCamera(id, [&](Camera &camera) {
        const bool hold = camera.scripts.hold;
        const std::uint64_t mark = camera.scripts.releaseMark;
        camera.scripts = Scripts{};
        camera.scripts.hold = hold;
        camera.scripts.releaseMark = mark;
        return 0;
    });
}

extern "C" int TqsimCallCount(uint32_t id, uint32_t *count) {
    if (count == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        *count = static_cast<std::uint32_t>(camera.log.size());
        return 0;
    });
}

extern "C" int TqsimGetCall(uint32_t id, uint32_t index, TQSIM_CALL_RECORD *record) {
    if (record == nullptr) {
        return -1;
    }
    return WithCamera(id, [&](Camera &camera) {
        if (index >= camera.log.size()) {
            return -1;
        }
        *record = camera.log[index];
        return 0;
    });
}

extern "C" int TqsimClearCalls(uint32_t id) {
    return WithCamera(id, [&](Camera &camera) {
        camera.log.clear();
        return 0;
    });
}
