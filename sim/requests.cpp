// The record requests: camera information, registers, defect list, colour
// matrix, Bayer pattern, dark level, tap gains and the driver's values. Each
// checks its buffer size as the driver's contract says and writes nothing on
// a size or value it refuses.
#include <cstring>

#include "sim_camera.h"

namespace tqsim {
namespace {

constexpr std::uint32_t kFlawSize = sizeof(TQDEV_FLAW);

// Copies the input buffer into a record when it holds at least the record.
std::uint32_t Accept(const Job &job, void *record, std::size_t size) {
    const IoRequest &r = job.data.request;
    if (r.in == nullptr || r.inSize < size) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    std::memcpy(record, r.in, size);
    return TQDEV_RESULT_OK;
}

std::uint32_t ReadFlawCount(Camera &camera, Job &job) {
    const std::uint32_t reply[2] = {static_cast<std::uint32_t>(camera.records.flaws.size()),
                                    TQSIM_FLAW_CAPACITY};
    return ReplyRecord(job, reply, sizeof reply);
}

std::uint32_t ReadFlaws(Camera &camera, Job &job) {
    const IoRequest &r = job.data.request;
    const auto &flaws = camera.records.flaws;
    if (r.outSize % kFlawSize != 0 || r.outSize / kFlawSize > flaws.size()) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    return r.outSize == 0 ? TQDEV_RESULT_OK : ReplyRecord(job, flaws.data(), r.outSize);
}

std::uint32_t WriteFlaws(Camera &camera, Job &job) {
    const IoRequest &r = job.data.request;
    auto &flaws = camera.records.flaws;
    const std::uint32_t count = r.inSize / kFlawSize;
    if (r.inSize % kFlawSize != 0 || (count != 0 && r.in == nullptr)) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    if (count > TQSIM_FLAWS_PER_WRITE || flaws.size() + count > TQSIM_FLAW_CAPACITY) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    if (count == 0) {
        flaws.clear();
        return TQDEV_RESULT_OK;
    }
    const auto *entries = static_cast<const TQDEV_FLAW *>(r.in);
    flaws.insert(flaws.end(), entries, entries + count);
    return TQDEV_RESULT_OK;
}

std::uint32_t WriteTapGains(Camera &camera, Job &job) {
    const IoRequest &r = job.data.request;
    const std::uint32_t count = r.inSize / sizeof(float);
    if (r.inSize % sizeof(float) != 0 || (count != 0 && r.in == nullptr)) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    if (count > TQSIM_TAP_GAIN_MAX) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    auto &gains = camera.records.tapGains;
    gains.resize(count);
    if (count != 0) {
        std::memcpy(gains.data(), r.in, count * sizeof(float));
    }
    return TQDEV_RESULT_OK;
}

std::uint32_t SelectRegister(Job &job) {
    std::uint32_t address = 0;
    const std::uint32_t result = Accept(job, &address, sizeof address);
    if (result == TQDEV_RESULT_OK) {
        job.file->registerSelected = true;
        job.file->registerAddress = address;
    }
    return result;
}

std::uint32_t WriteRegister(Camera &camera, Job &job) {
    if (!job.file->registerSelected) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    std::uint32_t value = 0;
    const std::uint32_t result = Accept(job, &value, sizeof value);
    if (result == TQDEV_RESULT_OK) {
        camera.records.registers[job.file->registerAddress] = value;
    }
    return result;
}

std::uint32_t ReadRegister(Camera &camera, Job &job) {
    if (!job.file->registerSelected) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    const auto it = camera.records.registers.find(job.file->registerAddress);
    const std::uint32_t value = it == camera.records.registers.end() ? 0 : it->second;
    return ReplyRecord(job, &value, sizeof value);
}

std::uint32_t ServeRecord(Camera &camera, Job &job) {
    CameraRecords &records = camera.records;
    switch (job.number) {
    case 2:
        return ReplyRecord(job, &records.info, sizeof records.info);
    case 3:
        return ReplyRecord(job, &records.extended, sizeof records.extended);
    case 9:
        return ReplyRecord(job, &records.state, sizeof records.state);
    case 11:
        return ReadFlawCount(camera, job);
    case 12:
        return ReadFlaws(camera, job);
    case 13:
        return WriteFlaws(camera, job);
    case 14:
        return ReplyRecord(job, records.matrix, sizeof records.matrix);
    case 15:
        return Accept(job, records.matrix, sizeof records.matrix);
    case 16:
        return Accept(job, &records.bayer, sizeof records.bayer);
    case 17:
        return Accept(job, &records.dark, sizeof records.dark);
    case 18:
        return ReplyRecord(job, &records.dark, sizeof records.dark);
    case 19:
        return WriteTapGains(camera, job);
    case 20:
        return ReplyRecord(job, records.driverPair, sizeof records.driverPair);
    case 22:
        return SelectRegister(job);
    case 23:
        return WriteRegister(camera, job);
    case 24:
        return ReadRegister(camera, job);
    default: // 4, 5, 7: codes without work of their own
        return TQDEV_RESULT_OK;
    }
}

bool IsCaptureRequest(std::uint32_t number) {
    return number == 0 || number == 6 || number == 10 || number == 21;
}

} // namespace

std::uint32_t ReplyRecord(Job &job, const void *record, std::size_t size) {
    const IoRequest &r = job.data.request;
    if (r.out == nullptr || r.outSize < size) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    std::memcpy(r.out, record, size);
    job.dataBytes = static_cast<DWORD>(size);
    return TQDEV_RESULT_OK;
}

void ServeRecordRequest(Camera &camera, Job &job) {
    job.record.word[0] = ServeRecord(camera, job);
}

void ServeRequest(Camera &camera, Job &job, std::unique_lock<std::mutex> &held) {
    job.record = TQDEV_STATUS{};
    if (job.scriptedResult && job.result != 0) {
        job.record.word[0] = job.result;
    } else if (IsCaptureRequest(job.number)) {
        ServeCaptureRequest(camera, job, held);
    } else if (job.number == 1) {
        ServeCaptureState(camera, job);
    } else if (job.number == 8) {
        ServeIntegrationTime(camera, job);
    } else {
        ServeRecordRequest(camera, job);
    }
    if (job.scriptedWords) {
        std::memcpy(&job.record.word[1], job.words, sizeof job.words);
    }
}

} // namespace tqsim
