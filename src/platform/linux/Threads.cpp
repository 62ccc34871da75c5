// Priority classes become nice values of every thread:
//   IDLE 19, BELOW_NORMAL 10, NORMAL 0, ABOVE_NORMAL -6, HIGH -11, REALTIME -19.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "LinuxPlatform.h"

// A process that keeps resetting its threads' nice must not hold the tool forever.
#define MAX_THREAD_PASSES 64

static BOOL NiceForClass(DWORD dwPriorityClass, int *lpnNice)
{
    switch (dwPriorityClass) {
    case IDLE_PRIORITY_CLASS:
        *lpnNice = 19;
        return TRUE;
    case BELOW_NORMAL_PRIORITY_CLASS:
        *lpnNice = 10;
        return TRUE;
    case NORMAL_PRIORITY_CLASS:
        *lpnNice = 0;
        return TRUE;
    case ABOVE_NORMAL_PRIORITY_CLASS:
        *lpnNice = -6;
        return TRUE;
    case HIGH_PRIORITY_CLASS:
        *lpnNice = -11;
        return TRUE;
    case REALTIME_PRIORITY_CLASS:
        // Linux: no real-time scheduling here, which could starve the system;
        // the strongest nice short of the limit stands in for it.
        *lpnNice = -19;
        return TRUE;
    default:
        return FALSE;
    }
}

// Linux keeps a nice value per thread, not per process: sets it on every
// thread, and walks the list again until a pass finds none left to change, so
// that threads started meanwhile by unchanged ones are caught as well.
static DWORD SetEveryThread(DIR *lpTasks, int nNice)
{
    for (int nPass = 0; nPass < MAX_THREAD_PASSES; nPass++) {
        BOOL bChanged = FALSE;
        rewinddir(lpTasks);
        for (;;) {
            errno = 0;
            struct dirent *lpEntry = readdir(lpTasks);
            if (lpEntry == NULL) {
                if (errno != 0)
                    return ProcErrnoToWin32(errno);
                break;
            }
            pid_t tid;
            if (!ParsePid(lpEntry->d_name, &tid))
                continue;
            // The first pass sets every thread, so that a refusal shows even
            // where nothing would change; later passes skip threads already set.
            if (nPass > 0) {
                errno = 0;
                int nNow = getpriority(PRIO_PROCESS, (id_t)tid);
                if (errno == 0 && nNow == nNice)
                    continue;
            }
            // setpriority takes a number, not a handle: Linux offers no way to
            // rule out a thread that ends and whose number is reused in between.
            if (setpriority(PRIO_PROCESS, (id_t)tid, nNice) != 0) {
                if (errno == ESRCH)
                    continue; // the thread has ended meanwhile
                // Linux changes one thread at a time: a refusal part-way leaves
                // the threads before it changed.
                return ErrnoToWin32(errno);
            }
            bChanged = TRUE;
        }
        if (!bChanged)
            return nPass == 0 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    return ERROR_SUCCESS;
}

BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass)
{
    LINUX_HANDLE *lpProc = LookupHandle(hProcess, HANDLE_KIND_PROCESS);
    if (lpProc == NULL)
        return FALSE;
    if ((lpProc->dwAccess & PROCESS_SET_INFORMATION) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int nNice;
    if (!NiceForClass(dwPriorityClass, &nNice)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // The directory stays bound to the process it was opened for: if that
    // still runs after the task list is opened, the list is its own.
    DWORD dwError = ERROR_SUCCESS;
    DIR *lpTasks = NULL;
    int fdTasks = openat(lpProc->fdProcDir, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdTasks < 0)
        dwError = ProcErrnoToWin32(errno);
    if (dwError == ERROR_SUCCESS)
        dwError = CheckStillRuns(lpProc);
    if (dwError == ERROR_SUCCESS) {
        lpTasks = fdopendir(fdTasks);
        if (lpTasks == NULL)
            dwError = ErrnoToWin32(errno);
    }
    if (lpTasks == NULL) {
        if (fdTasks >= 0)
            close(fdTasks);
        SetLastError(dwError);
        return FALSE;
    }
    dwError = SetEveryThread(lpTasks, nNice);
    closedir(lpTasks);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    return TRUE;
}
