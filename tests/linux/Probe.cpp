// tolv_probe NAME [emfile]: walks to the first process named NAME, prints its
// number (or "end" and the walk's error), opens it once a line is read from
// stdin and prints 0 or the error. "emfile": no file opens after the snapshot.
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include "Win32Api.h"

int main(int argc, char **argv)
{
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (argc > 2) {
        int fd = dup(0);
        close(fd);
        struct rlimit limit = {(rlim_t)fd, (rlim_t)fd};
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof(pe);
    BOOL bFound = Process32First(hSnapshot, &pe);
    while (bFound && strcmp(pe.szExeFile, argv[1]) != 0)
        bFound = Process32Next(hSnapshot, &pe);
    if (!bFound) {
        printf("end %u\n", GetLastError());
        return 0;
    }
    printf("%u\n", pe.th32ProcessID);
    fflush(stdout);
    getchar();
    HANDLE hProcess = OpenProcess(PROCESS_SET_INFORMATION, FALSE, pe.th32ProcessID);
    printf("%u\n", hProcess != NULL ? 0 : GetLastError());
    if (hProcess != NULL)
        CloseHandle(hProcess);
    CloseHandle(hSnapshot);
}
