#include "FakePlatform.h"

#include <cstring>
#include <fstream>
#include <iterator>

using namespace fake;
using std::to_string;

static std::string ReadFile(const char *path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

World fake::g;
const std::string fake::kUsage = ReadFile(TOLV_USAGE_FILE);
const std::string fake::kFailure = ReadFile(TOLV_FAILURE_FILE);
static const HANDLE hSnapshotValue = reinterpret_cast<HANDLE>(0x5000);
static size_t nNext; // the snapshot's next entry

std::string fake::Events(std::initializer_list<std::string> words)
{
    std::string s;
    for (const std::string &e : g.events)
        for (const std::string &w : words)
            if (e.compare(0, w.size(), w) == 0) s += (s.empty() ? "" : "; ") + e;
    return s;
}

static HANDLE Track(HANDLE h) { return *g.open.insert(h).first; }
static BOOL Fail(DWORD dwError)
{
    g.lastError = dwError;
    return FALSE;
}
static HANDLE ProcessHandle(DWORD pid) { return reinterpret_cast<HANDLE>(0x10000 + (uintptr_t)pid); }

static Process *Find(DWORD pid)
{
    for (Process &p : g.processes)
        if (p.pid == pid) return &p;
    return nullptr;
}

static BOOL Deliver(HANDLE h, LPPROCESSENTRY32 lppe)
{
    if (!g.open.count(h) || h != hSnapshotValue || lppe->dwSize != sizeof(PROCESSENTRY32))
        return Fail(ERROR_INVALID_PARAMETER);
    if (nNext >= g.processes.size()) return Fail(ERROR_NO_MORE_FILES);
    const Process &p = g.processes[nNext++];
    std::memset(lppe->szExeFile, 'J', MAX_PATH); // what a caller finds past the name
    std::strcpy(lppe->szExeFile, p.exe.c_str());
    lppe->th32ProcessID = p.pid;
    return TRUE;
}

// Windows lists every process whatever the number given.
HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD)
{
    if (dwFlags != 0x40000002 || g.snapshots-- <= 0) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    g.events.push_back("list");
    return Track(hSnapshotValue);
}

BOOL WINAPI Process32First(HANDLE h, LPPROCESSENTRY32 lppe)
{
    nNext = 0;
    return Deliver(h, lppe);
}

BOOL WINAPI Process32Next(HANDLE h, LPPROCESSENTRY32 lppe) { return Deliver(h, lppe); }

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId)
{
    Process *p = Find(dwProcessId);
    if (p == nullptr || !p->opens || dwDesiredAccess != PROCESS_SET_INFORMATION || bInheritHandle) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!p->afterOpen.empty()) p->exe = p->afterOpen;
    g.events.push_back("open " + to_string(dwProcessId));
    return Track(ProcessHandle(dwProcessId));
}

BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass)
{
    DWORD pid = (DWORD)(reinterpret_cast<uintptr_t>(hProcess) - 0x10000);
    g.events.push_back("set " + to_string(pid) + " " + to_string(dwPriorityClass));
    if (!g.open.count(hProcess) || hProcess != ProcessHandle(pid)) return Fail(ERROR_INVALID_HANDLE);
    return Find(pid)->refuse ? Fail(Find(pid)->refuse) : TRUE;
}

DWORD WINAPI GetLastError(void) { return g.lastError; }

BOOL WINAPI IsDBCSLeadByte(BYTE c)
{
    return g.dbcs && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (g.open.erase(hObject)) return TRUE;
    g.badCloses++;
    return Fail(ERROR_INVALID_HANDLE);
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    std::string text = lpText ? lpText : "(null)";
    // The failure text with the code where its format has %d.
    size_t at = kFailure.find("%d"), after = kFailure.size() - at - 2;
    std::string code = text.size() > at + after ? text.substr(at, text.size() - at - after) : "";
    bool box = hWnd == nullptr && lpCaption != nullptr && std::string(lpCaption) == "Tolvenar";
    if (box && uType == (MB_OK | MB_ICONINFORMATION) && text == kUsage)
        g.events.push_back("usage notice");
    else if (box && uType == (MB_OK | MB_ICONERROR) && !code.empty() &&
             text == kFailure.substr(0, at) + code + kFailure.substr(at + 2))
        g.events.push_back("failure notice " + code);
    else
        g.events.push_back("other notice " + text);
    return IDOK;
}
