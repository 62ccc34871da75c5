// Process handles (OpenProcess) and the change of the priority class
// (SetPriorityClass).
#pragma once

#include <sys/types.h>

#include "Handle.h"

// The object of a process handle: bound to the process itself, not to its
// number.
struct PROCESS_OBJECT {
    HANDLE_HEADER header;
    pid_t pid;
    int fdPid;                   // pidfd, or -1 where the kernel has none
    int fdProcDir;               // /proc/PID, which stays bound to the process
    unsigned long long ullStart; // without a pidfd: its start time in clock ticks
    DWORD dwAccess;
};

// For CloseHandle: releases what a process handle holds.
void Process_Close(PROCESS_OBJECT *lpProc);
