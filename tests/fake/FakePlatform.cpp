#include "FakePlatform.h"

#include <cstring>
#include <set>

namespace fake
{
namespace
{

struct Snapshot {
    std::vector<Process> processes; // copied when taken, as the system does
    size_t next = 0;
};

struct ProcessHandle {
    DWORD pid;
    DWORD access;
};

World g_world;
std::set<void *> g_snapshots;
std::set<void *> g_processes;

void Fill(PROCESSENTRY32 *lppe, const Process &p)
{
    DWORD dwSize = lppe->dwSize;
    std::memset(lppe, 0, sizeof(*lppe));
    lppe->dwSize = dwSize;
    lppe->th32ProcessID = p.pid;
    std::strncpy(lppe->szExeFile, p.exeFile.c_str(), MAX_PATH - 1);
}

BOOL Deliver(HANDLE h, PROCESSENTRY32 *lppe)
{
    if (g_snapshots.count(h) == 0 || lppe == nullptr) {
        g_world.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (lppe->dwSize != sizeof(PROCESSENTRY32)) {
        g_world.lastError = ERROR_BAD_LENGTH;
        return FALSE;
    }
    auto *s = static_cast<Snapshot *>(h);
    if (s->next >= s->processes.size()) {
        g_world.lastError = ERROR_NO_MORE_FILES;
        return FALSE;
    }
    Fill(lppe, s->processes[s->next++]);
    return TRUE;
}

Process *FindProcess(DWORD pid)
{
    for (auto &p : g_world.processes)
        if (p.pid == pid)
            return &p;
    return nullptr;
}

} // namespace

World &Get()
{
    return g_world;
}

void Reset()
{
    for (void *h : g_snapshots)
        delete static_cast<Snapshot *>(h);
    for (void *h : g_processes)
        delete static_cast<ProcessHandle *>(h);
    g_snapshots.clear();
    g_processes.clear();
    g_world = World();
}

int FindCall(const std::string &prefix)
{
    for (size_t i = 0; i < g_world.calls.size(); i++)
        if (g_world.calls[i].compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    return -1;
}

} // namespace fake

using fake::g_processes;
using fake::g_snapshots;
using fake::g_world;

extern "C" {

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID)
{
    g_world.calls.push_back("snapshot");
    g_world.snapshotFlags = dwFlags;
    g_world.snapshotPid = th32ProcessID;
    if (g_world.snapshotFails) {
        g_world.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return INVALID_HANDLE_VALUE;
    }
    auto *s = new fake::Snapshot;
    if (dwFlags & TH32CS_SNAPPROCESS)
        s->processes = g_world.processes;
    g_snapshots.insert(s);
    g_world.liveHandles++;
    return s;
}

BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe)
{
    g_world.calls.push_back("first");
    if (lppe != nullptr)
        g_world.firstEntrySize = lppe->dwSize;
    if (g_snapshots.count(hSnapshot))
        static_cast<fake::Snapshot *>(hSnapshot)->next = 0;
    return fake::Deliver(hSnapshot, lppe);
}

BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe)
{
    g_world.calls.push_back("next");
    return fake::Deliver(hSnapshot, lppe);
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId)
{
    g_world.calls.push_back("open " + std::to_string(dwProcessId));
    g_world.openAccess = dwDesiredAccess;
    g_world.openInherit = bInheritHandle;
    fake::Process *p = fake::FindProcess(dwProcessId);
    if (p == nullptr || !p->opens) {
        g_world.lastError = p == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED;
        return nullptr;
    }
    auto *h = new fake::ProcessHandle{dwProcessId, dwDesiredAccess};
    g_processes.insert(h);
    g_world.liveHandles++;
    return h;
}

BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass)
{
    if (g_processes.count(hProcess) == 0) {
        g_world.calls.push_back("set ? " + std::to_string(dwPriorityClass));
        g_world.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    auto *h = static_cast<fake::ProcessHandle *>(hProcess);
    g_world.calls.push_back("set " + std::to_string(h->pid) + " " + std::to_string(dwPriorityClass));
    fake::Process *p = fake::FindProcess(h->pid);
    if ((h->access & PROCESS_SET_INFORMATION) == 0) {
        g_world.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (p->refuseError != 0) {
        g_world.lastError = p->refuseError;
        return FALSE;
    }
    switch (dwPriorityClass) {
    case IDLE_PRIORITY_CLASS:
    case BELOW_NORMAL_PRIORITY_CLASS:
    case NORMAL_PRIORITY_CLASS:
    case ABOVE_NORMAL_PRIORITY_CLASS:
    case HIGH_PRIORITY_CLASS:
    case REALTIME_PRIORITY_CLASS:
        p->priorityClass = dwPriorityClass;
        return TRUE;
    default:
        g_world.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
}

DWORD WINAPI GetLastError(void)
{
    return g_world.lastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    g_world.lastError = dwErrCode;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    g_world.calls.push_back("close");
    if (g_snapshots.erase(hObject)) {
        delete static_cast<fake::Snapshot *>(hObject);
    } else if (g_processes.erase(hObject)) {
        delete static_cast<fake::ProcessHandle *>(hObject);
    } else {
        g_world.badCloses++;
        g_world.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    g_world.liveHandles--;
    return TRUE;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    g_world.calls.push_back("notice");
    g_world.notices.push_back({hWnd, lpText ? lpText : "", lpCaption ? lpCaption : "", uType});
    return IDOK;
}

} // extern "C"
