// Reading and writing the camera's defect list.
#include "tqdev_lib_internal.h"

namespace {

constexpr int32_t kMaxFlawsWritten = 128;
constexpr uint64_t kFlawBytes = sizeof(TQDEV_FLAW);

// The count the driver reports must give a byte size that fits one request.
bool FlawCountFits(int32_t count) {
    return count >= 0 && static_cast<uint64_t>(count) * kFlawBytes <= UINT32_MAX;
}

} // namespace

uint32_t WriteFlaws(uint32_t device, int32_t count, const TQDEV_FLAW *entries) {
    if (count < 0 || (count > 0 && entries == nullptr)) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    uint32_t result = TQDEV_RESULT_OK;
    SyncContext *sync = NewSyncContext(&result);
    if (sync == nullptr) {
        return result;
    }
    if (count > kMaxFlawsWritten) {
        TQDEV_DIAG("Number of flaws exceed the maximum allowed\n");
        result = TQDEV_RESULT_INVALID_PARAMETER;
    } else {
        result = SubmitAndWait(sync, device, kRequestWriteFlaws, const_cast<TQDEV_FLAW *>(entries),
                               static_cast<uint32_t>(count * kFlawBytes));
    }
    EndSyncContext(sync);
    return result;
}

uint32_t ReadFlaws(uint32_t device, int32_t *count, uint32_t *second, TQDEV_FLAW *entries) {
    if (count == nullptr || second == nullptr) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    int32_t reply[2] = {};
    uint32_t result = SyncRequest(device, kRequestFlawCount, reply, sizeof reply);
    if (result != TQDEV_RESULT_OK) {
        return result;
    }
    *count = reply[0];
    *second = static_cast<uint32_t>(reply[1]);
    if (entries == nullptr) {
        return TQDEV_RESULT_OK;
    }
    if (!FlawCountFits(reply[0])) {
        TQDEV_DIAG("Invalid flaw count %d\n", reply[0]);
        return TQDEV_RESULT_SYSTEM_ERROR;
    }
    return SyncRequest(device, kRequestReadFlaws, entries,
                       static_cast<uint32_t>(reply[0] * kFlawBytes));
}
