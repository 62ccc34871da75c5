// Process handles: bound to the process itself, not to its number.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "LinuxPlatform.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

DWORD CheckStillRuns(const LINUX_HANDLE *lpProc)
{
    if (lpProc->fdPid >= 0) {
        // A pidfd turns readable once its process has ended.
        struct pollfd pfd;
        pfd.fd = lpProc->fdPid;
        pfd.events = POLLIN;
        pfd.revents = 0;
        int nReady = poll(&pfd, 1, 0);
        if (nReady < 0)
            return ErrnoToWin32(errno);
        return nReady > 0 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }

    // Once its process is reaped, the directory holds nothing, even when the
    // number names a new process; the start time alone, counted in ticks,
    // could not tell one started within the same tick.
    STAT_INFO info;
    if (!ReadStat(lpProc->fdProcDir, "stat", &info))
        return ProcErrnoToWin32(errno);
    if (info.ullStart != lpProc->ullStart || HasEnded(&info))
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

// Binds the handle to the process that has the number now: a pidfd, and
// /proc/PID, which stays bound to the process it was opened for.
static DWORD Bind(LINUX_HANDLE *lpProc)
{
    int fd = (int)syscall(SYS_pidfd_open, lpProc->pid, 0);
    if (fd >= 0)
        lpProc->fdPid = fd;
    else if (errno != ENOSYS && errno != EPERM)
        return ProcErrnoToWin32(errno); // ESRCH: no such process; EINVAL: a thread's number
    // Without a pidfd (kernels before 5.3, or a sandbox that forbids the
    // call), the open /proc/PID and the start time tell the process apart
    // from a later one with its number.
    char szPath[64];
    PidPath(szPath, "/proc/", lpProc->pid, "");
    lpProc->fdProcDir = open(szPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lpProc->fdProcDir < 0)
        return ProcErrnoToWin32(errno);
    if (lpProc->fdPid < 0) {
        STAT_INFO info;
        if (!ReadStat(lpProc->fdProcDir, "stat", &info))
            return ProcErrnoToWin32(errno);
        lpProc->ullStart = info.ullStart;
    }
    return ERROR_SUCCESS;
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId)
{
    (void)bInheritHandle; // the tool starts no process that could inherit it
    if (dwProcessId == 0 || dwProcessId > (DWORD)INT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    LINUX_HANDLE *lpProc = AllocHandle(HANDLE_KIND_PROCESS);
    if (lpProc == NULL)
        return NULL;
    lpProc->pid = (pid_t)dwProcessId;
    // Linux checks the right to change the priority only when the change is
    // made: a refusal shows in SetPriorityClass, not here as on Windows.
    lpProc->dwAccess = dwDesiredAccess;

    // Between the walk and here the listed process may have ended and its
    // number gone to another: once bound, the handle's process must still be
    // the one listed (name, and start time where the walk read it), and must
    // still run after that was read, so that what was read was its own.
    DWORD dwError = Bind(lpProc);
    if (dwError == ERROR_SUCCESS)
        dwError = CheckListed(lpProc->pid, lpProc->fdProcDir);
    if (dwError == ERROR_SUCCESS)
        dwError = CheckStillRuns(lpProc);
    if (dwError != ERROR_SUCCESS) {
        CloseHandle(lpProc);
        SetLastError(dwError);
        return NULL;
    }
    return lpProc;
}

void CloseProcess(LINUX_HANDLE *lpProc)
{
    if (lpProc->fdPid >= 0)
        close(lpProc->fdPid);
    if (lpProc->fdProcDir >= 0)
        close(lpProc->fdProcDir);
}
