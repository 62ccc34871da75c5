// The name a process is listed under, as ps shows it.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include "Win32Api.h"

// From its comm (without the newline, of cchComm characters): where the
// kernel cut it, made whole from the name the program was started under.
// ERROR_SUCCESS, or the code of an error that left the name unknown.
DWORD ExeName_FromComm(int fdDir, pid_t pid, const char *lpszComm, size_t cchComm, LPSTR lpszDst);
