// Whether a process the walk lists still runs, proven as cheaply as can be.
#pragma once

#include "Handle.h"
#include "Proc.h"

// The liveness proofs, set up for a snapshot and freed with it.
void Liveness_SetUp(LINUX_HANDLE *lpSnap);
// Whether a listed process still runs: TRUE, or FALSE with errno set (ESRCH
// when it has ended). The walk asks in ascending order of pid from its first
// entry on.
BOOL Liveness_IsRunning(LINUX_HANDLE *lpSnap, int fdComm, pid_t pid, STAT_INFO *lpInfo);
