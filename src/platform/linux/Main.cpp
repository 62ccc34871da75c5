// The native port's entry, whose start-up code does the rest, and its exit
// (ExitProcess).
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include "App.h"
#include "Arguments.h"

int main(int argc, char **argv)
{
    // A notice that cannot be delivered (stdout a pipe whose reader has gone)
    // is lost, never the change that follows it: a failed write must not end
    // the process.
    signal(SIGPIPE, SIG_IGN);
    Arguments_Set(argc, argv);
    TolvStartup();
    return 0; // not reached: the start-up code ends the process
}

void WINAPI ExitProcess(UINT uExitCode)
{
    fflush(NULL);
    Arguments_Free();
    exit((int)uExitCode);
}
