// "tolvdrv TOOL LOG TESTS LOCALE" runs tolv.exe in Wine with the raw command lines of
// TESTS\wine\cases.txt of LOCALE in its code page, against targets (copies of this program, which
// without arguments sleeps) under unique names, and compares what a user sees with the table there.
// LOG is Wine's +cursor trace, which tells the standard icon each box loaded.
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

// TOLV_WINE_WAIT multiplies the waits for the tool (20 s) and for the targets (5 s), for qemu's TCG;
// TOLV_WINE_FROM passes over that many of the locale's cases, run before a wineserver that hung.
static const DWORD g_dwWaitScale = getenv("TOLV_WINE_WAIT") ? strtoul(getenv("TOLV_WINE_WAIT"), NULL, 10) : 1;
static const int g_nFrom = getenv("TOLV_WINE_FROM") ? atoi(getenv("TOLV_WINE_FROM")) : 0;
// TESTS\usage.txt, the usage text, and TESTS\failure.txt, the failure text with %d for the code.
static std::string g_usage, g_failure;

struct Case {
    std::string locale, rule, seen;
    std::wstring cmd, name, targets[2];
};

static std::wstring Wide(const std::string &s)
{
    std::wstring w(s.size(), L'\0');
    w.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], (int)w.size()));
    // \uXXXX: a UTF-16 unit that UTF-8 cannot carry, such as a lone surrogate.
    for (size_t i; (i = w.find(L"\\u")) != std::wstring::npos;)
        w.replace(i, 6, 1, (wchar_t)std::stoul(w.substr(i + 2, 4), 0, 16));
    return w;
}

// The targets' classes in the order the process list shows them, as far as
// it shows them under their names: "first" then means what it means to the tool.
static std::string Classes(const PROCESS_INFORMATION *pTargets, int n)
{
    std::string s;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W pe = {sizeof pe};
    for (BOOL b = Process32FirstW(hSnap, &pe); b; b = Process32NextW(hSnap, &pe))
        for (int i = 0; i < n; i++)
            if (pTargets[i].dwProcessId == pe.th32ProcessID && pe.szExeFile[0] != '\0') {
                HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pe.th32ProcessID);
                s += " " + std::to_string(GetPriorityClass(hProcess));
                CloseHandle(hProcess);
            }
    CloseHandle(hSnap);
    return s;
}

static PROCESS_INFORMATION Start(const wchar_t *pszApp, std::wstring cmd)
{
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(pszApp, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) CloseHandle(pi.hThread);
    return pi;
}

// The box's own standard icon, the first one other than IDI_APPLICATION (#7f00) that the tool's thread
// loaded since the log had lSince bytes: Wine 8 loads only the box's (and under WoW64 fails that load,
// so its icon control stays empty), Wine 10 loads the box's and then IDI_APPLICATION for the dialog.
// Which icon the box asked for is what every build and version can show.
static std::string LoadedIcon(const char *pszLog, long lSince, DWORD dwThread)
{
    std::string kind = "icon not loaded";
    char szLine[512], szPrefix[48];
    snprintf(szPrefix, sizeof szPrefix, "%04lx:trace:cursor:LoadIconW ", dwThread);
    FILE *f = fopen(pszLog, "rb");
    if (f && fseek(f, lSince, SEEK_SET) == 0)
        while (kind == "icon not loaded" && fgets(szLine, sizeof szLine, f))
            if (const char *pId = strncmp(szLine, szPrefix, strlen(szPrefix)) ? NULL : strstr(szLine, ", #"))
                kind = !strncmp(pId, ", #7f04", 7)   ? "information"
                       : !strncmp(pId, ", #7f01", 7) ? "error"
                       : !strncmp(pId, ", #7f00", 7) ? kind
                                                     : pId;
    if (f) fclose(f);
    return kind;
}

