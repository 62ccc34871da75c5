// Process lookup by executable name and the change of its priority class.
#include <ctype.h>
#include <string.h>

#include "Priority.h"
#include "app/RunState.h"

void CopyLower(LPSTR lpszDst, LPCSTR lpszSrc)
{
    // unsigned char: a byte from 0x80 up must not reach isalpha as a negative int.
    const unsigned char *pSrc = (const unsigned char *)lpszSrc;
    for (;;) {
        unsigned char c = *pSrc++;
        // The second byte of a double-byte character may look like a capital
        // (ア is 0x83 0x41 in code page 932, ヂ 0x83 0x61): it is copied as it is.
        if (IsDBCSLeadByte(c) && *pSrc != '\0') {
            *lpszDst++ = (char)c;
            *lpszDst++ = (char)*pSrc++;
            continue;
        }
        // Both questions: the exe's imports from msvcrt.dll are the fixed list of
        // tests/pe/imports.txt. In the C locale, which the tool never changes,
        // isupper alone would do.
        if (isalpha(c) && isupper(c))
            c = (unsigned char)tolower(c);
        *lpszDst++ = (char)c;
        if (c == '\0')
            return;
    }
}

// Walks the snapshot to the first process whose name matches the folded
// target, or, given a number, to the process of that number, which must then
// match. TRUE with its entry in *lppe.
static BOOL FindInSnapshot(HANDLE hSnapshot, LPCSTR lpszTarget, const DWORD *lpdwProcessId,
                           LPPROCESSENTRY32 lppe)
{
    char szCandidate[MAX_PATH];
    memset(lppe, 0, sizeof(*lppe));
    lppe->dwSize = sizeof(*lppe);
    if (!Process32First(hSnapshot, lppe))
        return FALSE;
    do {
        if (lpdwProcessId != NULL && lppe->th32ProcessID != *lpdwProcessId)
            continue;
        // The entry's name is terminated within szExeFile, so it fits.
        lppe->szExeFile[MAX_PATH - 1] = '\0';
        CopyLower(szCandidate, lppe->szExeFile);
        if (strcmp(lpszTarget, szCandidate) == 0)
            return TRUE;
        if (lpdwProcessId != NULL)
            return FALSE;
    } while (Process32Next(hSnapshot, lppe));
    return FALSE;
}

// Between the list and the open, the listed process may have ended and its
// number gone to another process: a fresh list must still show the number
// under the name. From the open on, the handle keeps the number from reuse.
static BOOL IsStillListed(LPCSTR lpszTarget, DWORD dwProcessId)
{
    // Windows lists every process whatever the number; the number lets other
    // systems list just that one.
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TOLV_SNAPSHOT_FLAGS, dwProcessId);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return FALSE;
    PROCESSENTRY32 pe;
    BOOL bListed = FindInSnapshot(hSnapshot, lpszTarget, &dwProcessId, &pe);
    CloseHandle(hSnapshot);
    return bListed;
}

BOOL SetPriorityByExeName(LPCSTR lpszModule, DWORD dwPriorityClass, DWORD *lpdwError)
{
    char szTarget[MAX_PATH];
    // No executable name in the process list is longer than MAX_PATH - 1 bytes, so
    // a longer one matches nothing; it must not be cut to one that does.
    BOOL bNameFits = strlen(lpszModule) < MAX_PATH;
    if (bNameFits)
        CopyLower(szTarget, lpszModule);

    BOOL bResult = FALSE;
    HANDLE hProcess = NULL;
    RunState.hProcess = NULL;
    // A first match that ended before the second list could confirm it gives
    // way to the next first match, a few times only: the processes of a name
    // may keep ending. When none is confirmed, nothing is changed or shown.
    for (int nLook = 0; nLook < TOLV_LOOKS; nLook++) {
        HANDLE hSnapshot = CreateToolhelp32Snapshot(TOLV_SNAPSHOT_FLAGS, 0);
        if (hSnapshot == INVALID_HANDLE_VALUE)
            break;
        PROCESSENTRY32 pe;
        // Only the first match counts, even when it does not open.
        if (bNameFits && FindInSnapshot(hSnapshot, szTarget, NULL, &pe))
            hProcess = OpenProcess(PROCESS_SET_INFORMATION, FALSE, pe.th32ProcessID);
        CloseHandle(hSnapshot);
        if (hProcess == NULL || IsStillListed(szTarget, pe.th32ProcessID))
            break;
        CloseHandle(hProcess);
        hProcess = NULL;
    }

    // The handle is this call's own, closed before it returns; the field only
    // marks for the caller that a process was opened, and stays so after the
    // close.
    RunState.hProcess = hProcess;
    if (hProcess != NULL) {
        bResult = SetPriorityClass(hProcess, dwPriorityClass);
        if (lpdwError != NULL)
            *lpdwError = GetLastError();
        CloseHandle(hProcess);
    } else if (lpdwError != NULL) {
        *lpdwError = ERROR_INVALID_DATA;
    }
    return bResult;
}
