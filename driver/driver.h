/* The kernel-mode camera driver's own records: a device, its open handles and
 * the jobs (settings, data and status transfers of one request) that its two
 * service threads work through. The camera's rules live in the shared core. */
#ifndef TQCAM_DRIVER_H
#define TQCAM_DRIVER_H

#include <ntddk.h>

#include "core/camera_core.h"
#include "core/transfer_pairing.h"
#include "driver_control.h"

#define TQCAM_TAG 0x6D616354u /* "Tcam" in memory */
#define TQCAM_LANES 2         /* capture-state requests must not wait behind a frame */
#define TQCAM_SCRIPT_MAX 16

typedef struct TQCAM_DEVICE TQCAM_DEVICE;

typedef struct TQCAM_FILE {
    LIST_ENTRY link;
    TQCAM_DEVICE *device;
    LONG references;        /* the open handle and each of its jobs */
    TQCORE_PAIRING pairing; /* how its transfers make up requests */
    TQCORE_HANDLE handle;
} TQCAM_FILE;

/* Transfer slots of a job. */
enum { SLOT_SETTINGS, SLOT_DATA, SLOT_STATUS, SLOT_COUNT };

typedef struct TQCAM_JOB {
    LIST_ENTRY link;      /* every job of the device */
    LIST_ENTRY queueLink; /* its lane while queued */
    TQCAM_FILE *file;
    ULONG64 seq;
    int lane;
    TQCORE_JOB core; /* its place among the handle's transfers */
    BOOLEAN isCancel, queued, inService, served, finished;
    BOOLEAN present[SLOT_COUNT]; /* the transfer was taken */
    PIRP irp[SLOT_COUNT];        /* still pending here; NULL once completed */
    NTSTATUS settingsStatus;
    NTSTATUS statusFailure;
    NTSTATUS abort; /* 0 while not ended early */
    BOOLEAN scriptedResult, scriptedWords;
    uint32_t result;
    uint32_t words[6];
    TQCORE_REQUEST request;
} TQCAM_JOB;

typedef struct TQCAM_SCRIPT {
    uint32_t key; /* request number or control code */
    uint32_t value;
    uint32_t words[6];
} TQCAM_SCRIPT;

typedef struct TQCAM_LANE_START {
    TQCAM_DEVICE *device;
    int lane;
} TQCAM_LANE_START;

struct TQCAM_DEVICE {
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT lower;
    PDEVICE_OBJECT pdo;
    UNICODE_STRING interfaceName;
    KSPIN_LOCK lock;
    KEVENT wake[TQCAM_LANES];
    PVOID threads[TQCAM_LANES];
    TQCAM_LANE_START laneStarts[TQCAM_LANES];
    BOOLEAN stopping, removed, started;
    LIST_ENTRY files;
    LIST_ENTRY jobs;
    LIST_ENTRY lanes[TQCAM_LANES];
    ULONG64 nextSeq;
    /* Test controls */
    TQCAM_SCRIPT results[TQCAM_SCRIPT_MAX];
    ULONG resultCount;
    TQCAM_SCRIPT words[TQCAM_SCRIPT_MAX];
    ULONG wordCount;
    TQCAM_SCRIPT refusals[TQCAM_SCRIPT_MAX];
    ULONG refusalCount;
    NTSTATUS statusFailures[TQCAM_SCRIPT_MAX];
    ULONG statusFailureCount;
    NTSTATUS openFailure;
    BOOLEAN hold;
    ULONG64 releaseMark;
    TQCAM_COUNTERS counters;
    TQCORE_CAMERA camera;
};

/* Service threads and transfers (service.c). */
NTSTATUS StartService(TQCAM_DEVICE *device);
void StopService(TQCAM_DEVICE *device);
void WakeService(TQCAM_DEVICE *device);
void Enqueue(TQCAM_DEVICE *device, TQCAM_JOB *job);
/* Ends every job of a file (or of every file) early; lock held. */
void AbortJobs(TQCAM_DEVICE *device, TQCAM_FILE *file, NTSTATUS status, BOOLEAN keepCancels);
void ReleaseFile(TQCAM_FILE *file);
/* Requests held by the driver; lock held. */
ULONG CountPending(TQCAM_DEVICE *device, BOOLEAN *withoutCancel);

/* Taking requests (requests.c). */
NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT self, PIRP irp);

#endif
