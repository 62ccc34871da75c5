// A process that does nothing but wait to be killed: something with a known
// executable name for the tool to find and re-prioritise.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Capped, so that a target left behind by an aborted run still goes away.
    for (int i = 0; i < 600; i++)
        Sleep(1000);
    return 0;
}
