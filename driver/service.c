/* The device's service threads: each takes the next job of its lane that may
 * run (held jobs wait, ended ones go at once) and completes its transfers in
 * order: settings, data, status. Every request held here has a cancel routine;
 * a transfer is completed by whoever clears that routine first. */
#include "driver.h"

static LONGLONG Now100ns(void) {
    LARGE_INTEGER frequency;
    const LARGE_INTEGER count = KeQueryPerformanceCounter(&frequency);
    const LONGLONG f = frequency.QuadPart;
    return count.QuadPart / f * 10000000 + count.QuadPart % f * 10000000 / f;
}

void WakeService(TQCAM_DEVICE *device) {
    for (int lane = 0; lane < TQCAM_LANES; ++lane) {
        KeSetEvent(&device->wake[lane], IO_NO_INCREMENT, FALSE);
    }
}

void ReleaseFile(TQCAM_FILE *file) {
    if (--file->references == 0) {
        ExFreePoolWithTag(file, TQCAM_TAG);
    }
}

static ULONG RequestsOfFile(TQCAM_DEVICE *device, TQCAM_FILE *file) {
    ULONG count = 0;
    for (LIST_ENTRY *e = device->jobs.Flink; e != &device->jobs; e = e->Flink) {
        TQCAM_JOB *job = CONTAINING_RECORD(e, TQCAM_JOB, link);
        if (job->file == file && !job->isCancel && !job->finished) {
            ++count;
        }
    }
    return count;
}

void Enqueue(TQCAM_DEVICE *device, TQCAM_JOB *job) {
    if (job->queued || job->inService || job->finished) {
        return;
    }
    job->queued = TRUE;
    /* Keep issue order within a lane, also for a job back for its status. */
    LIST_ENTRY *lane = &device->lanes[job->lane];
    LIST_ENTRY *at = lane->Flink;
    while (at != lane && CONTAINING_RECORD(at, TQCAM_JOB, queueLink)->seq < job->seq) {
        at = at->Flink;
    }
    InsertTailList(at, &job->queueLink); /* before `at` */
}

static void MaybeFree(TQCAM_JOB *job) {
    if (!job->finished || job->queued || job->inService) {
        return;
    }
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (job->irp[slot] != NULL) {
            return; /* its cancel routine has yet to run */
        }
    }
    RemoveEntryList(&job->link);
    ReleaseFile(job->file);
    ExFreePoolWithTag(job, TQCAM_TAG);
}

static void Finish(TQCAM_JOB *job) {
    job->finished = TRUE;
    TqcoreUnpair(&job->core);
    MaybeFree(job);
}

void AbortJobs(TQCAM_DEVICE *device, TQCAM_FILE *file, NTSTATUS status, BOOLEAN keepCancels) {
    LIST_ENTRY *e = device->jobs.Flink;
    while (e != &device->jobs) {
        TQCAM_JOB *job = CONTAINING_RECORD(e, TQCAM_JOB, link);
        e = e->Flink;
        if ((file != NULL && job->file != file) || (keepCancels && job->isCancel) ||
            job->finished) {
            continue;
        }
        if (job->abort == 0) {
            job->abort = status;
        }
        TqcoreUnpair(&job->core);
        Enqueue(device, job);
    }
}

ULONG CountPending(TQCAM_DEVICE *device, BOOLEAN *withoutCancel) {
    ULONG count = 0;
    for (LIST_ENTRY *e = device->jobs.Flink; e != &device->jobs; e = e->Flink) {
        TQCAM_JOB *job = CONTAINING_RECORD(e, TQCAM_JOB, link);
        for (int slot = 0; slot < SLOT_COUNT; ++slot) {
            PIRP irp = job->irp[slot];
            if (irp == NULL) {
                continue;
            }
            ++count;
            /* A cancel in progress has taken the routine already. */
            if (irp->CancelRoutine == NULL && !irp->Cancel) {
                *withoutCancel = TRUE;
            }
        }
    }
    return count;
}

/* Takes a transfer's request for completion; NULL when it is not pending here
 * or its cancel routine is about to complete it. */
static PIRP TakeIrp(TQCAM_JOB *job, int slot) {
    PIRP irp = job->irp[slot];
    if (irp == NULL || IoSetCancelRoutine(irp, NULL) == NULL) {
        return NULL;
    }
    job->irp[slot] = NULL;
    return irp;
}

