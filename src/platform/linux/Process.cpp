// Process handles (OpenProcess), bound to the process itself, not to its
// number, and the change of its priority class (SetPriorityClass).
//
// Priority classes become a nice value and a policy of every thread
// (Classes.cpp), and reach the group the process competes in where that is
// its alone (CompetingGroup.cpp). Threads the program made real-time keep
// their policy.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "Classes.h"
#include "CompetingGroup.h"
#include "ErrorCode.h"
#include "Proc.h"
#include "Process.h"
#include "Toolhelp.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

// ERROR_SUCCESS while the handle's process runs; ERROR_INVALID_PARAMETER once
// it has ended, also when its number now names another process.
static DWORD CheckStillRuns(const PROCESS_OBJECT *lpProc)
{
    if (lpProc->fdPid >= 0) {
        // A pidfd turns readable once its process has ended.
        struct pollfd pfd;
        pfd.fd = lpProc->fdPid;
        pfd.events = POLLIN;
        int nReady = poll(&pfd, 1, 0);
        if (nReady < 0)
            return ErrorCode_FromErrno(errno);
        return nReady > 0 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }

    // Once its process is reaped, the directory holds nothing, even when the
    // number names a new process; the start time alone, counted in ticks,
    // could not tell one started within the same tick.
    STAT_INFO info;
    if (!Proc_ReadStat(lpProc->fdProcDir, "stat", &info))
        return ErrorCode_FromProcErrno(errno);
    if (info.ullStart != lpProc->ullStart || Proc_HasEnded(&info))
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

// Binds the handle to the process that has the number now: a pidfd, and
// /proc/PID, which stays bound to the process it was opened for.
static DWORD Bind(PROCESS_OBJECT *lpProc)
{
    int fd = (int)syscall(SYS_pidfd_open, lpProc->pid, 0);
    if (fd >= 0)
        lpProc->fdPid = fd;
    else if (errno != ENOSYS && errno != EPERM)
        return ErrorCode_FromProcErrno(errno); // ESRCH: no such process; EINVAL: a thread's number
    // Without a pidfd (kernels before 5.3, or a sandbox that forbids the
    // call), the open /proc/PID and the start time tell the process apart
    // from a later one with its number.
    char szPath[64];
    Proc_FormatPid(szPath, "/proc/", lpProc->pid, "");
    lpProc->fdProcDir = open(szPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lpProc->fdProcDir < 0)
        return ErrorCode_FromProcErrno(errno);
    if (lpProc->fdPid < 0) {
        STAT_INFO info;
        if (!Proc_ReadStat(lpProc->fdProcDir, "stat", &info))
            return ErrorCode_FromProcErrno(errno);
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
    PROCESS_OBJECT *lpProc = (PROCESS_OBJECT *)Handle_Alloc(sizeof(PROCESS_OBJECT), HANDLE_KIND_PROCESS);
    if (lpProc == NULL)
        return NULL;
    lpProc->pid = (pid_t)dwProcessId;
    lpProc->fdPid = -1;
    lpProc->fdProcDir = -1;
    // Linux checks the right to change the priority only when the change is
    // made: a refusal shows in SetPriorityClass, not here as on Windows.
    lpProc->dwAccess = dwDesiredAccess;

    // Between the walk and here the listed process may have ended and its
    // number gone to another: once bound, the handle's process must still be
    // the one listed (name, and start time where the walk read it), and must
    // still run after that was read, so that what was read was its own.
    DWORD dwError = Bind(lpProc);
    if (dwError == ERROR_SUCCESS)
        dwError = Toolhelp_CheckNotReplaced(lpProc->pid, lpProc->fdProcDir);
    if (dwError == ERROR_SUCCESS)
        dwError = CheckStillRuns(lpProc);
    if (dwError != ERROR_SUCCESS) {
        CloseHandle(lpProc);
        SetLastError(dwError);
        return NULL;
    }
    return lpProc;
}

void Process_Close(PROCESS_OBJECT *lpProc)
{
    if (lpProc->fdPid >= 0)
        close(lpProc->fdPid);
    if (lpProc->fdProcDir >= 0)
        close(lpProc->fdProcDir);
}

// A process that keeps resetting its threads' nice must not hold the tool forever.
#define MAX_THREAD_PASSES 64

#ifndef SCHED_DEADLINE
#define SCHED_DEADLINE 6
#endif

// The policy a thread should have under the class: its own where the program
// made it real-time or it already fits (SCHED_BATCH fits any class but
// IDLE), else the class's.
static int WantedPolicy(int nPolicy, const CLASS_SETTING *lpClass)
{
    int nBase = nPolicy & ~SCHED_RESET_ON_FORK;
    BOOL bIdle = lpClass->nPolicy == SCHED_IDLE;
    if (nBase == SCHED_FIFO || nBase == SCHED_RR || nBase == SCHED_DEADLINE || (nBase == SCHED_IDLE) == bIdle)
        return nPolicy;
    return lpClass->nPolicy | (nPolicy & SCHED_RESET_ON_FORK);
}

// Sets one thread's nice (always where bForce, so that a refusal shows even
// where nothing would change) and its policy: 0, or the errno of a refusal.
static int SetThread(pid_t tid, const CLASS_SETTING *lpClass, BOOL bForce, BOOL *lpbChanged)
{
    errno = 0;
    int nNow = getpriority(PRIO_PROCESS, (id_t)tid);
    if (errno != 0)
        return errno;
    // setpriority takes a number, not a handle: Linux offers no way to rule
    // out a thread that ends and whose number is reused in between.
    if ((bForce || nNow != lpClass->nNice) && setpriority(PRIO_PROCESS, (id_t)tid, lpClass->nNice) != 0)
        return errno;
    *lpbChanged |= bForce || nNow != lpClass->nNice;
    int nPolicy = sched_getscheduler(tid);
    if (nPolicy < 0)
        return errno;
    int nWanted = WantedPolicy(nPolicy, lpClass);
    if (nWanted == nPolicy)
        return 0;
    struct sched_param param;
    param.sched_priority = 0;
    if (sched_setscheduler(tid, nWanted, &param) != 0)
        return errno;
    *lpbChanged = TRUE;
    return 0;
}

// Linux keeps a nice value and a policy per thread, not per process: sets
// them on every thread, and walks the list again until a pass finds none left
// to change, so that threads started meanwhile by unchanged ones are caught.
static DWORD SetEveryThread(DIR *lpTasks, const CLASS_SETTING *lpClass)
{
    for (int nPass = 0; nPass < MAX_THREAD_PASSES; nPass++) {
        BOOL bChanged = FALSE;
        rewinddir(lpTasks);
        for (;;) {
            errno = 0;
            struct dirent *lpEntry = readdir(lpTasks);
            if (lpEntry == NULL) {
                if (errno != 0)
                    return ErrorCode_FromProcErrno(errno);
                break;
            }
            pid_t tid;
            if (!Proc_ParsePid(lpEntry->d_name, &tid))
                continue;
            int nErrno = SetThread(tid, lpClass, nPass == 0, &bChanged);
            // ESRCH: the thread has ended meanwhile. Linux changes one thread
            // at a time: a refusal part-way leaves the threads before it changed.
            if (nErrno != 0 && nErrno != ESRCH)
                return ErrorCode_FromErrno(nErrno);
        }
        if (!bChanged)
            return nPass == 0 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    return ERROR_SUCCESS;
}

BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass)
{
    PROCESS_OBJECT *lpProc = (PROCESS_OBJECT *)Handle_Lookup(hProcess, HANDLE_KIND_PROCESS);
    if (lpProc == NULL)
        return FALSE;
    if ((lpProc->dwAccess & PROCESS_SET_INFORMATION) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const CLASS_SETTING *lpClass = Classes_Find(dwPriorityClass);
    if (lpClass == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // The directory stays bound to the process it was opened for: if that
    // still runs after the task list is opened, the list is its own.
    DWORD dwError = ERROR_SUCCESS;
    DIR *lpTasks = NULL;
    int fdTasks = openat(lpProc->fdProcDir, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdTasks < 0)
        dwError = ErrorCode_FromProcErrno(errno);
    if (dwError == ERROR_SUCCESS)
        dwError = CheckStillRuns(lpProc);
    if (dwError == ERROR_SUCCESS) {
        lpTasks = fdopendir(fdTasks);
        if (lpTasks == NULL)
            dwError = ErrorCode_FromErrno(errno);
    }
    if (lpTasks == NULL) {
        if (fdTasks >= 0)
            close(fdTasks);
        SetLastError(dwError);
        return FALSE;
    }
    dwError = SetEveryThread(lpTasks, lpClass);
    closedir(lpTasks);
    // The threads' nice weighs only within their group: the group follows.
    if (dwError == ERROR_SUCCESS)
        dwError = CompetingGroup_Set(lpProc, lpClass);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    return TRUE;
}
