/* Taking the driver's control requests: every transfer is held with a cancel
 * routine and grouped per handle into jobs (settings, data, status) for the
 * service threads; refusals and test controls end at once. */
#include "driver.h"

static void CompleteNow(PIRP irp, NTSTATUS status, ULONG_PTR bytes) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? bytes : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

/* Scripts are one-shot: the first entry with the key is taken. */
static BOOLEAN TakeScript(TQCAM_SCRIPT *list, ULONG *count, uint32_t key, TQCAM_SCRIPT *out) {
    for (ULONG i = 0; i < *count; ++i) {
        if (list[i].key == key) {
            *out = list[i];
            for (ULONG j = i + 1; j < *count; ++j) {
                list[j - 1] = list[j];
            }
            --*count;
            return TRUE;
        }
    }
    return FALSE;
}

static BOOLEAN AddScript(TQCAM_SCRIPT *list, ULONG *count, const TQCAM_SCRIPT *entry) {
    if (*count == TQCAM_SCRIPT_MAX) {
        return FALSE;
    }
    list[(*count)++] = *entry;
    return TRUE;
}

/* A scripted refusal, or the refusal of a code the camera does not know. */
static NTSTATUS Refusal(TQCAM_DEVICE *device, uint32_t code) {
    TQCAM_SCRIPT script;
    if (TakeScript(device->refusals, &device->refusalCount, code, &script)) {
        return (NTSTATUS)script.value;
    }
    const BOOLEAN known = code == TQPROTO_STATUS_CODE || code == TQPROTO_CANCEL_CODE ||
                          TqcoreRequestNumber(code) != TQCORE_NO_REQUEST;
    return known ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST;
}

static TQCAM_JOB *NewJob(TQCAM_DEVICE *device, TQCAM_FILE *file) {
    TQCAM_JOB *job = ExAllocatePoolWithTag(NonPagedPool, sizeof *job, TQCAM_TAG);
    if (job == NULL) {
        return NULL;
    }
    RtlZeroMemory(job, sizeof *job);
    job->core.host = job;
    job->file = file;
    job->seq = device->nextSeq++;
    job->request.handle = &file->handle;
    file->references++;
    InsertTailList(&device->jobs, &job->link);
    return job;
}

static void ApplyScripts(TQCAM_DEVICE *device, TQCAM_JOB *job) {
    TQCAM_SCRIPT script;
    if (TakeScript(device->results, &device->resultCount, job->request.number, &script)) {
        job->scriptedResult = TRUE;
        job->result = script.value;
    }
    if (TakeScript(device->words, &device->wordCount, job->request.number, &script)) {
        job->scriptedWords = TRUE;
        RtlCopyMemory(job->words, script.words, sizeof job->words);
    }
}

/* Where the request's buffers are: the system buffer, or for the frame the
 * caller's own pages. */
static BOOLEAN MapBuffers(PIRP irp, uint32_t code, TQCORE_REQUEST *request) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    PVOID system = irp->AssociatedIrp.SystemBuffer;
    request->in = inSize != 0 ? system : NULL;
    request->in_size = inSize;
    request->out_size = outSize;
    if ((code & 3) == METHOD_IN_DIRECT) {
        request->out = NULL;
        if (irp->MdlAddress != NULL) {
            request->out = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
            if (request->out == NULL) {
                return FALSE;
            }
        }
    } else {
        request->out = outSize != 0 ? system : NULL;
    }
    return TRUE;
}

static TQCAM_JOB *TakeSettings(TQCAM_DEVICE *device, TQCAM_FILE *file, PIRP irp) {
    TQCAM_JOB *job = NewJob(device, file);
    if (job == NULL) {
        return NULL;
    }
    /* Settings whose data never came still complete. */
    TQCORE_JOB *flushed = TqcoreSettingsTaken(&file->pairing, &job->core);
    if (flushed != NULL) {
        Enqueue(device, flushed->host);
    }
    const ULONG size =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength;
    if (size == sizeof(TQDEV_CAPTURE_SETTINGS) && irp->AssociatedIrp.SystemBuffer != NULL) {
        job->request.have_settings = 1;
        RtlCopyMemory(&job->request.settings, irp->AssociatedIrp.SystemBuffer, size);
    } else {
        job->settingsStatus = STATUS_INVALID_PARAMETER;
    }
    return job;
}

