// The Win32 codes that errno values become.
#include <errno.h>

#include "ErrorCode.h"

// Codes the layer reports beyond those the tool itself names.
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2
#endif
#ifndef ERROR_TOO_MANY_OPEN_FILES
#define ERROR_TOO_MANY_OPEN_FILES 4
#endif

DWORD ErrorCode_FromErrno(int nErrno)
{
    switch (nErrno) {
    case 0:
        return ERROR_SUCCESS;
    case EPERM:
    case EACCES:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ESRCH:
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    default:
        return ERROR_GEN_FAILURE;
    }
}

BOOL ErrorCode_IsGone(int nErrno)
{
    return nErrno == ENOENT || nErrno == ESRCH;
}

BOOL ErrorCode_IsWalkError(int nErrno)
{
    return nErrno == EMFILE || nErrno == ENFILE || nErrno == ENOMEM;
}

DWORD ErrorCode_FromProcErrno(int nErrno)
{
    return nErrno == ENOENT ? ERROR_INVALID_PARAMETER : ErrorCode_FromErrno(nErrno);
}