static void CompleteLater(LIST_ENTRY *done, PIRP irp, NTSTATUS status, ULONG_PTR bytes) {
    if (irp != NULL) {
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = NT_SUCCESS(status) ? bytes : 0;
        InsertTailList(done, &irp->Tail.Overlay.ListEntry);
    }
}

static void CompleteAll(LIST_ENTRY *done) {
    while (!IsListEmpty(done)) {
        LIST_ENTRY *e = RemoveHeadList(done);
        IoCompleteRequest(CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry), IO_NO_INCREMENT);
    }
}

static BOOLEAN Runnable(TQCAM_DEVICE *device, TQCAM_JOB *job) {
    if (job->abort != 0 || job->served) {
        return TRUE;
    }
    if (job->isCancel) {
        /* A cancel completes only after every request of its handle. */
        return RequestsOfFile(device, job->file) == 0;
    }
    return !device->hold || job->seq < device->releaseMark;
}

static TQCAM_JOB *TakeNext(TQCAM_DEVICE *device, int lane) {
    LIST_ENTRY *queue = &device->lanes[lane];
    for (LIST_ENTRY *e = queue->Flink; e != queue; e = e->Flink) {
        TQCAM_JOB *job = CONTAINING_RECORD(e, TQCAM_JOB, queueLink);
        if (Runnable(device, job)) {
            RemoveEntryList(&job->queueLink);
            job->queued = FALSE;
            job->inService = TRUE;
            return job;
        }
    }
    return NULL;
}

/* Waits until the deadline with the lock released; FALSE when the job was
 * ended meanwhile. */
static BOOLEAN WaitUntil(TQCAM_DEVICE *device, TQCAM_JOB *job, KIRQL *irql, LONGLONG deadline) {
    for (;;) {
        if (job->abort != 0) {
            return FALSE;
        }
        const LONGLONG now = Now100ns();
        if (now >= deadline) {
            return TRUE;
        }
        LARGE_INTEGER timeout;
        timeout.QuadPart = now - deadline; /* relative */
        KeReleaseSpinLock(&device->lock, *irql);
        KeWaitForSingleObject(&device->wake[job->lane], Executive, KernelMode, FALSE, &timeout);
        KeAcquireSpinLock(&device->lock, irql);
    }
}

static void ServeFrame(TQCAM_DEVICE *device, TQCAM_JOB *job, KIRQL *irql) {
    TQCORE_CAMERA *camera = &device->camera;
    uint32_t exposure = 0, period = 0;
    if (TqcoreStartFrame(camera, &job->request, &exposure, &period) != TQDEV_RESULT_OK) {
        return;
    }
    const LONGLONG start = Now100ns();
    if (WaitUntil(device, job, irql, start + (LONGLONG)exposure * 10)) {
        TqcoreReadingOut(camera, &job->request);
        if (WaitUntil(device, job, irql, start + (LONGLONG)period * 10)) {
            TqcoreFinishFrame(camera, &job->request);
            return;
        }
    }
    TqcoreAbortFrame(camera, &job->request);
}

static void ServeRequest(TQCAM_DEVICE *device, TQCAM_JOB *job, KIRQL *irql) {
    TQCORE_REQUEST *request = &job->request;
    RtlZeroMemory(&request->record, sizeof request->record);
    if (job->scriptedResult && job->result != 0) {
        request->record.word[0] = job->result;
    } else {
        switch (TqcoreRequestKind(request->number)) {
        case TQCORE_KIND_FRAME:
            ServeFrame(device, job, irql);
            break;
        case TQCORE_KIND_PREPARE: {
            const LONGLONG deadline =
                Now100ns() + (LONGLONG)TqcorePreparePeriod(&device->camera) * 10;
            if (WaitUntil(device, job, irql, deadline)) {
                TqcoreFinishPrepare(&device->camera, request);
            }
            break;
        }
        default:
            TqcoreServeRecord(&device->camera, request);
            break;
        }
    }
    if (job->scriptedWords) {
        RtlCopyMemory(&request->record.word[1], job->words, sizeof job->words);
    }
    device->counters.served++;
}

static void CompleteStatus(TQCAM_JOB *job, LIST_ENTRY *done) {
    PIRP irp = TakeIrp(job, SLOT_STATUS);
    if (irp == NULL) {
        return;
    }
    const ULONG size =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    if (job->statusFailure != 0) {
        CompleteLater(done, irp, job->statusFailure, 0);
    } else if (irp->AssociatedIrp.SystemBuffer == NULL || size < sizeof(TQDEV_STATUS)) {
        CompleteLater(done, irp, STATUS_BUFFER_TOO_SMALL, 0);
    } else {
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &job->request.record, sizeof(TQDEV_STATUS));
        CompleteLater(done, irp, STATUS_SUCCESS, sizeof(TQDEV_STATUS));
    }
}