static TQCAM_JOB *TakeData(TQCAM_DEVICE *device, TQCAM_FILE *file, PIRP irp, uint32_t code) {
    TQCORE_JOB *open = TqcoreJobForData(&file->pairing);
    TQCAM_JOB *job = open != NULL ? open->host : NewJob(device, file);
    if (job == NULL) {
        return NULL;
    }
    TqcoreDataTaken(&file->pairing, &job->core);
    job->request.number = TqcoreRequestNumber(code);
    job->lane = TqcoreRequestKind(job->request.number) == TQCORE_KIND_STATE ? 1 : 0;
    if (!MapBuffers(irp, code, &job->request)) {
        job->abort = STATUS_INSUFFICIENT_RESOURCES;
    }
    ApplyScripts(device, job);
    return job;
}

static TQCAM_JOB *TakeStatus(TQCAM_DEVICE *device, TQCAM_FILE *file) {
    TQCORE_JOB *paired = TqcoreJobForStatus(&file->pairing);
    TQCAM_JOB *job = paired != NULL ? paired->host : NewJob(device, file);
    if (job == NULL) {
        return NULL;
    }
    TqcoreStatusTaken(&job->core);
    if (device->statusFailureCount != 0) {
        job->statusFailure = device->statusFailures[0];
        for (ULONG i = 1; i < device->statusFailureCount; ++i) {
            device->statusFailures[i - 1] = device->statusFailures[i];
        }
        device->statusFailureCount--;
    }
    return job;
}

static TQCAM_JOB *TakeCancel(TQCAM_DEVICE *device, TQCAM_FILE *file) {
    AbortJobs(device, file, STATUS_CANCELLED, TRUE);
    TQCAM_JOB *job = NewJob(device, file);
    if (job != NULL) {
        job->isCancel = TRUE;
    }
    return job;
}

static VOID NTAPI OnCancel(PDEVICE_OBJECT self, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    TQCAM_DEVICE *device = self->DeviceExtension;
    KIRQL irql;
    KeAcquireSpinLock(&device->lock, &irql);
    TQCAM_JOB *job = irp->Tail.Overlay.DriverContext[0];
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (job->irp[slot] == irp) {
            job->irp[slot] = NULL;
        }
    }
    device->counters.ended_by_cancel_routine++;
    if (job->finished) {
        /* Its other transfers have ended; only this one kept it. */
        if (job->irp[SLOT_SETTINGS] == NULL && job->irp[SLOT_DATA] == NULL &&
            job->irp[SLOT_STATUS] == NULL && !job->queued && !job->inService) {
            RemoveEntryList(&job->link);
            ReleaseFile(job->file);
            ExFreePoolWithTag(job, TQCAM_TAG);
        }
    } else {
        /* A cancelled transfer ends its whole request. */
        if (job->abort == 0) {
            job->abort = STATUS_CANCELLED;
        }
        TqcoreUnpair(&job->core);
        Enqueue(device, job);
    }
    KeReleaseSpinLock(&device->lock, irql);
    CompleteNow(irp, STATUS_CANCELLED, 0);
    WakeService(device);
}

