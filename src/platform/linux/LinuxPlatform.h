// What the files of the Linux layer share: the handle objects, the last
// error and the argument vector that main hands over.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include "Win32Api.h"

// Codes the layer reports beyond those the tool itself names.
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2
#endif
#ifndef ERROR_TOO_MANY_OPEN_FILES
#define ERROR_TOO_MANY_OPEN_FILES 4
#endif

// Tags that tell the two kinds of handle apart, so that a handle of the wrong
// kind is refused; the tag is cleared when the object is freed.
#define HANDLE_KIND_SNAPSHOT 0x50414e53u // "SNAP"
#define HANDLE_KIND_PROCESS 0x434f5250u  // "PROC"

// One record serves both kinds; each uses only its own fields.
struct LINUX_HANDLE {
    DWORD dwKind;

    // Snapshot: the open /proc, whose process IDs and names are read as the
    // walk reaches them, and the last process ID delivered.
    DIR *lpProcDir;
    pid_t pidLast;
    pid_t *lpKernelPids; // kernel threads, sorted; null where unknown
    size_t cKernelPids;
    BOOL bOwnersFirst; // check /proc file owners before robust-futex lists
    uid_t uidRoot;     // how the owner root shows in this user namespace

    // Process: bound to the process itself, not to its number.
    pid_t pid;
    int fdPid;                   // pidfd, or -1 where the kernel has none
    int fdProcDir;               // without a pidfd: /proc/PID, which stays bound to the process
    unsigned long long ullStart; // and its start time in clock ticks
    DWORD dwAccess;
};

// A zeroed handle of that kind, or null with the last error set.
LINUX_HANDLE *AllocHandle(DWORD dwKind);

// The object behind a handle of that kind, or null with ERROR_INVALID_HANDLE.
LINUX_HANDLE *LookupHandle(HANDLE hObject, DWORD dwKind);

// Releases whatever the object holds; the kind-specific part lives with its kind.
void CloseSnapshot(LINUX_HANDLE *lpHandle);
void CloseProcess(LINUX_HANDLE *lpHandle);

// The Win32 code closest to an errno value.
DWORD ErrnoToWin32(int nErrno);

// main hands its argument vector over before the tool starts.
void SetArguments(int argc, char **argv);

// The Windows command line for an argument vector: the arguments joined by
// blanks, those that would not arrive as one token enclosed in double quotes.
// Allocated with malloc; null when memory runs out.
LPSTR BuildCommandLine(int argc, char **argv);
