// Handles and the last error.
#include <stdlib.h>
#include <string.h>

#include "Handle.h"
#include "Process.h"
#include "Toolhelp.h"

static thread_local DWORD dwLastError = ERROR_SUCCESS;

DWORD WINAPI GetLastError(void)
{
    return dwLastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    dwLastError = dwErrCode;
}

LINUX_HANDLE *Handle_Alloc(DWORD dwKind)
{
    LINUX_HANDLE *lpHandle = (LINUX_HANDLE *)malloc(sizeof(LINUX_HANDLE));
    if (lpHandle == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    memset(lpHandle, 0, sizeof(*lpHandle));
    lpHandle->dwKind = dwKind;
    lpHandle->fdPid = -1;
    lpHandle->fdProcDir = -1;
    return lpHandle;
}

LINUX_HANDLE *Handle_Lookup(HANDLE hObject, DWORD dwKind)
{
    // Only null and INVALID_HANDLE_VALUE can be told apart from a live object
    // for sure; any other pointer must be one this layer handed out.
    if (hObject == NULL || hObject == INVALID_HANDLE_VALUE || ((LINUX_HANDLE *)hObject)->dwKind != dwKind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    return (LINUX_HANDLE *)hObject;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (hObject == NULL || hObject == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    LINUX_HANDLE *lpHandle = (LINUX_HANDLE *)hObject;
    if (lpHandle->dwKind == HANDLE_KIND_SNAPSHOT)
        Toolhelp_Close(lpHandle);
    else if (lpHandle->dwKind == HANDLE_KIND_PROCESS)
        Process_Close(lpHandle);
    else {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    lpHandle->dwKind = 0;
    free(lpHandle);
    return TRUE;
}