static NTSTATUS Control(TQCAM_DEVICE *device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    if (inSize < sizeof(TQCAM_CONTROL) || irp->AssociatedIrp.SystemBuffer == NULL) {
        CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    TQCAM_CONTROL control;
    RtlCopyMemory(&control, irp->AssociatedIrp.SystemBuffer, sizeof control);
    TQCAM_SCRIPT script = {control.a, control.b, {0}};
    RtlCopyMemory(script.words, control.words, sizeof script.words);
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR bytes = 0;
    KIRQL irql;
    KeAcquireSpinLock(&device->lock, &irql);
    switch (control.operation) {
    case TQCAM_CONTROL_COUNTERS: {
        BOOLEAN without = FALSE;
        device->counters.pending = CountPending(device, &without);
        if (without) {
            device->counters.pending_without_cancel++;
        }
        if (outSize < sizeof(TQCAM_COUNTERS)) {
            status = STATUS_BUFFER_TOO_SMALL;
        } else {
            RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &device->counters,
                          sizeof device->counters);
            bytes = sizeof device->counters;
        }
        break;
    }
    case TQCAM_CONTROL_SCRIPT_RESULT:
        status = AddScript(device->results, &device->resultCount, &script) ? STATUS_SUCCESS
                                                                           : STATUS_QUOTA_EXCEEDED;
        break;
    case TQCAM_CONTROL_SCRIPT_WORDS:
        status = AddScript(device->words, &device->wordCount, &script) ? STATUS_SUCCESS
                                                                       : STATUS_QUOTA_EXCEEDED;
        break;
    case TQCAM_CONTROL_REFUSE:
        status = AddScript(device->refusals, &device->refusalCount, &script)
                     ? STATUS_SUCCESS
                     : STATUS_QUOTA_EXCEEDED;
        break;
    case TQCAM_CONTROL_FAIL_STATUS:
        if (device->statusFailureCount == TQCAM_SCRIPT_MAX) {
            status = STATUS_QUOTA_EXCEEDED;
        } else {
            device->statusFailures[device->statusFailureCount++] = (NTSTATUS)control.b;
        }
        break;
    case TQCAM_CONTROL_HOLD:
        device->hold = control.a != 0;
        break;
    case TQCAM_CONTROL_RELEASE:
        device->releaseMark = device->nextSeq;
        break;
    case TQCAM_CONTROL_FAIL_OPEN:
        device->openFailure = (NTSTATUS)control.b;
        break;
    case TQCAM_CONTROL_CLEAR:
        device->resultCount = device->wordCount = device->refusalCount = 0;
        device->statusFailureCount = 0;
        device->openFailure = STATUS_SUCCESS;
        device->hold = FALSE;
        break;
    case TQCAM_CONTROL_TIMING:
        device->camera.sensor.frame_period_us = control.a;
        device->camera.sensor.exposure_us = control.b;
        break;
    default:
        status = STATUS_INVALID_PARAMETER;
        break;
    }
    KeReleaseSpinLock(&device->lock, irql);
    WakeService(device); /* a hold may have ended */
    CompleteNow(irp, status, bytes);
    return status;
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT self, PIRP irp) {
    TQCAM_DEVICE *device = self->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const uint32_t code = stack->Parameters.DeviceIoControl.IoControlCode;
    if (code == TQCAM_CONTROL_CODE) {
        return Control(device, irp);
    }
    TQCAM_FILE *file = stack->FileObject != NULL ? stack->FileObject->FsContext : NULL;
    if (file == NULL) {
        CompleteNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    KIRQL irql;
    KeAcquireSpinLock(&device->lock, &irql);
    NTSTATUS refusal = device->removed ? STATUS_DEVICE_REMOVED : Refusal(device, code);
    TQCAM_JOB *job = NULL;
    int slot = SLOT_DATA;
    if (refusal == STATUS_SUCCESS) {
        if (code == TQPROTO_CANCEL_CODE) {
            job = TakeCancel(device, file);
        } else if (code == TQPROTO_STATUS_CODE) {
            job = TakeStatus(device, file);
            slot = SLOT_STATUS;
        } else if (code == TQPROTO_SETTINGS_CODE &&
                   stack->Parameters.DeviceIoControl.InputBufferLength != 0) {
            job = TakeSettings(device, file, irp);
            slot = SLOT_SETTINGS;
        } else {
            job = TakeData(device, file, irp, code);
        }
        if (job == NULL) {
            refusal = STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    /* A refused call ends nothing the handle holds: the caller cancels. */
    if (refusal != STATUS_SUCCESS) {
        KeReleaseSpinLock(&device->lock, irql);
        WakeService(device);
        CompleteNow(irp, refusal, 0);
        return refusal;
    }
    IoMarkIrpPending(irp);
    irp->Tail.Overlay.DriverContext[0] = job;
    job->present[slot] = TRUE;
    job->irp[slot] = irp;
    IoSetCancelRoutine(irp, OnCancel);
    BOOLEAN cancelled = FALSE;
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        /* Cancelled before the routine was set: end it here. */
        job->irp[slot] = NULL;
        if (job->abort == 0) {
            job->abort = STATUS_CANCELLED;
        }
        cancelled = TRUE;
    }
    if (slot != SLOT_SETTINGS || cancelled) {
        Enqueue(device, job); /* settings wait for their data transfer */
    }
    KeReleaseSpinLock(&device->lock, irql);
    if (cancelled) {
        CompleteNow(irp, STATUS_CANCELLED, 0);
    }
    WakeService(device);
    return STATUS_PENDING;
}
