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

void *Handle_Alloc(size_t cb, DWORD dwKind)
{
    HANDLE_HEADER *lpHeader = (HANDLE_HEADER *)malloc(cb);
    if (lpHeader == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    memset(lpHeader, 0, cb);
    lpHeader->dwKind = dwKind;
    return lpHeader;
}

void *Handle_Lookup(HANDLE hObject, DWORD dwKind)
{
    // Only null and INVALID_HANDLE_VALUE can be told apart from a live object
    // for sure; any other pointer must be one this layer handed out.
    if (hObject == NULL || hObject == INVALID_HANDLE_VALUE || ((HANDLE_HEADER *)hObject)->dwKind != dwKind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    return hObject;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (hObject == NULL || hObject == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    HANDLE_HEADER *lpHeader = (HANDLE_HEADER *)hObject;
    if (lpHeader->dwKind == HANDLE_KIND_SNAPSHOT)
        Toolhelp_Close((SNAPSHOT_OBJECT *)hObject);
    else if (lpHeader->dwKind == HANDLE_KIND_PROCESS)
        Process_Close((PROCESS_OBJECT *)hObject);
    else {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    lpHeader->dwKind = 0;
    free(hObject);
    return TRUE;
}
