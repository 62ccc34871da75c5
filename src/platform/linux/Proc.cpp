// The files under /proc that every part of the layer reads.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "Proc.h"

BOOL Proc_ParsePid(const char *lpszName, pid_t *lpPid)
{
    // "0" and a leading zero name nothing in /proc: the kernel's own rule.
    if (*lpszName < '1' || *lpszName > '9')
        return FALSE;
    // Ten digits cannot overflow this, so the bound is checked once, at the end.
    unsigned long long ullValue = 0;
    int cDigits = 0;
    for (const char *p = lpszName; *p != '\0'; p++) {
        unsigned int uDigit = (unsigned int)(*p - '0');
        if (uDigit > 9 || ++cDigits > 10)
            return FALSE;
        ullValue = ullValue * 10 + uDigit;
    }
    if (ullValue > INT_MAX)
        return FALSE;
    *lpPid = (pid_t)ullValue;
    return TRUE;
}

void Proc_FormatPid(char *lpszDst, const char *lpszPrefix, pid_t pid, const char *lpszSuffix)
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

ssize_t Proc_ReadFile(int fdDir, const char *lpszPath, char *lpBuf, size_t cbBuf)
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

ssize_t Proc_ReadChildren(pid_t pid, char *lpBuf, size_t cbBuf)
{
    char szPath[64];
    Proc_FormatPid(szPath, "/proc/", pid, "/task/");
    Proc_FormatPid(szPath + strlen(szPath), "", pid, "/children");
    return Proc_ReadFile(AT_FDCWD, szPath, lpBuf, cbBuf);
}

// Fields of the stat record, counted from 1 as in proc(5); the name, field 2,
// ends at the last ')', and the state follows it.
enum STAT_FIELD {
    STAT_STATE = 3,
    STAT_PARENT = 4,
    STAT_SESSION = 6,
    STAT_FLAGS = 9,
    STAT_THREADS = 20,
    STAT_START = 22, // the start time, in clock ticks since boot
};

// The numeric field nField (STAT_STATE or later) of a stat record, given the
// text after the name's closing parenthesis.
static unsigned long long StatField(const char *lpszRest, int nField)
{
    const char *p = lpszRest;
    for (int i = STAT_STATE; i < nField; i++) {
        while (*p == ' ')
            p++;
        while (*p != ' ' && *p != '\0')
            p++;
    }
    return strtoull(p, NULL, 10); // which skips the blanks before the field
}

BOOL Proc_ReadStat(int fdDir, const char *lpszPath, STAT_INFO *lpInfo)
{
    // The record fits well within this; fields past the start time are not needed.
    char szStat[1024];
    ssize_t cb = Proc_ReadFile(fdDir, lpszPath, szStat, sizeof(szStat));
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
    lpInfo->chState = *lpszRest; // STAT_STATE, a letter
    lpInfo->dwParent = (DWORD)StatField(lpszRest, STAT_PARENT);
    lpInfo->dwSession = (DWORD)StatField(lpszRest, STAT_SESSION);
    lpInfo->dwFlags = (DWORD)StatField(lpszRest, STAT_FLAGS);
    lpInfo->dwThreads = (DWORD)StatField(lpszRest, STAT_THREADS);
    lpInfo->ullStart = StatField(lpszRest, STAT_START);
    return TRUE;
}

BOOL Proc_ReadStatOf(pid_t pid, STAT_INFO *lpInfo)
{
    char szPath[64];
    Proc_FormatPid(szPath, "/proc/", pid, "/stat");
    return Proc_ReadStat(AT_FDCWD, szPath, lpInfo);
}

// A zombie leader with live threads is a running process whose first thread
// has ended.
BOOL Proc_HasEnded(const STAT_INFO *lpInfo)
{
    return (lpInfo->chState == 'Z' || lpInfo->chState == 'X') && lpInfo->dwThreads <= 1;
}
