// The process list (CreateToolhelp32Snapshot, Process32First, Process32Next):
// /proc read as the walk goes, one small file per process.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include "ErrorCode.h"
#include "ExeName.h"
#include "Liveness.h"
#include "Proc.h"
#include "Toolhelp.h"

// ReadEntry's answer for a process the walk passes over: ended, hidden or unreadable.
#define ENTRY_SKIPPED 0xFFFFFFFFu

// The last process a walk listed, so that OpenProcess can make sure that its
// number still names that process. The tool's own second list after the
// open (IsStillListed) cannot stand in for this: it asks by number and name
// only, while a number reused under the same name between the walk and the
// open is told apart here by its start time, once the handle holds it.
struct LISTED_PROCESS {
    pid_t pid; // 0 until the walk lists one
    char szName[MAX_PATH];
    BOOL bHasStart; // the start time is known where the stat record was read
    unsigned long long ullStart;
};

// The object of a snapshot handle.
struct SNAPSHOT_OBJECT {
    HANDLE_HEADER header;
    SNAPSHOT_OBJECT *lpNextOpen; // the next of the snapshots not yet closed
    // The open /proc, whose process IDs and names are read as the walk
    // reaches them, and the last process ID the walk has taken up,
    // delivered or passed over: the walk goes on above it.
    DIR *lpProcDir;
    pid_t pidLast;
    pid_t pidOnly; // nonzero: the snapshot lists just this process
    LIVENESS live;
    LISTED_PROCESS listed; // this walk's own: another walk meanwhile does not change it
};

// The snapshots not yet closed, the newest first, whose listings OpenProcess
// checks; a closed one's goes with it. One thread walks and opens.
static SNAPSHOT_OBJECT *lpOpenSnapshots;

