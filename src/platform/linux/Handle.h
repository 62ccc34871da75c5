// The objects behind the handles the layer hands out (CreateToolhelp32Snapshot,
// OpenProcess), and the last error (GetLastError).
#pragma once

#include <stddef.h>

#include "Win32Api.h"

// Tags that tell the two kinds of handle apart, so that a handle of the wrong
// kind is refused; the tag is cleared when the object is freed.
#define HANDLE_KIND_SNAPSHOT 0x50414e53u // "SNAP"
#define HANDLE_KIND_PROCESS 0x434f5250u  // "PROC"

// What every object behind a handle begins with. Each kind is a type of its
// own that holds the rest: SNAPSHOT_OBJECT (Toolhelp.cpp), PROCESS_OBJECT
// (Process.h).
struct HANDLE_HEADER {
    DWORD dwKind;
};

// A zeroed object of cb bytes with the tag of that kind, or null with the
// last error set.
void *Handle_Alloc(size_t cb, DWORD dwKind);
// The object behind a handle of that kind, or null with ERROR_INVALID_HANDLE.
void *Handle_Lookup(HANDLE hObject, DWORD dwKind);
