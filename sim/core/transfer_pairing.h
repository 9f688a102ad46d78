/* How a handle's transfers make up requests, for every host of the camera.
 * A request reaches the driver as up to three transfers on one handle: its
 * settings (optional), its data, its status. The host keeps one job per
 * request with a TQCORE_JOB inside, makes a new job where a call here says so,
 * serves the jobs and completes their transfers. Freestanding, no storage of
 * its own; the host's lock is held around every call. */
#ifndef TQDEV_TRANSFER_PAIRING_H
#define TQDEV_TRANSFER_PAIRING_H

#ifdef __cplusplus
extern "C" {
#endif

struct TQCORE_PAIRING;

typedef struct TQCORE_JOB {
    void *host;                     /* the host's job around it */
    struct TQCORE_JOB *next;        /* in the handle's queue awaiting status */
    struct TQCORE_PAIRING *pairing; /* the handle, while open or queued */
    int expect_status;              /* a status transfer will end it */
} TQCORE_JOB;

/* Per handle. Zero-initialised is empty. */
typedef struct TQCORE_PAIRING {
    TQCORE_JOB *open;  /* settings taken, data transfer not yet */
    TQCORE_JOB *first; /* data taken, status transfer not yet: oldest first */
    TQCORE_JOB *last;
} TQCORE_PAIRING;

/* Settings open the new job `job`. A job still open (settings whose data
 * never came) is returned: it gets no status and ends once served. */
TQCORE_JOB *TqcoreSettingsTaken(TQCORE_PAIRING *pairing, TQCORE_JOB *job);

/* The job a data transfer joins: the open one; null when a new one is
 * needed. Then TqcoreDataTaken with the job the data went into. */
TQCORE_JOB *TqcoreJobForData(TQCORE_PAIRING *pairing);
void TqcoreDataTaken(TQCORE_PAIRING *pairing, TQCORE_JOB *job);

/* The job a status transfer ends: the oldest awaiting its status, else the
 * open one (settings without data); null when a new one is needed (a status
 * with no request). Then TqcoreStatusTaken with the job it went into. */
TQCORE_JOB *TqcoreJobForStatus(TQCORE_PAIRING *pairing);
void TqcoreStatusTaken(TQCORE_JOB *job);

/* A job that ends (served to its end, or ended early) leaves the pairing:
 * no later transfer pairs with it. */
void TqcoreUnpair(TQCORE_JOB *job);

/* Cancel, close and removal end what the handle holds: nothing taken so far
 * pairs with a later transfer. */
void TqcoreForgetPairing(TQCORE_PAIRING *pairing);

#ifdef __cplusplus
}
#endif

#endif
