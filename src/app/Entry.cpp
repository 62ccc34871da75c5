// The process entry point. The exe links no C runtime start-up code, so this
// is where the process begins.
#include "App.h"

extern "C" ENTRY_STACK_ALIGN void WINAPI TolvStartup(void)
{
    LPSTR lpszTail = SkipProgramName(GetCommandLineA());
    ExitProcess((UINT)WinMain(NULL, NULL, lpszTail, SW_SHOWDEFAULT));
}
