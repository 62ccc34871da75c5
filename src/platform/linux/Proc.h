// The files under /proc that every part of the layer reads.
#pragma once

#include <sys/types.h>

#include "Win32Api.h"

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
BOOL Proc_ParsePid(const char *lpszName, pid_t *lpPid);
// Writes prefix, the number in decimal and suffix, as a path or a line of a
// status file reads; the buffer must hold them all (a number takes 10 digits
// at most) and the terminator.
void Proc_FormatPid(char *lpszDst, const char *lpszPrefix, pid_t pid, const char *lpszSuffix);
// Reads a small file whole into a zero-terminated buffer; the length, or -1.
ssize_t Proc_ReadFile(int fdDir, const char *lpszPath, char *lpBuf, size_t cbBuf);
// The children of the process's first thread, as Proc_ReadFile reads them.
ssize_t Proc_ReadChildren(pid_t pid, char *lpBuf, size_t cbBuf);
// The state, flags, parent, session, thread count and start time; FALSE with errno set.
BOOL Proc_ReadStat(int fdDir, const char *lpszPath, STAT_INFO *lpInfo);
// The same of /proc/PID/stat.
BOOL Proc_ReadStatOf(pid_t pid, STAT_INFO *lpInfo);
// Only a leader with no thread left marks an ended process.
BOOL Proc_HasEnded(const STAT_INFO *lpInfo);
