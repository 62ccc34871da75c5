// The process list (CreateToolhelp32Snapshot, Process32First, Process32Next).
#pragma once

#include "Handle.h"

// For OpenProcess: ERROR_SUCCESS when the process bound to fdProcDir is the
// one the walk last listed under its number, or was not listed; else
// ERROR_INVALID_PARAMETER, or the code of an error.
DWORD Toolhelp_CheckListed(pid_t pid, int fdProcDir);
// For CloseHandle: releases what a snapshot holds.
void Toolhelp_Close(LINUX_HANDLE *lpSnap);
