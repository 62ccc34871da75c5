// Whether a process the walk lists still runs, proven as cheaply as can be.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include "Proc.h"

// What the proofs keep for one snapshot: set up with it, freed with it.
struct LIVENESS {
    pid_t *lpKernelPids; // kernel threads, sorted; null where unknown
    size_t cKernelPids;
    size_t iKernelNext; // the first of them not below the walk's last process ID
    BOOL bOwnersFirst;  // check /proc file owners before robust-futex lists
    BOOL bOwnerProof;   // whether the owner root can be told from other users here
    uid_t uidRoot;      // how the owner root shows in this user namespace
};

// The proofs for a walk of the /proc open as fdProc.
void Liveness_SetUp(LIVENESS *lpLive, int fdProc);
// For a walk that starts over from its first entry.
void Liveness_Restart(LIVENESS *lpLive);
void Liveness_Free(LIVENESS *lpLive);
// Whether a listed process still runs: TRUE, or FALSE with errno set (ESRCH
// when it has ended). The walk asks in ascending order of pid from its first
// entry on.
BOOL Liveness_IsRunning(LIVENESS *lpLive, int fdProc, int fdComm, pid_t pid, STAT_INFO *lpInfo);
