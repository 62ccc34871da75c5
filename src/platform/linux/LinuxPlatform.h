// What crosses the files of the Linux layer: the handle objects and the
// helpers that more than one file calls.
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
    // walk reaches them, and the last process ID delivered.
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

// Handles.cpp: a zeroed handle of that kind, or null with the last error set.
LINUX_HANDLE *AllocHandle(DWORD dwKind);
// The object behind a handle of that kind, or null with ERROR_INVALID_HANDLE.
LINUX_HANDLE *LookupHandle(HANDLE hObject, DWORD dwKind);

// CloseHandle releases what the object holds; each kind frees its own part
// (Toolhelp.cpp, Process.cpp).
void CloseSnapshot(LINUX_HANDLE *lpHandle);
void CloseProcess(LINUX_HANDLE *lpHandle);

// ProcFiles.cpp: the Win32 code closest to an errno value.
DWORD ErrnoToWin32(int nErrno);
// The same for a file under /proc/PID, where "not found" means the process ended.
DWORD ProcErrnoToWin32(int nErrno);
// Whether an errno value read from /proc/PID means that the process is gone.
BOOL IsGone(int nErrno);
// Whether an errno value is the walk's own (no file or memory left), which
// ends it; any other error reading one process's files belongs to that entry.
BOOL IsWalkError(int nErrno);

// What the layer reads of a stat record.
struct STAT_INFO {
    char chState;
    DWORD dwFlags;
    DWORD dwParent;
    DWORD dwSession;
    DWORD dwThreads;
    unsigned long long ullStart;
};
// A directory entry of /proc or /proc/PID/task that names a process or thread:
// digits as /proc writes them, without a leading zero.
BOOL ParsePid(const char *lpszName, pid_t *lpPid);
// Writes prefix, the number and suffix; the buffer holds 64 characters.
void PidPath(char *lpszDst, const char *lpszPrefix, pid_t pid, const char *lpszSuffix);
// Reads a small file whole into a zero-terminated buffer; the length, or -1.
ssize_t ReadSmallFile(int fdDir, const char *lpszPath, char *lpBuf, size_t cbBuf);
// The children of the process's first thread, as ReadSmallFile reads them.
ssize_t ReadChildren(pid_t pid, char *lpBuf, size_t cbBuf);
// The state, flags, parent, session, thread count and start time; FALSE with errno set.
BOOL ReadStat(int fdDir, const char *lpszPath, STAT_INFO *lpInfo);
// The same of /proc/PID/stat.
BOOL ReadStatOf(pid_t pid, STAT_INFO *lpInfo);
// Only a leader with no thread left marks an ended process.
BOOL HasEnded(const STAT_INFO *lpInfo);

// Liveness.cpp, for the walk: the liveness proofs, set up for a snapshot
// and freed with it.
void SetUpLiveness(LINUX_HANDLE *lpSnap);
// Whether a listed process still runs: TRUE, or FALSE with errno set (ESRCH
// when it has ended). The walk asks in ascending order of pid from its first
// entry on.
BOOL IsRunning(LINUX_HANDLE *lpSnap, int fdComm, pid_t pid, STAT_INFO *lpInfo);
// ExeName.cpp: the name a process is listed under, from its comm (without the newline, of
// cchComm characters): where the kernel cut it, made whole from the name the
// program was started under. ERROR_SUCCESS, or the code of an error that left
// the name unknown.
DWORD FullName(int fdDir, pid_t pid, const char *lpszComm, size_t cchComm, LPSTR lpszDst);

// Toolhelp.cpp, for OpenProcess: ERROR_SUCCESS when the process bound to
// fdProcDir is the one the walk last listed under its number, or was not
// listed; else ERROR_INVALID_PARAMETER, or the code of an error.
DWORD CheckListed(pid_t pid, int fdProcDir);

// CpuGroup.cpp, for SetPriorityClass: the class on the group the handle's
// process competes in, where that holds no other process whose share it
// would change; an error only where the group's own change failed.
DWORD SetCompetingGroup(const LINUX_HANDLE *lpProc, int nNice, BOOL bIdle);
// Autogroup.cpp: the nice of the process's session autogroup.
DWORD SetSessionGroup(const LINUX_HANDLE *lpProc, const STAT_INFO *lpInfo, int nNice);
// UnitWeight.cpp: the CPUWeight of the systemd unit that is the process's
// cgroup (a path of cgroup v2), asked of the unit's manager; a refusal
// leaves the unit as it was.
void SetUnitWeight(const LINUX_HANDLE *lpProc, const STAT_INFO *lpInfo, const char *lpszCgroup, int nNice,
                   BOOL bIdle);

// Arguments.cpp: main hands its argument vector over before the tool starts.
void SetArguments(int argc, char **argv);