static void Serve(TQCAM_DEVICE *device, TQCAM_JOB *job, KIRQL *irql, LIST_ENTRY *done) {
    if (job->isCancel) {
        CompleteLater(done, TakeIrp(job, SLOT_DATA), job->abort, 0);
        return;
    }
    if (job->abort == 0) {
        CompleteLater(done, TakeIrp(job, SLOT_SETTINGS), job->settingsStatus, 0);
        if (job->present[SLOT_DATA] && !job->served) {
            ServeRequest(device, job, irql);
            job->served = TRUE;
        }
    }
    if (job->abort != 0) {
        for (int slot = 0; slot < SLOT_COUNT; ++slot) {
            CompleteLater(done, TakeIrp(job, slot), job->abort, 0);
        }
        return;
    }
    CompleteLater(done, TakeIrp(job, SLOT_DATA), STATUS_SUCCESS, job->request.data_bytes);
    if (!job->present[SLOT_DATA]) {
        RtlZeroMemory(&job->request.record, sizeof job->request.record);
        job->request.record.word[0] = TQDEV_RESULT_SYSTEM_ERROR; /* status with no data transfer */
    }
    if (job->present[SLOT_STATUS]) {
        CompleteStatus(job, done);
    }
}

static BOOLEAN Finished(const TQCAM_JOB *job) {
    if (job->isCancel || job->abort != 0) {
        return TRUE;
    }
    return job->present[SLOT_STATUS] || !job->core.expect_status;
}

static void Audit(TQCAM_DEVICE *device) {
    BOOLEAN without = FALSE;
    device->counters.pending = CountPending(device, &without);
    if (without) {
        device->counters.pending_without_cancel++;
    }
}

static VOID NTAPI LaneMain(PVOID context) {
    TQCAM_LANE_START *start = context;
    TQCAM_DEVICE *device = start->device;
    const int lane = start->lane;
    KIRQL irql;
    KeAcquireSpinLock(&device->lock, &irql);
    for (;;) {
        TQCAM_JOB *job = TakeNext(device, lane);
        if (job == NULL) {
            if (device->stopping) {
                break;
            }
            Audit(device);
            KeReleaseSpinLock(&device->lock, irql);
            KeWaitForSingleObject(&device->wake[lane], Executive, KernelMode, FALSE, NULL);
            KeAcquireSpinLock(&device->lock, &irql);
            continue;
        }
        LIST_ENTRY done;
        InitializeListHead(&done);
        Serve(device, job, &irql, &done);
        job->inService = FALSE;
        if (Finished(job)) {
            Finish(job);
        }
        KeReleaseSpinLock(&device->lock, irql);
        CompleteAll(&done);
        WakeService(device); /* a cancel may be runnable now */
        KeAcquireSpinLock(&device->lock, &irql);
    }
    KeReleaseSpinLock(&device->lock, irql);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS StartService(TQCAM_DEVICE *device) {
    for (int lane = 0; lane < TQCAM_LANES; ++lane) {
        TQCAM_LANE_START *start = &device->laneStarts[lane];
        start->device = device;
        start->lane = lane;
        HANDLE handle;
        NTSTATUS status =
            PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, NULL, NULL, NULL, LaneMain, start);
        if (!NT_SUCCESS(status)) {
            StopService(device);
            return status;
        }
        status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, NULL, KernelMode,
                                           &device->threads[lane], NULL);
        ZwClose(handle);
        if (!NT_SUCCESS(status)) {
            device->threads[lane] = NULL;
        }
    }
    return STATUS_SUCCESS;
}

void StopService(TQCAM_DEVICE *device) {
    KIRQL irql;
    KeAcquireSpinLock(&device->lock, &irql);
    device->stopping = TRUE;
    KeReleaseSpinLock(&device->lock, irql);
    WakeService(device);
    for (int lane = 0; lane < TQCAM_LANES; ++lane) {
        if (device->threads[lane] != NULL) {
            KeWaitForSingleObject(device->threads[lane], Executive, KernelMode, FALSE, NULL);
            ObDereferenceObject(device->threads[lane]);
            device->threads[lane] = NULL;
        }
    }
}
