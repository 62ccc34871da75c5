// The session's autogroup. Without a cpu cgroup in the way the kernel groups
// threads by session, and a thread's nice weighs only against its own group:
// a class must move the group to take effect against the rest of the
// machine. The group is the whole session's, so the rule of GroupRule.h
// guards it.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "GroupRule.h"

// The file refuses a write within 100 ms of another group's change unless the
// caller holds CAP_SYS_ADMIN: tries again this often, for up to a second.
#define WRITE_PAUSE_NS 1000000L
#define WRITE_WAIT_NS 1000000000LL

// The group's name and nice from an autogroup file; FALSE where the process
// is in no autogroup (the root group shows nothing) or the file is unreadable.
static BOOL ReadGroup(int fdDir, const char *lpszPath, char *lpszGroup, int *lpnNice)
{
    char szBuf[128];
    if (ReadSmallFile(fdDir, lpszPath, szBuf, sizeof(szBuf)) <= 0)
        return FALSE;
    char *lpszNice = strstr(szBuf, " nice ");
    if (szBuf[0] != '/' || lpszNice == NULL || lpszNice - szBuf >= 63)
        return FALSE;
    *lpszNice = '\0';
    strcpy(lpszGroup, szBuf);
    *lpnNice = atoi(lpszNice + 6);
    return TRUE;
}

// Whether the process is in the group: FALSE also where it is gone.
static BOOL IsInGroup(const char *lpszGroup, pid_t pid)
{
    char szPath[64], szGroup[64];
    int nNice;
    PidPath(szPath, "/proc/", pid, "/autogroup");
    return ReadGroup(AT_FDCWD, szPath, szGroup, &nNice) && strcmp(szGroup, lpszGroup) == 0;
}

static BOOL IsForeignMember(GROUP_RULE *lpRule, const char *lpszGroup, pid_t pid)
{
    return !IsAllowed(lpRule, pid) && IsInGroup(lpszGroup, pid) && IsForeign(lpRule, pid);
}

// The cheap check first: a sibling of the target in its group, such as a
// second command of the same shell, or one of a pipeline.
static BOOL HasForeignSibling(GROUP_RULE *lpRule, const char *lpszGroup, pid_t pidParent)
{
    char szPath[64], szBuf[128];
    PidPath(szPath, "/proc/", pidParent, "/task/");
    size_t cch = strlen(szPath);
    PidPath(szPath + cch, "", pidParent, "/children");
    // The first few will do, and the kernel makes the list as it is read, at a
    // cost that shows with a thousand children: the full scan finds the rest.
    if (ReadSmallFile(AT_FDCWD, szPath, szBuf, sizeof(szBuf)) < 0)
        return FALSE;
    for (char *p = szBuf; *p != '\0';) {
        char *lpszEnd;
        pid_t pid = (pid_t)strtol(p, &lpszEnd, 10);
        if (lpszEnd == p || *lpszEnd != ' ')
            break; // the end, or a number cut at the buffer's end
        p = lpszEnd + 1;
        if (IsForeignMember(lpRule, lpszGroup, pid))
            return TRUE;
    }
    return FALSE;
}

// Whether the process ID was handed out after pidFrom up to pidTo, numbers
// wrapping past the largest back to the smallest.
static BOOL IsNewPid(pid_t pid, pid_t pidFrom, pid_t pidTo)
{
    return pidFrom <= pidTo ? pid > pidFrom && pid <= pidTo : pid > pidFrom || pid <= pidTo;
}

// Every process of /proc in the group, or those among them started after
// pidFrom up to pidTo where pidFrom is not -1.
static BOOL ScanForForeign(GROUP_RULE *lpRule, const char *lpszGroup, pid_t pidFrom, pid_t pidTo)
{
    DIR *lpProcDir = opendir("/proc");
    if (lpProcDir == NULL)
        return TRUE;
    BOOL bForeign = FALSE;
    struct dirent *lpEntry;
    while (!bForeign && (errno = 0, lpEntry = readdir(lpProcDir)) != NULL) {
        pid_t pid;
        if (ParsePid(lpEntry->d_name, &pid) && (pidFrom < 0 || IsNewPid(pid, pidFrom, pidTo)))
            bForeign = IsForeignMember(lpRule, lpszGroup, pid);
    }
    bForeign |= lpEntry == NULL && errno != 0; // a list cut short may hide one
    closedir(lpProcDir);
    return bForeign;
}

// The full scan, then the processes started meanwhile until none was: a
// foreign one may leave a child on a number the scan had passed and end.
static BOOL HasForeignMember(GROUP_RULE *lpRule, const char *lpszGroup)
{
    pid_t pidFrom = LastPid();
    if (pidFrom < 0 || ScanForForeign(lpRule, lpszGroup, -1, 0))
        return TRUE;
    for (int i = 0; i < SCAN_TRIES; i++) {
        pid_t pidTo = LastPid();
        if (pidTo == pidFrom)
            return FALSE;
        if (pidTo < 0 || ScanForForeign(lpRule, lpszGroup, pidFrom, pidTo))
            return TRUE;
        pidFrom = pidTo;
    }
    return TRUE;
}

static long long Now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static DWORD WriteGroupNice(int fdProcDir, int nNice)
{
    int fd = openat(fdProcDir, "autogroup", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return ProcErrnoToWin32(errno);
    char szNice[16];
    snprintf(szNice, sizeof(szNice), "%d", nNice);
    int nErrno;
    long long llDeadline = Now() + WRITE_WAIT_NS;
    // Another change of any group in the last 100 ms: wait it out, so that
    // two runs in a row both take effect.
    while ((nErrno = write(fd, szNice, strlen(szNice)) < 0 ? errno : 0) == EAGAIN && Now() < llDeadline) {
        struct timespec ts = {0, WRITE_PAUSE_NS};
        nanosleep(&ts, NULL);
    }
    close(fd);
    return ProcErrnoToWin32(nErrno);
}

DWORD SetSessionGroup(const LINUX_HANDLE *lpProc, const STAT_INFO *lpInfo, int nNice)
{
    // Static: the remembered verdicts make the record too large for the stack.
    static GROUP_RULE rule;
    char szGroup[64];
    int nNow;
    // No group (the root one, or a kernel without them), or nothing to change.
    if (!ReadGroup(lpProc->fdProcDir, "autogroup", szGroup, &nNow) || nNow == nNice)
        return ERROR_SUCCESS;
    if (!InitGroupRule(&rule, lpProc->pid, lpInfo->dwSession, NULL) ||
        HasForeignSibling(&rule, szGroup, (pid_t)lpInfo->dwParent) || HasForeignMember(&rule, szGroup))
        return ERROR_SUCCESS;
    return WriteGroupNice(lpProc->fdProcDir, nNice);
}
