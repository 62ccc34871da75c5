// The process list (CreateToolhelp32Snapshot, Process32First, Process32Next).
#pragma once

#include <sys/types.h>

#include "Handle.h"

// The object of a snapshot handle, whose fields Toolhelp.cpp alone knows.
struct SNAPSHOT_OBJECT;

// For OpenProcess: ERROR_INVALID_PARAMETER when a snapshot not yet closed
// last listed the number pid for another process than the one bound to
// fdProcDir, the code of an error that left that unknown, else
// ERROR_SUCCESS (also for a number no open snapshot last listed).
DWORD Toolhelp_CheckNotReplaced(pid_t pid, int fdProcDir);
// For CloseHandle: releases what a snapshot holds.
void Toolhelp_Close(SNAPSHOT_OBJECT *lpSnap);
