// Pairing a handle's settings, data and status transfers into requests.
#include "core/transfer_pairing.h"

namespace {

void Enqueue(TQCORE_PAIRING *pairing, TQCORE_JOB *job) {
    job->next = nullptr;
    job->pairing = pairing;
    if (pairing->last != nullptr) {
        pairing->last->next = job;
    } else {
        pairing->first = job;
    }
    pairing->last = job;
}

TQCORE_JOB *Dequeue(TQCORE_PAIRING *pairing) {
    TQCORE_JOB *job = pairing->first;
    if (job != nullptr) {
        pairing->first = job->next;
        if (pairing->first == nullptr) {
            pairing->last = nullptr;
        }
        job->next = nullptr;
        job->pairing = nullptr;
    }
    return job;
}

TQCORE_JOB *TakeOpen(TQCORE_PAIRING *pairing) {
    TQCORE_JOB *job = pairing->open;
    if (job != nullptr) {
        pairing->open = nullptr;
        job->pairing = nullptr;
    }
    return job;
}

} // namespace

TQCORE_JOB *TqcoreSettingsTaken(TQCORE_PAIRING *pairing, TQCORE_JOB *job) {
    TQCORE_JOB *flushed = TakeOpen(pairing);
    if (flushed != nullptr) {
        flushed->expect_status = 0;
    }
    job->pairing = pairing;
    pairing->open = job;
    return flushed;
}

TQCORE_JOB *TqcoreJobForData(TQCORE_PAIRING *pairing) {
    return pairing->open;
}

void TqcoreDataTaken(TQCORE_PAIRING *pairing, TQCORE_JOB *job) {
    if (pairing->open == job) {
        TakeOpen(pairing);
    }
    job->expect_status = 1;
    Enqueue(pairing, job);
}

TQCORE_JOB *TqcoreJobForStatus(TQCORE_PAIRING *pairing) {
    TQCORE_JOB *job = Dequeue(pairing);
    return job != nullptr ? job : TakeOpen(pairing);
}

void TqcoreStatusTaken(TQCORE_JOB *job) {
    job->expect_status = 1;
}

void TqcoreUnpair(TQCORE_JOB *job) {
    TQCORE_PAIRING *pairing = job->pairing;
    if (pairing == nullptr) {
        return;
    }
    if (pairing->open == job) {
        TakeOpen(pairing);
        return;
    }
    TQCORE_JOB *before = nullptr;
    for (TQCORE_JOB *at = pairing->first; at != nullptr; before = at, at = at->next) {
        if (at != job) {
            continue;
        }
        if (before != nullptr) {
            before->next = job->next;
        } else {
            pairing->first = job->next;
        }
        if (pairing->last == job) {
            pairing->last = before;
        }
        job->next = nullptr;
        job->pairing = nullptr;
        return;
    }
}

void TqcoreForgetPairing(TQCORE_PAIRING *pairing) {
    TakeOpen(pairing);
    while (Dequeue(pairing) != nullptr) {
    }
}
