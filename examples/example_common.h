/* Small helpers the examples share: reporting a failed call by its result
 * name, sleeping, waiting for Enter, and reading a field that the library
 * writes on another thread. */
#ifndef EXAMPLE_COMMON_H
#define EXAMPLE_COMMON_H

/* nanosleep under strict C11; include this header first. */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L
#endif

#include <stdio.h>

#include <tqdev.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

/* Prints "call: NAME (code)" and returns 1 for a failure, 0 for success. */
static inline int ExampleFailure(const char *call, uint32_t result) {
    const char *name;
    if (result == TQDEV_RESULT_OK) {
        return 0;
    }
    name = TqdevResultName(result);
    if (name != NULL) {
        fprintf(stderr, "%s: %s (%u)\n", call, name, (unsigned)result);
    } else {
        fprintf(stderr, "%s: the driver reported %u\n", call, (unsigned)result);
    }
    return 1;
}

static inline void ExampleSleep(unsigned milliseconds) {
#ifdef _WIN32
    Sleep(milliseconds);
#else
    struct timespec pause;
    pause.tv_sec = milliseconds / 1000;
    pause.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    nanosleep(&pause, NULL);
#endif
}

/* Returns at the end of a line or of the input. */
static inline void ExampleWaitForEnter(void) {
    int c;
    do {
        c = getchar();
    } while (c != '\n' && c != EOF);
}

/* The library writes progress records on its completion threads; read them
 * with an atomic load. */
static inline uint32_t ExampleLoad(const uint32_t *field) {
#if defined(__GNUC__) || defined(__clang__)
    return __atomic_load_n(field, __ATOMIC_ACQUIRE);
#else
    return *(const volatile uint32_t *)field;
#endif
}

static inline void ExampleStore(uint32_t *field, uint32_t value) {
#if defined(__GNUC__) || defined(__clang__)
    __atomic_store_n(field, value, __ATOMIC_RELEASE);
#else
    *(volatile uint32_t *)field = value;
#endif
}

#endif
