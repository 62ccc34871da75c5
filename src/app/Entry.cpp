// The process entry point. The exe links no C runtime start-up code, so this
// is where the process begins.
#include "App.h"

// Windows enters with the stack aligned to 4 bytes only; realign it for code
// that assumes 16.
extern "C" __attribute__((force_align_arg_pointer)) void WINAPI TolvStartup(void)
{
    LPSTR lpszTail = SkipProgramName(GetCommandLineA());
    ExitProcess((UINT)WinMain(NULL, NULL, lpszTail, SW_SHOWDEFAULT));
}
