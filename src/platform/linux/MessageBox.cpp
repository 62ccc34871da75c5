// The notices (MessageBoxA), printed: the usage notice to stdout, the
// failure notice to stderr.
#include <stdio.h>
#include <string.h>

#include "Win32Api.h"

// A console has no message box: the notice is printed and nothing waits for
// it to be dismissed, so the run goes on at once.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    (void)hWnd;
    const UINT uIconMask = 0xF0;
    FILE *lpStream = (uType & uIconMask) == MB_ICONERROR ? stderr : stdout;
    // Windows shows "Error" for a missing caption and an empty box for a missing text.
    if (lpCaption == NULL)
        lpCaption = "Error";
    if (lpText == NULL)
        lpText = "";

    fputs(lpCaption, lpStream);
    fputc('\n', lpStream);
    fputs(lpText, lpStream);
    size_t cch = strlen(lpText);
    if (cch == 0 || lpText[cch - 1] != '\n')
        fputc('\n', lpStream);
    fflush(lpStream);
    return IDOK;
}
