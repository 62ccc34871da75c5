// The native port's entry: the tool's own start-up code does the rest.
#include <signal.h>

#include "App.h"
#include "LinuxPlatform.h"

int main(int argc, char **argv)
{
    // A notice that cannot be delivered (stdout a pipe whose reader has gone)
    // is lost, never the change that follows it: a failed write must not end
    // the process.
    signal(SIGPIPE, SIG_IGN);
    SetArguments(argc, argv);
    TolvStartup();
    return 0; // not reached: the start-up code ends the process
}
