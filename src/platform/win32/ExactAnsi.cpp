// The command line and the process list in the ANSI code page, without the
// best-fit mapping of the ANSI calls.
#include <stdlib.h>
#include <windows.h>
#include <tlhelp32.h>

#include "Win32Api.h"

// Converts without best fit; the length written, terminator included, or 0.
// *lpbExact tells whether every character has its own code there. UTF-8 holds
// every character but a lone surrogate, which fails the conversion, and takes
// neither the flag nor the question.
static int ToAnsi(LPCWSTR lpwsz, LPSTR lpszDst, int cbDst, BOOL *lpbExact)
{
    *lpbExact = FALSE;
    if (GetACP() == CP_UTF8) {
        int cb = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lpwsz, -1, lpszDst, cbDst, NULL, NULL);
        *lpbExact = cb > 0;
        return cb;
    }
    BOOL bUsedDefault = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, lpwsz, -1, lpszDst, cbDst, "?", &bUsedDefault);
    *lpbExact = cb > 0 && !bUsedDefault;
    return cb;
}

// A surrogate that is not one half of a pair: UTF-8 cannot hold it.
static BOOL IsLoneSurrogate(LPCWSTR p, LPCWSTR lpwszStart)
{
    if (p[0] >= 0xD800 && p[0] <= 0xDBFF)
        return !(p[1] >= 0xDC00 && p[1] <= 0xDFFF);
    if (p[0] >= 0xDC00 && p[0] <= 0xDFFF)
        return p == lpwszStart || !(p[-1] >= 0xD800 && p[-1] <= 0xDBFF);
    return FALSE;
}

LPSTR WINAPI GetExactCommandLineA(void)
{
    // Converted once and kept for the process's life, as Windows keeps its own.
    static LPSTR lpszLine;
    if (lpszLine != NULL)
        return lpszLine;
    // A character the code page lacks becomes its default character, "?",
    // which no file name holds: such a name matches no process, rather than
    // the one its look-alike names. A fullwidth quote stays no quote. A lone
    // surrogate becomes "?" too, also where the code page is UTF-8, so that
    // only its token fails and not the whole line.
    LPCWSTR lpwszLine = GetCommandLineW();
    size_t cch = 0;
    while (lpwszLine[cch] != 0)
        cch++;
    LPWSTR lpwszCopy = (LPWSTR)malloc((cch + 1) * sizeof(WCHAR));
    if (lpwszCopy == NULL)
        return NULL;
    for (size_t i = 0; i <= cch; i++)
        lpwszCopy[i] = IsLoneSurrogate(&lpwszLine[i], lpwszLine) ? L'?' : lpwszLine[i];
    BOOL bExact;
    int cb = ToAnsi(lpwszCopy, NULL, 0, &bExact);
    LPSTR lpsz = cb > 0 ? (LPSTR)malloc((size_t)cb) : NULL;
    if (lpsz != NULL && ToAnsi(lpwszCopy, lpsz, cb, &bExact) == cb)
        lpszLine = lpsz;
    else
        free(lpsz);
    free(lpwszCopy);
    return lpszLine;
}

// Delivers the next process whose name the code page holds exactly, and in
// MAX_PATH bytes. Any other would reach the tool as a look-alike ("q2.exe"
// for ｑ2.exe, "?.exe" for 文.exe): it is passed over, since no name given
// in this code page can tell it apart.
static BOOL Deliver(HANDLE hSnapshot, LPPROCESSENTRY32 lppe, BOOL bFirst)
{
    PROCESSENTRY32W pew;
    pew.dwSize = sizeof(pew);
    for (BOOL bMore = bFirst ? Process32FirstW(hSnapshot, &pew) : Process32NextW(hSnapshot, &pew); bMore;
         bMore = Process32NextW(hSnapshot, &pew)) {
        BOOL bExact;
        if (ToAnsi(pew.szExeFile, lppe->szExeFile, (int)sizeof(lppe->szExeFile), &bExact) > 0 && bExact) {
            lppe->cntUsage = pew.cntUsage;
            lppe->th32ProcessID = pew.th32ProcessID;
            lppe->th32DefaultHeapID = pew.th32DefaultHeapID;
            lppe->th32ModuleID = pew.th32ModuleID;
            lppe->cntThreads = pew.cntThreads;
            lppe->th32ParentProcessID = pew.th32ParentProcessID;
            lppe->pcPriClassBase = pew.pcPriClassBase;
            lppe->dwFlags = pew.dwFlags;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI Process32FirstExact(HANDLE hSnapshot, LPPROCESSENTRY32 lppe)
{
    return Deliver(hSnapshot, lppe, TRUE);
}

BOOL WINAPI Process32NextExact(HANDLE hSnapshot, LPPROCESSENTRY32 lppe)
{
    return Deliver(hSnapshot, lppe, FALSE);
}
