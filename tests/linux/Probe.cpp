// tolv_probe NAME: walks to the first process named NAME and prints its
// number (or "end" and the walk's error); after a line on stdin walks another
// list to its first entry, opens the process the first walk found, and
// prints 0 or the error. Exit code 1: a bad entry record was not refused, or
// the first call did not start the walk over.
#include <stdio.h>
#include <string.h>

#include "Win32Api.h"

int main(int, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof(pe) - 1;
    if (Process32First(hSnapshot, NULL) || GetLastError() != 87 || Process32First(hSnapshot, &pe) ||
        GetLastError() != 24)
        return 1;
    pe.dwSize = sizeof(pe);
    HANDLE hNone = CreateToolhelp32Snapshot(0, 0); // a snapshot of no processes
    if (Process32First(hNone, &pe) || GetLastError() != 18 || !CloseHandle(hNone)) return 1;
    BOOL bFound = Process32First(hSnapshot, &pe);
    DWORD dwFirst = pe.th32ProcessID;
    while (bFound && strcmp(pe.szExeFile, argv[1]) != 0) bFound = Process32Next(hSnapshot, &pe);
    if (!bFound) {
        printf("end %u\n", GetLastError());
        return CloseHandle(hSnapshot) ? 0 : 1;
    }
    DWORD dwFound = pe.th32ProcessID;
    printf("%u\n", dwFound);
    getchar();
    // The open checks the number against what the first walk listed, whatever other walks listed since.
    HANDLE hOther = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (!Process32First(hOther, &pe) || !CloseHandle(hOther)) return 1;
    HANDLE hProcess = OpenProcess(PROCESS_SET_INFORMATION, FALSE, dwFound);
    printf("%u\n", hProcess != NULL ? 0 : GetLastError());
    if (hProcess != NULL) CloseHandle(hProcess);
    // The first call starts the walk over.
    return Process32First(hSnapshot, &pe) && pe.th32ProcessID == dwFirst && CloseHandle(hSnapshot) ? 0 : 1;
}
