// Process lookup and priority change.
#pragma once

#include "Win32Api.h"

// Flags for the process snapshot: the process list, with bit 0x40000000 set
// as the tool has always passed it.
#define TOLV_SNAPSHOT_FLAGS 0x40000002

// Copies lpszSrc, terminator included, with the ASCII capitals made small.
void CopyLower(LPSTR lpszDst, LPCSTR lpszSrc);

// Sets the priority class of the first process whose executable name equals
// lpszModule (ASCII case ignored). Nonzero on success. RunState.hProcess is
// non-null afterwards when a process was opened; *lpdwError, when given,
// receives the system's error code then, else ERROR_INVALID_DATA.
BOOL SetPriorityByExeName(LPCSTR lpszModule, DWORD dwPriorityClass, DWORD *lpdwError);
