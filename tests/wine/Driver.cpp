// "tolvdrv TOOL" runs tolv.exe in Wine with the raw command lines below against targets (copies of this
// program, which without arguments sleeps) under unique names; compares what a user sees with the table.
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <string>

#define USAGE                                                                                                \
    "Tolvenar Reference\n\nArguments:\n tolv \"Module File\" PRIORITY\n\n \"Module File\" parameters "       \
    "is .EXE file name\n\ncommand line samples:\n(for InternetExplorer)\n \"iexplore.exe\" "                 \
    "BELOW_NORMAL\n\n(for WMP)\n \"wmplayer.exe\" IDLE\n\nPriority Parameters:\n REALTIME=256\n "            \
    "HIGHEST=128\n HIGH=128\n ABOVE_NORMAL=32768\n NORMAL=32\n BELOW_NORMAL=16384\n IDLE=64\n"
#define REFUSED "SetPriorityClass function error\n\nGetLastError()=87\n" // an unknown class, as on Windows
#define BOX(text, classes) "[Tolvenar|" text "|icon|" classes "]"

// The command line (the tool's path, the target's name; all in upper case, the files' names are mixed),
// the processes under the name, the boxes with the classes while each is up, then the classes after.
// clang-format off
static const struct { const char *pszCmd; int nTargets; const char *pszSeen; } Cases[] = {
    {"\"%s\"", 1, BOX(USAGE, " 32") " 32"}, {"\"%s\" %s IDLE", 1, " 64"}, {"\"%s\" %s 0x4000", 1, " 16384"},
    {"\"%s\" %s IDLE", 2, " 64 32"}, {"\"%s\" %s IDLE", 0, ""}, // no process of the name: nothing shown
    {"\"%s\" %s IDLE extra", 1, BOX(USAGE, " 32") " 64"}, {"\"%s\" %s 12345", 1, BOX(REFUSED, " 32") " 32"},
    {"\"%s\"%s BELOW_NORMAL", 1, " 16384"},
    {"\"tolv.exe%.0s %s IDLE", 1, BOX(USAGE, " 32") " 32"}, // the unclosed name runs to the end
};
// clang-format on

// The targets' classes in the order the process list shows them, as far as
// it shows them under their names: "first" then means what it means to the tool.
static std::string Classes(const PROCESS_INFORMATION *pTargets, int n)
{
    std::string s;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 pe = {sizeof pe};
    for (BOOL b = Process32First(hSnap, &pe); b; b = Process32Next(hSnap, &pe))
        for (int i = 0; i < n; i++)
            if (pTargets[i].dwProcessId == pe.th32ProcessID && pe.szExeFile[0] != '\0') {
                HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pe.th32ProcessID);
                s += " " + std::to_string(GetPriorityClass(hProcess));
                CloseHandle(hProcess);
            }
    CloseHandle(hSnap);
    return s;
}

static PROCESS_INFORMATION Start(const char *pszApp, std::string cmd)
{
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    return CreateProcessA(pszApp, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi),
           CloseHandle(pi.hThread), pi;
}

// Each box the tool shows (caption, text, whether it shows an icon, the targets' classes while it
// is up), closed with OK; then the classes after the run and the exit code.
static std::string Watch(const PROCESS_INFORMATION &tool, const PROCESS_INFORMATION *pTargets, int n)
{
    std::string seen;
    DWORD dwExit = 0;
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 20000;) {
        bool bExited = WaitForSingleObject(tool.hProcess, 10) == WAIT_OBJECT_0;
        HWND hwnd = NULL; // the tool's box, once visible, that is with its texts and icon
        do hwnd = FindWindowExA(NULL, hwnd, "#32770", NULL);
        while (hwnd != NULL &&
               (GetWindowThreadProcessId(hwnd, NULL) != tool.dwThreadId || !IsWindowVisible(hwnd)));
        if (hwnd != NULL) {
            char szCaption[64] = "", szText[1024] = "";
            GetWindowTextA(hwnd, szCaption, sizeof szCaption);
            GetDlgItemTextA(hwnd, 0xFFFF, szText, sizeof szText);
            // stc1 (0x440) is the box's icon control, hidden when the box has no icon.
            HWND hwndIcon = GetDlgItem(hwnd, 0x0440);
            bool bIcon = IsWindowVisible(hwndIcon) && SendMessageA(hwndIcon, STM_GETICON, 0, 0) != 0;
            seen += std::string("[") + szCaption + "|" + szText + (bIcon ? "|icon|" : "|no icon|") +
                    Classes(pTargets, n) + "]";
            SendMessageA(hwnd, WM_COMMAND, IDOK, 0); // hides the box before it returns
        } else if (bExited && GetExitCodeProcess(tool.hProcess, &dwExit)) {
            return seen + Classes(pTargets, n) + " exit " + std::to_string(dwExit);
        }
    }
    return seen + " (timed out)";
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return (int)SleepEx(600000, FALSE); // a target; capped, so that one left behind still goes away
    int nFailed = 0;
    for (const auto &t : Cases) {
        char szName[64], szCmd[1024];
        snprintf(szName, sizeof szName, "Tgt%lu_%d.exe", GetCurrentProcessId(), (int)(&t - Cases));
        snprintf(szCmd, sizeof szCmd, t.pszCmd, argv[1], szName);
        CharUpperA(szCmd);
        CopyFileA(argv[0], szName, FALSE);
        PROCESS_INFORMATION targets[2] = {}, tool = {};
        for (int i = 0; i < t.nTargets; i++) targets[i] = Start(szName, szName);
        // Until the list shows every target, each as " 32" (NORMAL).
        for (int i = 0; i < 500 && Classes(targets, t.nTargets).size() != 3u * (size_t)t.nTargets; i++)
            Sleep(10);
        std::string want = std::string(t.pszSeen) + " exit 0",
                    seen = Watch(tool = Start(argv[1], szCmd), targets, t.nTargets);
        for (const PROCESS_INFORMATION &pi : {tool, targets[0], targets[1]})
            TerminateProcess(pi.hProcess, 0), WaitForSingleObject(pi.hProcess, 5000),
                CloseHandle(pi.hProcess);
        DeleteFileA(szName);
        printf("%s %s\n", seen == want ? "ok  " : "FAIL", szCmd);
        if (seen != want) printf("  want: %s\n  seen: %s\n", want.c_str(), seen.c_str()), nFailed++;
    }
    return nFailed != 0;
}
