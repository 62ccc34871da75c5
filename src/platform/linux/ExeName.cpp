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
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include "ErrorCode.h"
#include "ExeName.h"
#include "Proc.h"

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
    Proc_FormatPid(lpszDst, "", pid, "/");
    strcat(lpszDst, lpszName);
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
    ssize_t cb = Proc_ReadFile(fdDir, szPath, szBuf, sizeof(szBuf));
    // A source that cannot be read is left out, whatever the reason: gone with
    // its process, not ours to read, or an exe path too long to read back
    // (ENAMETOOLONG), which any user can make. Only the walk's own errors end it.
    if (cb < 0 && ErrorCode_IsWalkError(errno))
        return ErrorCode_FromErrno(errno);
    // Each argument ends at its zero byte; the last, at the end of what was read.
    const char *lpszArg = szBuf;
    for (int i = 0; i < NAME_ARGS && cb > 0 && lpszArg < szBuf + cb; i++) {
        if (TakeIfContinues(lpszArg, lpszComm, lpszDst))
            return ERROR_SUCCESS;
        lpszArg += strlen(lpszArg) + 1;
    }

    EntryPath(szPath, pid, "exe");
    ssize_t cch = readlinkat(fdDir, szPath, szBuf, sizeof(szBuf) - 1);
    if (cch < 0 && ErrorCode_IsWalkError(errno))
        return ErrorCode_FromErrno(errno);
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
DWORD ExeName_FromComm(int fdDir, pid_t pid, const char *lpszComm, size_t cchComm, LPSTR lpszDst)
{
    if (cchComm != COMM_CUT) {
        CopyName(lpszDst, lpszComm, cchComm);
        return ERROR_SUCCESS;
    }
    return CompleteName(fdDir, pid, lpszComm, lpszDst);
}
