// Whether a process the walk lists still runs, proven as cheaply as can be:
// a zombie is not listed, and reading every process's stat record would add
// to the cost of every walk.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "Liveness.h"

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
static BOOL IsKernelThread(LIVENESS *lpLive, pid_t pid)
{
    while (lpLive->iKernelNext < lpLive->cKernelPids && lpLive->lpKernelPids[lpLive->iKernelNext] < pid)
        lpLive->iKernelNext++;
    return lpLive->iKernelNext < lpLive->cKernelPids && lpLive->lpKernelPids[lpLive->iKernelNext] == pid;
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

static BOOL IsOwnedByUser(const LIVENESS *lpLive, int fdComm)
{
    struct stat st;
    return lpLive->bOwnerProof && fstat(fdComm, &st) == 0 && st.st_uid != lpLive->uidRoot;
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
static void ListKernelThreads(LIVENESS *lpLive, int fdProc)
{
    STAT_INFO info;
    // In any other PID namespace, PID 2 is an ordinary process.
    if (!Proc_ReadStat(fdProc, "2/stat", &info) || (info.dwFlags & PF_KTHREAD) == 0)
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
    lpLive->lpKernelPids = lpPids;
    lpLive->cKernelPids = cPids;
}

void Liveness_SetUp(LIVENESS *lpLive, int fdProc)
{
    ListKernelThreads(lpLive, fdProc);
    // Root may read any process's robust-futex list, and most processes are
    // root's, whose files show root as owner either way; anyone else is
    // refused the lists of other users, whose files do tell.
    lpLive->bOwnersFirst = geteuid() != 0;
    // The owner a process's files fall to is root of the first user
    // namespace, whatever namespace (nested or not) we are in: a sysctl file
    // shows how it looks here. Where it shows as the overflow owner, root
    // cannot be told from any unmapped user, and the proof is not used.
    struct stat st;
    if (stat("/proc/sys/kernel/pid_max", &st) == 0 && st.st_uid != OVERFLOW_UID) {
        lpLive->bOwnerProof = TRUE;
        lpLive->uidRoot = st.st_uid;
    }
}

void Liveness_Restart(LIVENESS *lpLive)
{
    lpLive->iKernelNext = 0;
}

void Liveness_Free(LIVENESS *lpLive)
{
    free(lpLive->lpKernelPids);
}

BOOL Liveness_IsRunning(LIVENESS *lpLive, int fdProc, int fdComm, pid_t pid, STAT_INFO *lpInfo)
{
    // Kernel threads have no memory of their own either, but never linger once ended.
    if (IsKernelThread(lpLive, pid))
        return TRUE;
    // The proof more likely to settle it goes first.
    if (lpLive->bOwnersFirst) {
        if (IsOwnedByUser(lpLive, fdComm) || HasRobustList(pid))
            return TRUE;
    } else if (HasRobustList(pid) || IsOwnedByUser(lpLive, fdComm)) {
        return TRUE;
    }

    char szPath[64];
    Proc_FormatPid(szPath, "", pid, "/stat");
    if (!Proc_ReadStat(fdProc, szPath, lpInfo))
        return FALSE;
    if (Proc_HasEnded(lpInfo)) {
        errno = ESRCH;
        return FALSE;
    }
    return TRUE;
}
