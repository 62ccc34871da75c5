// Process lookup and priority change.
#pragma once

#include "Win32Api.h"

// Not in every SDK's headers: asks the process list to leave out heap data.
#ifndef TH32CS_SNAPNOHEAPS
#define TH32CS_SNAPNOHEAPS 0x40000000
#endif

// Flags for the process snapshot (0x40000002): the process list, and no heap
// lists, which the walk never reads.
#define TOLV_SNAPSHOT_FLAGS (TH32CS_SNAPNOHEAPS | TH32CS_SNAPPROCESS)

// How often the list is walked when the first match ends before a second
// list confirms it; enough for a restart or two, and bounded.
#define TOLV_LOOKS 3

// Copies lpszSrc, terminator included, with the ASCII capitals made small;
// the second byte of a double-byte character is never folded.
void CopyLower(LPSTR lpszDst, LPCSTR lpszSrc);

// Sets the priority class of the first process whose executable name equals
// lpszModule (ASCII case ignored), once opened and found still listed under
// that name; a first match that ended before that gives way to the next one,
// up to TOLV_LOOKS times. Nonzero on success. RunState.hProcess is non-null afterwards
// when a process was opened; *lpdwError, when given, receives the system's
// error code then, else ERROR_INVALID_DATA.
BOOL SetPriorityByExeName(LPCSTR lpszModule, DWORD dwPriorityClass, DWORD *lpdwError);
