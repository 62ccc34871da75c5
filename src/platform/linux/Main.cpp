// The native port's entry: the tool's own start-up code does the rest.
#include "App.h"
#include "LinuxPlatform.h"

int main(int argc, char **argv)
{
    SetArguments(argc, argv);
    TolvStartup();
    return 0; // not reached: the start-up code ends the process
}
