// The process list (CreateToolhelp32Snapshot, Process32First, Process32Next).
#pragma once

#include <sys/types.h>

#include "Handle.h"

// The object of a snapshot handle, whose fields Toolhelp.cpp alone knows.
struct SNAPSHOT_OBJECT;

// For OpenProcess: ERROR_SUCCESS when the process bound to fdProcDir is the
// one the walk last listed under its number, or was not listed; else
// ERROR_INVALID_PARAMETER, or the code of an error.
DWORD Toolhelp_CheckListed(pid_t pid, int fdProcDir);
// For CloseHandle: releases what a snapshot holds.
void Toolhelp_Close(SNAPSHOT_OBJECT *lpSnap);
