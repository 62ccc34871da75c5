// The objects behind the handles the layer hands out (CreateToolhelp32Snapshot,
// OpenProcess), and the last error (GetLastError).
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include "Win32Api.h"

// Tags that tell the two kinds of handle apart, so that a handle of the wrong
// kind is refused; the tag is cleared when the object is freed.
#define HANDLE_KIND_SNAPSHOT 0x50414e53u // "SNAP"
#define HANDLE_KIND_PROCESS 0x434f5250u  // "PROC"

// One record serves both kinds; each uses only its own fields.
struct LINUX_HANDLE {
    DWORD dwKind;

    // Snapshot: the open /proc, whose process IDs and names are read as the
    // walk reaches them, and the last process ID the walk has taken up,
    // delivered or passed over: the walk goes on above it.
    DIR *lpProcDir;
    pid_t pidLast;
    pid_t pidOnly;       // nonzero: the snapshot lists just this process
    pid_t *lpKernelPids; // kernel threads, sorted; null where unknown
    size_t cKernelPids;
    size_t iKernelNext; // the first of them not below the walk's last process ID
    BOOL bOwnersFirst;  // check /proc file owners before robust-futex lists
    BOOL bOwnerProof;   // whether the owner root can be told from other users here
    uid_t uidRoot;      // how the owner root shows in this user namespace

    // Process: bound to the process itself, not to its number.
    pid_t pid;
    int fdPid;                   // pidfd, or -1 where the kernel has none
    int fdProcDir;               // /proc/PID, which stays bound to the process
    unsigned long long ullStart; // without a pidfd: its start time in clock ticks
    DWORD dwAccess;
};

// A zeroed handle of that kind, or null with the last error set.
LINUX_HANDLE *Handle_Alloc(DWORD dwKind);
// The object behind a handle of that kind, or null with ERROR_INVALID_HANDLE.
LINUX_HANDLE *Handle_Lookup(HANDLE hObject, DWORD dwKind);
