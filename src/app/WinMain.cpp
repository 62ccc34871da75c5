// Run flow and the two notices.
#define __USE_MINGW_ANSI_STDIO 0 // compose with the system runtime's sprintf
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "App.h"
#include "RunState.h"
#include "priority/Priority.h"

RUN_STATE RunState;

static const char szCaption[] = "Tolvenar";

// The usage text in the pieces it is composed of with sprintf and strcat,
// which the exe imports from msvcrt.dll anyway: its import list is fixed.
// The list of classes that ends it is written from the parser's keywords.
static const char *const UsagePieces[] = {
    "Tolvenar Reference",
    "\n\nArguments:\n tolv \"Module File\" PRIORITY",
    "\n\n \"Module File\" parameters is .EXE file name",
    "\n\ncommand line samples:",
    "\n(for InternetExplorer)\n \"iexplore.exe\" BELOW_NORMAL\n\n(for WMP)\n \"wmplayer.exe\" IDLE",
    "\n\nPriority Parameters:",
};

// Every notice the user sees passes through here.
static void ShowNotice(LPCSTR lpszText, UINT uIcon)
{
    MessageBoxA(NULL, lpszText, szCaption, MB_OK | uIcon);
}

void ShowUsage(void)
{
    char szText[512];
    sprintf(szText, "%s", UsagePieces[0]);
    for (size_t i = 1; i < sizeof(UsagePieces) / sizeof(UsagePieces[0]); i++)
        strcat(szText, UsagePieces[i]);
    // The keywords and their classes in decimal, the highest priority first.
    for (size_t i = cPriorityKeywords; i > 0; i--) {
        const PRIORITY_KEYWORD *lpKeyword = &PriorityKeywords[i - 1];
        sprintf(szText + strlen(szText), "\n %s=%u", lpKeyword->lpszName, (unsigned)lpKeyword->dwClass);
    }
    strcat(szText, "\n");
    ShowNotice(szText, MB_ICONINFORMATION);
}

static void ShowFailure(DWORD dwError)
{
    char szText[80];
    sprintf(szText, "SetPriorityClass function error\n\nGetLastError()=%d\n", (int)dwError);
    ShowNotice(szText, MB_ICONERROR);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;

    memset(&RunState, 0, sizeof(RunState));
    RunState.lpModuleName = (LPSTR)malloc(MODULE_NAME_SIZE);
    // Without the buffer no name can be held: change nothing, show nothing.
    if (RunState.lpModuleName == NULL)
        return 0;

    if (lpCmdLine == NULL || lpCmdLine[0] == '\0' || !ParseCommandTail(lpCmdLine))
        ShowUsage();

    // A tail of three tokens still names a process and a class: after the
    // usage notice the change is made all the same.
    if (RunState.dwPriorityClass != 0) {
        DWORD dwError = 0;
        BOOL bSet = SetPriorityByExeName(RunState.lpModuleName, RunState.dwPriorityClass, &dwError);
        // A refusal, not a process missing: hProcess marks that one was
        // opened (its handle is closed by now, and never used here).
        if (!bSet && RunState.hProcess != NULL)
            ShowFailure(dwError);
    }

    free(RunState.lpModuleName);
    RunState.lpModuleName = NULL;
    return 0;
}