// Each box the tool shows (caption, text, its icon, the targets' classes while it is up), closed with
// OK; then the classes after the run and the exit code.
static std::string Watch(const PROCESS_INFORMATION &tool, const PROCESS_INFORMATION *pTargets, int n,
                         const char *pszLog, long lSince)
{
    std::string seen;
    DWORD dwExit = 0;
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 20000 * g_dwWaitScale;) {
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
            bool bIcon = IsWindowVisible(GetDlgItem(hwnd, 0x0440));
            std::string text;
            for (const char *p = szText; *p; p++) text += *p == '\n' ? "\\n" : std::string(1, *p);
            if (szText == g_usage) text = "the usage text";
            // The failure text, if the number where its %d stands gives back the whole text.
            char szFailure[1024];
            size_t nAt = g_failure.find("%d");
            int nCode = nAt < strlen(szText) ? atoi(szText + nAt) : 0;
            snprintf(szFailure, sizeof szFailure, g_failure.c_str(), nCode);
            if (!strcmp(szText, szFailure)) text = "the failure text for " + std::to_string(nCode);
            seen += std::string("[") + szCaption + "|" + text + "|" +
                    (bIcon ? LoadedIcon(pszLog, lSince, tool.dwThreadId) : "no icon") + "|" +
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
    if (argc < 4)
        return (int)SleepEx(600000, FALSE); // a target; capped, so that one left behind still goes away
    int nFailed = 0, nRun = 0;
    wchar_t szTool[MAX_PATH], szSelf[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, szTool, MAX_PATH);
    GetModuleFileNameW(NULL, szSelf, MAX_PATH);
    std::ifstream usageFile(std::string(argv[3]) + "\\usage.txt", std::ios::binary);
    g_usage.assign(std::istreambuf_iterator<char>(usageFile), {});
    std::ifstream failureFile(std::string(argv[3]) + "\\failure.txt", std::ios::binary);
    g_failure.assign(std::istreambuf_iterator<char>(failureFile), {});
    std::ifstream caseFile(std::string(argv[3]) + "\\wine\\cases.txt");
    std::string line, field[6];
    std::vector<Case> cases;
    while (std::getline(caseFile, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        for (std::string &f : field) std::getline(fields, f, '\t');
        cases.push_back({field[0], field[1], field[5], Wide(field[2]), Wide(field[3])});
        std::istringstream targets(field[4] == "-" ? "" : field[4]);
        for (std::wstring &target : cases.back().targets)
            if (targets >> line) target = Wide(line);
    }
    for (const Case &c : cases) {
        const Case *t = &c;
        if (argc < 5 || t->locale != std::string(argv[4]) + "=" + std::to_string(GetACP())) continue;
        if (nRun++ < g_nFrom) continue;
        // The tag has one length, 13 characters, so that a name's length in bytes is the table's.
        wchar_t szTag[32], szName[MAX_PATH], szCmd[1024];
        swprintf(szTag, 32, L"_%05lu_%02d.exe", GetCurrentProcessId() % 100000, (int)(t - &cases[0]));
        swprintf(szName, MAX_PATH, L"%ls%ls", t->name.c_str(), szTag);
        swprintf(szCmd, 1024, t->cmd.c_str(), szTool, szName);
        for (wchar_t *p = szCmd; *p; p++) *p = *p >= L'a' && *p <= L'z' ? *p - 32 : *p;
        PROCESS_INFORMATION targets[2] = {}, tool = {};
        int n = !t->targets[1].empty() ? 2 : !t->targets[0].empty() ? 1 : 0;
        std::wstring files[2];
        for (int i = 0; i < n; i++) {
            files[i] = t->targets[i] + szTag;
            CopyFileW(szSelf, files[i].c_str(), FALSE);
            targets[i] = Start(files[i].c_str(), files[i]);
        }
        // Until the list shows every target, each as " 32" (NORMAL).
        for (DWORD i = 0; i < 500 * g_dwWaitScale && Classes(targets, n).size() != 3u * (size_t)n; i++)
            Sleep(10);
        WIN32_FILE_ATTRIBUTE_DATA log = {};
        GetFileAttributesExA(argv[2], GetFileExInfoStandard, &log);
        long lSince = (long)log.nFileSizeLow;
        std::string want = t->seen + " exit 0";
        std::string seen = Watch(tool = Start(szTool, szCmd), targets, n, argv[2], lSince);
        for (const PROCESS_INFORMATION &pi : {tool, targets[0], targets[1]}) {
            TerminateProcess(pi.hProcess, 0);
            WaitForSingleObject(pi.hProcess, 5000);
            CloseHandle(pi.hProcess);
        }
        for (int i = 0; i < n; i++) DeleteFileW(files[i].c_str());
        printf("%s %s=%u: %s\n", seen == want ? "ok  " : "FAIL", argv[4], GetACP(), t->rule.c_str());
        if (seen == want) continue;
        printf("  want: %s\n  seen: %s\n", want.c_str(), seen.c_str());
        nFailed++;
    }
    // A locale that did not take gives another code page, for which it has no case.
    if (nRun == 0)
        printf("FAIL %s=%u: no case for this locale in this code page\n", argc > 4 ? argv[4] : "", GetACP());
    return nFailed != 0 || nRun == 0;
}
