// What the walk learns of each process it lists: whether it still runs, and
// the name it is listed under.
//
// Whether a listed process still runs, proven as cheaply as can be: a zombie
// is not listed, and reading every process's stat record would nearly double
// the cost of a walk.
//
// The name a process is listed under: the name its program was started
// under, as ps shows it. The kernel keeps 15 characters of it (comm); a comm
// of exactly 15 may be the start of a longer name, which is taken from the
// first that continues it of:
//
//   argv[0]            the name the caller started the program under, a link's
//                      name where it was started through a link;
//   argv[1], argv[2]   a script run through its #! line: the kernel starts the
//                      interpreter with the script's path after the
//                      interpreter's own name and its one optional argument;
//   /proc/PID/exe      the executable itself (without " (deleted)"), where
//                      argv[0] was set to something else.
//
// A comm that none continues is the whole name: a program renamed with
// prctl(PR_SET_NAME) is found by its new name, as ps shows it.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "LinuxPlatform.h"

// How an owner outside our user namespace shows: the kernel's default overflowuid.
#define OVERFLOW_UID 65534u

// The flag of kernel threads in the stat record.
#define PF_KTHREAD 0x00200000u

static int ComparePids(const void *lpLeft, const void *lpRight)
{
    pid_t left = *(const pid_t *)lpLeft;
    pid_t right = *(const pid_t *)lpRight;
    return (left > right) - (left < right);
}

// The walk asks in ascending order: the sorted list is read along with it
// rather than searched for each process.
static BOOL IsKernelThread(LINUX_HANDLE *lpSnap, pid_t pid)
{
    while (lpSnap->iKernelNext < lpSnap->cKernelPids && lpSnap->lpKernelPids[lpSnap->iKernelNext] < pid)
        lpSnap->iKernelNext++;
    return lpSnap->iKernelNext < lpSnap->cKernelPids && lpSnap->lpKernelPids[lpSnap->iKernelNext] == pid;
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
    return lpSnap->bOwnerProof && fstat(fdComm, &st) == 0 && st.st_uid != lpSnap->uidRoot;
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

void SetUpLiveness(LINUX_HANDLE *lpSnap)
{
    ListKernelThreads(lpSnap);
    // Root may read any process's robust-futex list, and most processes are
    // root's, whose files show root as owner either way; anyone else is
    // refused the lists of other users, whose files do tell.
    lpSnap->bOwnersFirst = geteuid() != 0;
    // The owner a process's files fall to is root of the first user
    // namespace, whatever namespace (nested or not) we are in: a sysctl file
    // shows how it looks here. Where it shows as the overflow owner, root
    // cannot be told from any unmapped user, and the proof is not used.
    struct stat st;
    if (stat("/proc/sys/kernel/pid_max", &st) == 0 && st.st_uid != OVERFLOW_UID) {
        lpSnap->bOwnerProof = TRUE;
        lpSnap->uidRoot = st.st_uid;
    }
}

BOOL IsRunning(LINUX_HANDLE *lpSnap, int fdComm, pid_t pid, STAT_INFO *lpInfo)
{
    // Kernel threads have no memory of their own either, but never linger once ended.
    if (IsKernelThread(lpSnap, pid))
        return TRUE;
    // The proof more likely to settle it goes first.
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
    if (HasEnded(lpInfo)) {
        errno = ESRCH;
        return FALSE;
    }
    return TRUE;
}

// The kernel cuts a process's name (comm) to this many characters.
#define COMM_CUT 15

// How many arguments from argv[0] on can name the program.
#define NAME_ARGS 3

// The file name part of a path.
static const char *BaseName(const char *lpszPath)
{
    const char *lpszSlash = strrchr(lpszPath, '/');
    return lpszSlash != NULL ? lpszSlash + 1 : lpszPath;
}

static void CopyName(LPSTR lpszDst, const char *lpszSrc, size_t cch)
{
    if (cch > MAX_PATH - 1)
        cch = MAX_PATH - 1;
    memcpy(lpszDst, lpszSrc, cch);
    lpszDst[cch] = '\0';
}

// A file of a process: PID/NAME under /proc, or NAME where pid is 0 and the
// directory is /proc/PID itself.
static void EntryPath(char *lpszDst, pid_t pid, const char *lpszName)
{
    if (pid == 0) {
        strcpy(lpszDst, lpszName);
        return;
    }
    PidPath(lpszDst, "", pid, "/");
    strcat(lpszDst, lpszName);
}

// Whether a file that could not be read only leaves that source out: it is
// gone with its process, or not ours to read (another user's exe, a kernel
// thread's). Any other error leaves the name unknown.
static BOOL IsUnreadable(int nErrno)
{
    return IsGone(nErrno) || nErrno == EACCES || nErrno == EPERM;
}

// Takes the path's base name when it continues the comm.
static BOOL TakeIfContinues(const char *lpszPath, const char *lpszComm, LPSTR lpszDst)
{
    const char *lpszBase = BaseName(lpszPath);
    if (strncmp(lpszBase, lpszComm, COMM_CUT) != 0)
        return FALSE;
    CopyName(lpszDst, lpszBase, strlen(lpszBase));
    return TRUE;
}

// The name for a comm of exactly COMM_CUT characters, which may have been cut.
static DWORD CompleteName(int fdDir, pid_t pid, const char *lpszComm, LPSTR lpszDst)
{
    const size_t cchComm = COMM_CUT;
    char szPath[64];
    char szBuf[PATH_MAX + 1];

    EntryPath(szPath, pid, "cmdline");
    ssize_t cb = ReadSmallFile(fdDir, szPath, szBuf, sizeof(szBuf));
    if (cb < 0 && !IsUnreadable(errno))
        return ErrnoToWin32(errno);
    // Each argument ends at its zero byte; the last, at the end of what was read.
    const char *lpszArg = szBuf;
    for (int i = 0; i < NAME_ARGS && cb > 0 && lpszArg < szBuf + cb; i++) {
        if (TakeIfContinues(lpszArg, lpszComm, lpszDst))
            return ERROR_SUCCESS;
        lpszArg += strlen(lpszArg) + 1;
    }

    EntryPath(szPath, pid, "exe");
    ssize_t cch = readlinkat(fdDir, szPath, szBuf, sizeof(szBuf) - 1);
    if (cch < 0 && !IsUnreadable(errno))
        return ErrnoToWin32(errno);
    if (cch > 0) {
        szBuf[cch] = '\0';
        static const char szDeleted[] = " (deleted)";
        const size_t cchDeleted = sizeof(szDeleted) - 1;
        if ((size_t)cch > cchDeleted && strcmp(szBuf + cch - cchDeleted, szDeleted) == 0)
            szBuf[cch - (ssize_t)cchDeleted] = '\0';
        if (TakeIfContinues(szBuf, lpszComm, lpszDst))
            return ERROR_SUCCESS;
    }
    CopyName(lpszDst, lpszComm, cchComm);
    return ERROR_SUCCESS;
}

// Most names are shorter than the cut and taken as they are: kept apart from
// the rare completion, this part is cheap enough to be inlined into the walk.
DWORD FullName(int fdDir, pid_t pid, const char *lpszComm, size_t cchComm, LPSTR lpszDst)
{
    if (cchComm != COMM_CUT) {
        CopyName(lpszDst, lpszComm, cchComm);
        return ERROR_SUCCESS;
    }
    return CompleteName(fdDir, pid, lpszComm, lpszDst);
}
