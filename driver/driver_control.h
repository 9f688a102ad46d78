/* The driver's private control code: test controls and counters. The library
 * never sends it; the integration tests and tqcamctl do. Shared by the driver
 * (C) and its user-mode callers (C and C++). */
#ifndef TQCAM_DRIVER_CONTROL_H
#define TQCAM_DRIVER_CONTROL_H

#include <stdint.h>

#include "tqdev_protocol.h"

#define TQCAM_CONTROL_CODE TQPROTO_TEST_CONTROL_CODE

#define TQCAM_CONTROL_COUNTERS 0      /* reply: TQCAM_COUNTERS */
#define TQCAM_CONTROL_SCRIPT_RESULT 1 /* a: request, b: status word 0 of its next serving */
#define TQCAM_CONTROL_SCRIPT_WORDS                                                                 \
    2                          /* a: request, words: status words 1..6 of its next serving         \
                                */
#define TQCAM_CONTROL_REFUSE 3 /* a: control code, b: NTSTATUS its next call ends with at issue */
#define TQCAM_CONTROL_FAIL_STATUS 4 /* b: NTSTATUS the next status transfer ends with */
#define TQCAM_CONTROL_HOLD 5      /* a: 1 holds requests issued from now on, 0 serves them again */
#define TQCAM_CONTROL_RELEASE 6   /* serves every request issued so far, even while holding */
#define TQCAM_CONTROL_FAIL_OPEN 7 /* b: NTSTATUS the next open ends with */
#define TQCAM_CONTROL_CLEAR 8     /* forgets scripts, refusals and the hold */
#define TQCAM_CONTROL_TIMING 9    /* a: frame period, b: default exposure (microseconds) */

typedef struct TQCAM_CONTROL {
    uint32_t operation;
    uint32_t a;
    uint32_t b;
    uint32_t words[6];
} TQCAM_CONTROL;

typedef struct TQCAM_COUNTERS {
    uint32_t pending; /* requests the driver holds now */
    uint32_t ended_by_cancel_routine;
    uint32_t pending_without_cancel; /* held requests seen without a cancel routine: must stay 0 */
    uint32_t served;                 /* requests served since the device started */
} TQCAM_COUNTERS;

#endif
