// The argument vector, which the layer turns into a Windows command line
// (GetCommandLineA).
#pragma once

// main hands its argument vector over before the tool starts.
void Arguments_Set(int argc, char **argv);
// Frees the command line made from it, at the exit.
void Arguments_Free(void);