// ERROR_SUCCESS where /proc is of this process's own PID namespace, whose
// numbers name the same processes here.
static DWORD CheckOwnProc(void)
{
    // The status record is about 1.5 kB; the two lines needed come early.
    char szStatus[4096];
    if (Proc_ReadFile(AT_FDCWD, "/proc/self/status", szStatus, sizeof(szStatus)) < 0)
        return errno == ENOENT ? ERROR_ACCESS_DENIED : ErrorCode_FromErrno(errno); // not listed there at all
    char szPid[32], szNsPid[32];
    Proc_FormatPid(szPid, "\nPid:\t", getpid(), "\n");
    // NSpid lists the number in each namespace from that of /proc down to
    // ours: a single number means that /proc is of our own namespace.
    Proc_FormatPid(szNsPid, "\nNSpid:\t", getpid(), "\n");
    if (strstr(szStatus, szPid) == NULL ||
        (strstr(szStatus, "\nNSpid:") != NULL && strstr(szStatus, szNsPid) == NULL))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// Reads the comm file open as fd, without its newline; the length, or -1.
static ssize_t ReadComm(int fd, char *lpszComm, size_t cbComm)
{
    ssize_t cch = read(fd, lpszComm, cbComm - 1);
    if (cch == 0)
        errno = ESRCH; // nothing to read: the process is being reaped
    if (cch <= 0)
        return -1;
    if (lpszComm[cch - 1] == '\n')
        cch--;
    lpszComm[cch] = '\0';
    return cch;
}

// The code for a file of a process that could not be read. An error of that
// entry's own (gone, hidden from us by hidepid, a file the kernel cannot give)
// passes over it, so that no process can stop the walk for those after it;
// only the walk's own errors end it, since the entry could be the match.
static DWORD EntryError(int nErrno)
{
    return ErrorCode_IsWalkError(nErrno) ? ErrorCode_FromErrno(nErrno) : ENTRY_SKIPPED;
}

// Fills the entry for one listed process, whose number lpszPid spells as /proc
// lists it: ERROR_SUCCESS, ENTRY_SKIPPED when it is passed over, or the
// error that ends the walk.
static DWORD ReadEntry(SNAPSHOT_OBJECT *lpSnap, pid_t pid, const char *lpszPid, LPPROCESSENTRY32 lppe)
{
    int fdProc = dirfd(lpSnap->lpProcDir);
    char szPath[64];
    char szComm[256];
    // The directory entry's own digits, rather than the number written out
    // again: the walk builds this path for every process.
    char *p = szPath;
    while (*lpszPid != '\0')
        *p++ = *lpszPid++;
    memcpy(p, "/comm", sizeof("/comm"));
    int fd = openat(fdProc, szPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return EntryError(errno);
    STAT_INFO info;
    memset(&info, 0, sizeof(info));
    ssize_t cch = ReadComm(fd, szComm, sizeof(szComm));
    BOOL bRunning = cch >= 0 && Liveness_IsRunning(&lpSnap->live, fdProc, fd, pid, &info);
    int nErrno = errno;
    close(fd);
    if (!bRunning)
        return EntryError(nErrno);

    DWORD dwSize = lppe->dwSize;
    memset(lppe, 0, sizeof(PROCESSENTRY32));
    lppe->dwSize = dwSize;
    lppe->th32ProcessID = (DWORD)pid;
    // Parent and thread count are known only where the stat record had to be
    // read; fetching them for every process would add to every walk's cost.
    lppe->th32ParentProcessID = info.dwParent;
    lppe->cntThreads = info.dwThreads;
    DWORD dwError = ExeName_FromComm(fdProc, pid, szComm, (size_t)cch, lppe->szExeFile);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    lpSnap->listed.pid = pid;
    strcpy(lpSnap->listed.szName, lppe->szExeFile); // it fits: the same size
    lpSnap->listed.bHasStart = info.chState != 0;
    lpSnap->listed.ullStart = info.ullStart;
    return ERROR_SUCCESS;
}

// ERROR_SUCCESS when the process bound to fdProcDir is the one listed: the
// same name, and the same start time where the walk read it; else
// ERROR_INVALID_PARAMETER, or the code of an error.
static DWORD VerifyListed(const LISTED_PROCESS *lpListed, int fdProcDir)
{
    char szComm[256];
    char szName[MAX_PATH];
    int fd = openat(fdProcDir, "comm", O_RDONLY | O_CLOEXEC);
    ssize_t cch = fd < 0 ? -1 : ReadComm(fd, szComm, sizeof(szComm));
    int nErrno = errno;
    if (fd >= 0)
        close(fd);
    if (cch < 0)
        return ErrorCode_FromProcErrno(nErrno);
    DWORD dwError = ExeName_FromComm(fdProcDir, 0, szComm, (size_t)cch, szName);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    if (strcmp(szName, lpListed->szName) != 0)
        return ERROR_INVALID_PARAMETER;
    STAT_INFO info;
    if (lpListed->bHasStart && !Proc_ReadStat(fdProcDir, "stat", &info))
        return ErrorCode_FromProcErrno(errno);
    if (lpListed->bHasStart && info.ullStart != lpListed->ullStart)
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

DWORD Toolhelp_CheckNotReplaced(pid_t pid, int fdProcDir)
{
    for (const SNAPSHOT_OBJECT *lpSnap = lpOpenSnapshots; lpSnap != NULL; lpSnap = lpSnap->lpNextOpen) {
        DWORD dwError = lpSnap->listed.pid == pid ? VerifyListed(&lpSnap->listed, fdProcDir) : ERROR_SUCCESS;
        if (dwError != ERROR_SUCCESS)
            return dwError;
    }
    return ERROR_SUCCESS;
}

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID)
{
    SNAPSHOT_OBJECT *lpSnap = (SNAPSHOT_OBJECT *)Handle_Alloc(sizeof(SNAPSHOT_OBJECT), HANDLE_KIND_SNAPSHOT);
    if (lpSnap == NULL)
        return INVALID_HANDLE_VALUE;
    lpSnap->lpNextOpen = lpOpenSnapshots;
    lpOpenSnapshots = lpSnap;
    // Windows lists every process whatever the number; a caller that gives one
    // looks for it in the list either way, and here need not wait for a walk
    // of all the processes before it.
    if (th32ProcessID <= (DWORD)INT_MAX)
        lpSnap->pidOnly = (pid_t)th32ProcessID;
    // Only processes are listed here; a snapshot of anything else is empty.
    if ((dwFlags & TH32CS_SNAPPROCESS) == 0)
        return lpSnap;

    DWORD dwError = CheckOwnProc();
    // The process IDs are read from this stream as the walk goes, not all at
    // once: a walk that stops at its match then costs in proportion to the
    // processes before it, not to all there are. Unlike a Windows snapshot, a
    // process started meanwhile with a number past the walk's may be listed.
    if (dwError == ERROR_SUCCESS && (lpSnap->lpProcDir = opendir("/proc")) == NULL)
        dwError = ErrorCode_FromErrno(errno);
    if (dwError != ERROR_SUCCESS) {
        CloseHandle(lpSnap);
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    Liveness_SetUp(&lpSnap->live, dirfd(lpSnap->lpProcDir));
    return lpSnap;
}

void Toolhelp_Close(SNAPSHOT_OBJECT *lpSnap)
{
    SNAPSHOT_OBJECT **lplpLink = &lpOpenSnapshots;
    while (*lplpLink != lpSnap)
        lplpLink = &(*lplpLink)->lpNextOpen;
    *lplpLink = lpSnap->lpNextOpen;
    if (lpSnap->lpProcDir != NULL)
        closedir(lpSnap->lpProcDir);
    Liveness_Free(&lpSnap->live);
}

static BOOL NextEntry(HANDLE hSnapshot, LPPROCESSENTRY32 lppe, BOOL bFirst)
{
    SNAPSHOT_OBJECT *lpSnap = (SNAPSHOT_OBJECT *)Handle_Lookup(hSnapshot, HANDLE_KIND_SNAPSHOT);
    if (lpSnap == NULL)
        return FALSE;
    if (lppe == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lppe->dwSize < sizeof(PROCESSENTRY32)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (lpSnap->lpProcDir == NULL) {
        SetLastError(ERROR_NO_MORE_FILES); // a snapshot of no processes
        return FALSE;
    }
    if (bFirst) {
        rewinddir(lpSnap->lpProcDir);
        lpSnap->pidLast = 0;
        Liveness_Restart(&lpSnap->live);
    }
    if (lpSnap->pidOnly != 0) {
        DWORD dwError = ERROR_NO_MORE_FILES;
        if (lpSnap->pidLast != lpSnap->pidOnly) {
            lpSnap->pidLast = lpSnap->pidOnly;
            char szPid[16];
            Proc_FormatPid(szPid, "", lpSnap->pidOnly, "");
            dwError = ReadEntry(lpSnap, lpSnap->pidOnly, szPid, lppe);
        }
        if (dwError == ERROR_SUCCESS)
            return TRUE;
        SetLastError(dwError == ENTRY_SKIPPED ? ERROR_NO_MORE_FILES : dwError);
        return FALSE;
    }
    for (;;) {
        errno = 0;
        struct dirent *lpEntry = readdir(lpSnap->lpProcDir);
        if (lpEntry == NULL) {
            SetLastError(errno != 0 ? ErrorCode_FromErrno(errno) : ERROR_NO_MORE_FILES);
            return FALSE;
        }
        pid_t pid;
        if (!Proc_ParsePid(lpEntry->d_name, &pid))
            continue;
        // /proc lists processes in ascending order; the walk promises that
        // order, so anything out of it is passed over rather than repeated.
        if (pid <= lpSnap->pidLast)
            continue;
        lpSnap->pidLast = pid;
        DWORD dwError = ReadEntry(lpSnap, pid, lpEntry->d_name, lppe);
        if (dwError == ERROR_SUCCESS)
            return TRUE;
        // An error of the walk's own (no file or memory left) ends it, as a
        // failed process list does on Windows: a match passed over could not be
        // told.
        if (dwError != ENTRY_SKIPPED) {
            SetLastError(dwError);
            return FALSE;
        }
    }
}

BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe)
{
    return NextEntry(hSnapshot, lppe, TRUE);
}

BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe)
{
    return NextEntry(hSnapshot, lppe, FALSE);
}
