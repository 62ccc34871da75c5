// Process lookup by executable name and the change of its priority class.
#include <ctype.h>
#include <string.h>

#include "Priority.h"
#include "app/RunState.h"

void CopyLower(LPSTR lpszDst, LPCSTR lpszSrc)
{
    // unsigned char: a byte from 0x80 up must not reach isalpha as a negative int.
    const unsigned char *pSrc = (const unsigned char *)lpszSrc;
    do {
        unsigned char c = *pSrc;
        if (isalpha(c) && isupper(c))
            c = (unsigned char)tolower(c);
        *lpszDst++ = (char)c;
    } while (*pSrc++ != '\0');
}

BOOL SetPriorityByExeName(LPCSTR lpszModule, DWORD dwPriorityClass, DWORD *lpdwError)
{
    char szTarget[MAX_PATH];
    char szCandidate[MAX_PATH];
    // No executable name in the process list is longer than MAX_PATH - 1, so
    // a longer one matches nothing; it must not be cut to one that does.
    BOOL bNameFits = strlen(lpszModule) < MAX_PATH;
    if (bNameFits)
        CopyLower(szTarget, lpszModule);

    BOOL bResult = FALSE;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TOLV_SNAPSHOT_FLAGS, 0);
    RunState.hProcess = NULL;

    if (hSnapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 pe;
        memset(&pe, 0, sizeof(pe));
        pe.dwSize = sizeof(pe);
        if (bNameFits && Process32First(hSnapshot, &pe)) {
            do {
                // The entry's name is terminated within szExeFile, so it fits.
                pe.szExeFile[MAX_PATH - 1] = '\0';
                CopyLower(szCandidate, pe.szExeFile);
                if (strcmp(szTarget, szCandidate) == 0) {
                    // Only the first match counts, even when it does not open.
                    RunState.hProcess = OpenProcess(PROCESS_SET_INFORMATION, FALSE, pe.th32ProcessID);
                    break;
                }
            } while (Process32Next(hSnapshot, &pe));
        }
        CloseHandle(hSnapshot);
    }

    if (RunState.hProcess != NULL) {
        bResult = SetPriorityClass(RunState.hProcess, dwPriorityClass);
        if (lpdwError != NULL)
            *lpdwError = GetLastError();
        // The field stays set: it tells the caller that a process was opened.
        CloseHandle(RunState.hProcess);
    } else if (lpdwError != NULL) {
        *lpdwError = ERROR_INVALID_DATA;
    }
    return bResult;
}
