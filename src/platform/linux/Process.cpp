// The process list, process handles and priority classes, on /proc and nice
// values.
//
// Error codes this layer reports:
//
//   errno (or situation)                          Win32 code
//   EPERM, EACCES: change refused                 5   ERROR_ACCESS_DENIED
//   handle opened without PROCESS_SET_INFORMATION 5   ERROR_ACCESS_DENIED
//   null, INVALID_HANDLE_VALUE or wrong kind      6   ERROR_INVALID_HANDLE
//   ENOMEM, or no memory for a handle             8   ERROR_NOT_ENOUGH_MEMORY
//   end of the process list                       18  ERROR_NO_MORE_FILES
//   PROCESSENTRY32.dwSize too small               24  ERROR_BAD_LENGTH
//   ESRCH, EINVAL; process ended, zombie, its     87  ERROR_INVALID_PARAMETER
//     number reused, id 0; not one of the six
//     priority classes; no entry record given
//   ENOENT: no /proc to list                      2   ERROR_FILE_NOT_FOUND
//   EMFILE, ENFILE                                4   ERROR_TOO_MANY_OPEN_FILES
//   anything else                                 31  ERROR_GEN_FAILURE
//
// Priority classes become nice values of every thread:
//   IDLE 19, BELOW_NORMAL 10, NORMAL 0, ABOVE_NORMAL -6, HIGH -11, REALTIME -19.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "LinuxPlatform.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

// The kernel cuts a process's name (comm) to this many characters.
#define COMM_CUT 15

// How an owner outside our user namespace shows: the kernel's default overflowuid.
#define OVERFLOW_UID 65534u

// A process that keeps resetting its threads' nice must not hold the tool forever.
#define MAX_THREAD_PASSES 64

// The flag of kernel threads in the stat record.
#define PF_KTHREAD 0x00200000u

struct STAT_INFO {
    char chState;
    DWORD dwFlags;
    DWORD dwParent;
    DWORD dwThreads;
    unsigned long long ullStart;
};

DWORD ErrnoToWin32(int nErrno)
{
    switch (nErrno) {
    case 0:
        return ERROR_SUCCESS;
    case EPERM:
    case EACCES:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ESRCH:
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// For a file under /proc/PID, "not found" means the process has ended.
static DWORD ProcErrnoToWin32(int nErrno)
{
    return nErrno == ENOENT ? ERROR_INVALID_PARAMETER : ErrnoToWin32(nErrno);
}

// A directory entry of /proc or /proc/PID/task that names a process or thread.
static BOOL ParsePid(const char *lpszName, pid_t *lpPid)
{
    if (*lpszName == '\0')
        return FALSE;
    long nValue = 0;
    for (const char *p = lpszName; *p != '\0'; p++) {
        if (*p < '0' || *p > '9' || nValue > INT_MAX / 10)
            return FALSE;
        nValue = nValue * 10 + (*p - '0');
    }
    if (nValue == 0 || nValue > INT_MAX)
        return FALSE;
    *lpPid = (pid_t)nValue;
    return TRUE;
}

// Writes prefix, the number and suffix; the buffer holds 64 characters.
static void PidPath(char *lpszDst, const char *lpszPrefix, pid_t pid, const char *lpszSuffix)
{
    char szDigits[16];
    int cch = 0;
    unsigned int uValue = (unsigned int)pid;
    do {
        szDigits[cch++] = (char)('0' + uValue % 10);
        uValue /= 10;
    } while (uValue != 0);

    size_t cchPrefix = strlen(lpszPrefix);
    memcpy(lpszDst, lpszPrefix, cchPrefix);
    char *p = lpszDst + cchPrefix;
    while (cch > 0)
        *p++ = szDigits[--cch];
    strcpy(p, lpszSuffix);
}

// Reads a small file whole into a zero-terminated buffer; the length, or -1.
static ssize_t ReadSmallFile(int fdDir, const char *lpszPath, char *lpBuf, size_t cbBuf)
{
    int fd = openat(fdDir, lpszPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t cb = read(fd, lpBuf, cbBuf - 1);
    int nErrno = errno;
    close(fd);
    if (cb < 0) {
        errno = nErrno;
        return -1;
    }
    lpBuf[cb] = '\0';
    return cb;
}

// The numeric field nField (counted from 1 as in proc(5), 3 or more) of a
// stat record, given the text after the name's closing parenthesis.
static unsigned long long StatField(const char *lpszRest, int nField)
{
    const char *p = lpszRest;
    for (int i = 3; i < nField; i++) {
        while (*p == ' ')
            p++;
        while (*p != ' ' && *p != '\0')
            p++;
    }
    while (*p == ' ')
        p++;
    return strtoull(p, NULL, 10);
}

// The state, flags, parent, thread count and start time from /proc/PID/stat;
// FALSE with errno set.
static BOOL ReadStat(int fdDir, const char *lpszPath, STAT_INFO *lpInfo)
{
    // The record fits well within this; fields past the start time are not needed.
    char szStat[1024];
    ssize_t cb = ReadSmallFile(fdDir, lpszPath, szStat, sizeof(szStat));
    if (cb <= 0) {
        if (cb == 0)
            errno = ESRCH; // nothing to read: the process is being reaped
        return FALSE;
    }
    // The name may itself hold ')' and blanks: the last ')' closes it.
    const char *lpszRest = strrchr(szStat, ')');
    if (lpszRest == NULL || lpszRest[1] != ' ') {
        errno = EINVAL;
        return FALSE;
    }
    lpszRest += 2;
    lpInfo->chState = *lpszRest;
    lpInfo->dwParent = (DWORD)StatField(lpszRest, 4);
    lpInfo->dwFlags = (DWORD)StatField(lpszRest, 9);
    lpInfo->dwThreads = (DWORD)StatField(lpszRest, 20);
    lpInfo->ullStart = StatField(lpszRest, 22);
    return TRUE;
}

// A zombie leader with live threads is a running process whose first thread
// has ended; only a leader with no thread left marks an ended process.
static BOOL HasEnded(const STAT_INFO *lpInfo)
{
    return (lpInfo->chState == 'Z' || lpInfo->chState == 'X') && lpInfo->dwThreads <= 1;
}

static int ComparePids(const void *lpLeft, const void *lpRight)
{
    pid_t left = *(const pid_t *)lpLeft;
    pid_t right = *(const pid_t *)lpRight;
    return (left > right) - (left < right);
}

static BOOL IsKernelThread(const LINUX_HANDLE *lpSnap, pid_t pid)
{
    return lpSnap->lpKernelPids != NULL &&
           bsearch(&pid, lpSnap->lpKernelPids, lpSnap->cKernelPids, sizeof(pid_t), ComparePids) != NULL;
}

// A process whose first thread still has its memory runs. Two cheap proofs
// of that: the kernel clears a thread's robust-futex list as the thread
// exits, and gives /proc/PID files to root once the memory is gone.
static BOOL HasRobustList(pid_t pid)
{
    void *lpHead = NULL;
    size_t cbHead = 0;
    return syscall(SYS_get_robust_list, pid, &lpHead, &cbHead) == 0 && lpHead != NULL;
}

static BOOL IsOwnedByUser(const LINUX_HANDLE *lpSnap, int fdComm)
{
    struct stat st;
    return fstat(fdComm, &st) == 0 && st.st_uid != lpSnap->uidRoot;
}

// Whether a listed process still runs. Reading the stat record for every
// process would nearly double the cost of a walk, so the cheap proofs come
// first, the one more likely to settle it ahead.
static BOOL IsRunning(const LINUX_HANDLE *lpSnap, int fdComm, pid_t pid, STAT_INFO *lpInfo)
{
    // Kernel threads have no memory of their own either, but never linger once ended.
    if (IsKernelThread(lpSnap, pid))
        return TRUE;
    if (lpSnap->bOwnersFirst) {
        if (IsOwnedByUser(lpSnap, fdComm) || HasRobustList(pid))
            return TRUE;
    } else if (HasRobustList(pid) || IsOwnedByUser(lpSnap, fdComm)) {
        return TRUE;
    }

    char szPath[64];
    PidPath(szPath, "", pid, "/stat");
    if (!ReadStat(dirfd(lpSnap->lpProcDir), szPath, lpInfo))
        return FALSE;
    return !HasEnded(lpInfo);
}

// The file name part of a path.
static const char *BaseName(const char *lpszPath)
{
    const char *lpszSlash = strrchr(lpszPath, '/');
    return lpszSlash != NULL ? lpszSlash + 1 : lpszPath;
}

static void CopyName(LPSTR lpszDst, const char *lpszSrc)
{
    size_t cch = strlen(lpszSrc);
    if (cch > MAX_PATH - 1)
        cch = MAX_PATH - 1;
    memcpy(lpszDst, lpszSrc, cch);
    lpszDst[cch] = '\0';
}

// A name of exactly COMM_CUT characters may be the start of a longer one:
// take the full name from the executable, else from argv[0], whichever
// continues it; otherwise the name is what it is.
static void FullName(int fdProc, pid_t pid, const char *lpszComm, LPSTR lpszDst)
{
    char szPath[64];
    char szBuf[PATH_MAX + 1];

    PidPath(szPath, "", pid, "/exe");
    ssize_t cch = readlinkat(fdProc, szPath, szBuf, sizeof(szBuf) - 1);
    if (cch > 0) {
        szBuf[cch] = '\0';
        static const char szDeleted[] = " (deleted)";
        const size_t cchDeleted = sizeof(szDeleted) - 1;
        if ((size_t)cch > cchDeleted && strcmp(szBuf + cch - cchDeleted, szDeleted) == 0)
            szBuf[cch - (ssize_t)cchDeleted] = '\0';
        const char *lpszBase = BaseName(szBuf);
        if (strncmp(lpszBase, lpszComm, COMM_CUT) == 0) {
            CopyName(lpszDst, lpszBase);
            return;
        }
    }

    PidPath(szPath, "", pid, "/cmdline");
    if (ReadSmallFile(fdProc, szPath, szBuf, sizeof(szBuf)) > 0) {
        // argv[0] ends at its zero byte, or at the end of what was read.
        const char *lpszBase = BaseName(szBuf);
        if (strncmp(lpszBase, lpszComm, COMM_CUT) == 0) {
            CopyName(lpszDst, lpszBase);
            return;
        }
    }
    CopyName(lpszDst, lpszComm);
}

// Fills the entry for one listed process; FALSE when it has ended meanwhile.
// One small file per process: the walk is meant to cost little more than
// listing /proc and reading each comm.
static BOOL ReadEntry(const LINUX_HANDLE *lpSnap, pid_t pid, LPPROCESSENTRY32 lppe)
{
    int fdProc = dirfd(lpSnap->lpProcDir);
    char szPath[64];
    char szComm[256];
    PidPath(szPath, "", pid, "/comm");
    int fd = openat(fdProc, szPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return FALSE;
    ssize_t cch = read(fd, szComm, sizeof(szComm) - 1);
    STAT_INFO info;
    memset(&info, 0, sizeof(info));
    BOOL bRunning = cch > 0 && IsRunning(lpSnap, fd, pid, &info);
    close(fd);
    if (!bRunning)
        return FALSE;
    if (szComm[cch - 1] == '\n')
        cch--;
    szComm[cch] = '\0';

    DWORD dwSize = lppe->dwSize;
    memset(lppe, 0, sizeof(PROCESSENTRY32));
    lppe->dwSize = dwSize;
    lppe->th32ProcessID = (DWORD)pid;
    // Parent and thread count are known only where the stat record had to be
    // read; fetching them for every process would double the walk's cost.
    lppe->th32ParentProcessID = info.dwParent;
    lppe->cntThreads = info.dwThreads;
    if (cch == COMM_CUT)
        FullName(fdProc, pid, szComm, lppe->szExeFile);
    else
        CopyName(lppe->szExeFile, szComm);
    return TRUE;
}

// Appends to an array that grows as needed; FALSE when memory runs out.
static BOOL AppendPid(pid_t **lplpPids, size_t *lpcPids, size_t *lpcAlloc, pid_t pid)
{
    if (*lpcPids == *lpcAlloc) {
        size_t cNew = *lpcAlloc == 0 ? 1024 : *lpcAlloc * 2;
        pid_t *lpNew = (pid_t *)realloc(*lplpPids, cNew * sizeof(pid_t));
        if (lpNew == NULL)
            return FALSE;
        *lplpPids = lpNew;
        *lpcAlloc = cNew;
    }
    (*lplpPids)[(*lpcPids)++] = pid;
    return TRUE;
}

// Every kernel thread is a child of kthreadd, PID 2 of the first PID
// namespace: its list of children, read once, spares reading each one's stat
// record. Without the list the walk is slower, not wrong.
static void ListKernelThreads(LINUX_HANDLE *lpSnap)
{
    int fdProc = dirfd(lpSnap->lpProcDir);
    STAT_INFO info;
    // In any other PID namespace, PID 2 is an ordinary process.
    if (!ReadStat(fdProc, "2/stat", &info) || (info.dwFlags & PF_KTHREAD) == 0)
        return;
    int fd = openat(fdProc, "2/task/2/children", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;

    pid_t *lpPids = NULL;
    size_t cPids = 0, cAlloc = 0;
    BOOL bOk = TRUE;
    long nValue = -1; // the number being read, -1 between numbers
    char szBuf[4096];
    ssize_t cb;
    while (bOk && (cb = read(fd, szBuf, sizeof(szBuf))) != 0) {
        if (cb < 0)
            bOk = FALSE;
        for (ssize_t i = 0; bOk && i < cb; i++) {
            if (szBuf[i] >= '0' && szBuf[i] <= '9') {
                nValue = (nValue < 0 ? 0 : nValue) * 10 + (szBuf[i] - '0');
                bOk = nValue <= INT_MAX;
            } else if (nValue >= 0) {
                bOk = AppendPid(&lpPids, &cPids, &cAlloc, (pid_t)nValue);
                nValue = -1;
            }
        }
    }
    if (bOk && nValue >= 0)
        bOk = AppendPid(&lpPids, &cPids, &cAlloc, (pid_t)nValue);
    close(fd);
    if (!bOk || cPids == 0) {
        free(lpPids);
        return;
    }
    qsort(lpPids, cPids, sizeof(pid_t), ComparePids);
    lpSnap->lpKernelPids = lpPids;
    lpSnap->cKernelPids = cPids;
}

// The number the owner root has in this user namespace: 0 in the first one,
// else what its map gives, else the overflow owner. A map too long to read
// at once only makes the walk slower, as every process then looks like root's.
static uid_t RootSeenAs(void)
{
    char szMap[4096];
    if (ReadSmallFile(AT_FDCWD, "/proc/self/uid_map", szMap, sizeof(szMap)) <= 0)
        return 0;
    // Lines of three numbers: first inside, first outside, count.
    char *p = szMap;
    for (;;) {
        char *lpszEnd;
        unsigned long ulInside = strtoul(p, &lpszEnd, 10);
        if (lpszEnd == p)
            return OVERFLOW_UID;
        p = lpszEnd;
        unsigned long ulOutside = strtoul(p, &lpszEnd, 10);
        p = lpszEnd;
        unsigned long ulCount = strtoul(p, &lpszEnd, 10);
        p = lpszEnd;
        if (ulOutside == 0 && ulCount > 0)
            return (uid_t)ulInside;
    }
}

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID)
{
    (void)th32ProcessID; // as on Windows, the process list ignores it
    LINUX_HANDLE *lpSnap = AllocHandle(HANDLE_KIND_SNAPSHOT);
    if (lpSnap == NULL)
        return INVALID_HANDLE_VALUE;
    // Only processes are listed here; a snapshot of anything else is empty.
    if ((dwFlags & TH32CS_SNAPPROCESS) == 0)
        return lpSnap;

    // The process IDs are read from this stream as the walk goes, not all at
    // once: a walk that stops at its match then costs in proportion to the
    // processes before it, not to all there are. Unlike a Windows snapshot, a
    // process started meanwhile with a number past the walk's may be listed.
    lpSnap->lpProcDir = opendir("/proc");
    if (lpSnap->lpProcDir == NULL) {
        DWORD dwError = ErrnoToWin32(errno);
        CloseHandle(lpSnap);
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    ListKernelThreads(lpSnap);
    // Root may read any process's robust-futex list, and most processes are
    // root's, whose files show root as owner either way; anyone else is
    // refused the lists of other users, whose files do tell.
    lpSnap->bOwnersFirst = geteuid() != 0;
    lpSnap->uidRoot = RootSeenAs();
    return lpSnap;
}

void CloseSnapshot(LINUX_HANDLE *lpSnap)
{
    if (lpSnap->lpProcDir != NULL)
        closedir(lpSnap->lpProcDir);
    free(lpSnap->lpKernelPids);
}

static BOOL NextEntry(HANDLE hSnapshot, LPPROCESSENTRY32 lppe, BOOL bFirst)
{
    LINUX_HANDLE *lpSnap = LookupHandle(hSnapshot, HANDLE_KIND_SNAPSHOT);
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
    }
    for (;;) {
        errno = 0;
        struct dirent *lpEntry = readdir(lpSnap->lpProcDir);
        if (lpEntry == NULL) {
            SetLastError(errno != 0 ? ErrnoToWin32(errno) : ERROR_NO_MORE_FILES);
            return FALSE;
        }
        pid_t pid;
        if (!ParsePid(lpEntry->d_name, &pid))
            continue;
        // /proc lists processes in ascending order; the walk promises that
        // order, so anything out of it is passed over rather than repeated.
        if (pid <= lpSnap->pidLast)
            continue;
        lpSnap->pidLast = pid;
        if (ReadEntry(lpSnap, pid, lppe))
            return TRUE;
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

// ERROR_SUCCESS while the handle's process runs; ERROR_INVALID_PARAMETER once
// it has ended, also when its number now names another process.
static DWORD CheckStillRuns(const LINUX_HANDLE *lpProc)
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

    DWORD dwError = ERROR_SUCCESS;
    int fd = (int)syscall(SYS_pidfd_open, lpProc->pid, 0);
    if (fd >= 0) {
        lpProc->fdPid = fd;
    } else if (errno == ENOSYS || errno == EPERM) {
        // Kernels before 5.3, or a sandbox that forbids the call: the open
        // /proc/PID and the start time tell the process apart from a later
        // one with its number.
        char szPath[64];
        STAT_INFO info;
        PidPath(szPath, "/proc/", lpProc->pid, "");
        lpProc->fdProcDir = open(szPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (lpProc->fdProcDir >= 0 && ReadStat(lpProc->fdProcDir, "stat", &info))
            lpProc->ullStart = info.ullStart;
        else
            dwError = ProcErrnoToWin32(errno);
    } else {
        // ESRCH: no such process; EINVAL: the number is a thread's.
        dwError = ProcErrnoToWin32(errno);
    }
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

    DWORD dwError = CheckStillRuns(lpProc);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    char szPath[64];
    PidPath(szPath, "/proc/", lpProc->pid, "/task");
    int fdTasks = lpProc->fdProcDir >= 0
                      ? openat(lpProc->fdProcDir, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                      : open(szPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdTasks < 0) {
        SetLastError(ProcErrnoToWin32(errno));
        return FALSE;
    }
    // The directory stays bound to the process it was opened for: if that is
    // still ours now, the number had not been reused when it was opened.
    dwError = CheckStillRuns(lpProc);
    DIR *lpTasks = NULL;
    if (dwError == ERROR_SUCCESS) {
        lpTasks = fdopendir(fdTasks);
        if (lpTasks == NULL)
            dwError = ErrnoToWin32(errno);
    }
    if (lpTasks == NULL) {
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
