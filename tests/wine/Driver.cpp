// Drives the tool from inside Wine and reports what a user would have seen,
// as one JSON object on stdout.
//
//   tolvdrv run --tool PATH --cmdline-hex HEX [--target PATH]... [--timeout-ms N]
//               [--echo-file PATH]
//       Starts each target, then the tool with exactly the given command line.
//       Every message box the tool shows is read (caption, text, icon,
//       buttons), the targets' priority classes are read while it is up, and
//       it is dismissed with OK. Reports the exit code and the classes before
//       and after the run.
//   tolvdrv setclass --target PATH --class N
//       Starts the target and calls SetPriorityClass on it directly, so the
//       tests can compare the tool's error code with the system's own.
//
// The command line travels as hex: the Wine loader rebuilds the command line
// of whatever it starts, and the start-up cases need blanks, tabs and
// unbalanced quotes to reach the tool byte for byte.
//
// With TOLVDRV_ECHO_FILE set in its environment, the program only writes its
// own command line to that file. "run --tool <this program> --echo-file F"
// thus shows whether a command line reaches a child unchanged.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace
{

const char kEchoVariable[] = "TOLVDRV_ECHO_FILE";
const DWORD kStartTimeoutMs = 10000;
const DWORD kIconPaintTimeoutMs = 3000;
// Share of the icon's pixels that must equal a reference rendering.
const double kIconMatch = 0.95;

std::string JsonString(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonNumber(unsigned long long n)
{
    return std::to_string(n);
}

std::string JsonList(const std::vector<std::string> &items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); i++)
        out += (i ? "," : "") + items[i];
    return out + "]";
}

int Fail(const std::string &why)
{
    DWORD dwError = GetLastError();
    printf("{\"driver_error\":%s,\"last_error\":%lu}\n", JsonString(why).c_str(), dwError);
    return 2;
}

bool DecodeHex(const std::string &hex, std::string *out)
{
    if (hex.size() % 2)
        return false;
    out->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char *end = nullptr;
        std::string pair = hex.substr(i, 2);
        unsigned long byte = strtoul(pair.c_str(), &end, 16);
        if (*end != '\0')
            return false;
        *out += static_cast<char>(byte);
    }
    return true;
}

// 0 when the class cannot be read; no real class is 0.
DWORD PriorityOf(DWORD dwPid)
{
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, dwPid);
    if (hProcess == NULL)
        return 0;
    DWORD dwClass = GetPriorityClass(hProcess);
    CloseHandle(hProcess);
    return dwClass;
}

struct SnapshotEntry {
    DWORD dwPid;
    std::string exe;
};

std::vector<SnapshotEntry> Snapshot()
{
    std::vector<SnapshotEntry> entries;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE)
        return entries;
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32First(hSnap, &pe); ok; ok = Process32Next(hSnap, &pe))
        entries.push_back({pe.th32ProcessID, pe.szExeFile});
    CloseHandle(hSnap);
    return entries;
}

std::string ExeNameOf(DWORD dwPid)
{
    for (const SnapshotEntry &e : Snapshot())
        if (e.dwPid == dwPid)
            return e.exe;
    return "";
}

// Everything started goes into a job that kills its members when the driver
// dies, so an aborted run leaves no target behind.
HANDLE CreateKillJob()
{
    HANDLE hJob = CreateJobObjectA(NULL, NULL);
    if (hJob == NULL)
        return NULL;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(hJob, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return hJob;
}

bool Start(HANDLE hJob, const std::string &app, const std::string &cmdLine, PROCESS_INFORMATION *pi)
{
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::vector<char> buf(cmdLine.begin(), cmdLine.end());
    buf.push_back('\0');
    if (!CreateProcessA(app.c_str(), buf.data(), NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, pi))
        return false;
    if (hJob != NULL)
        AssignProcessToJobObject(hJob, pi->hProcess);
    ResumeThread(pi->hThread);
    CloseHandle(pi->hThread);
    pi->hThread = NULL;
    return true;
}

void Kill(PROCESS_INFORMATION *pi)
{
    if (pi->hProcess == NULL)
        return;
    TerminateProcess(pi->hProcess, 1);
    WaitForSingleObject(pi->hProcess, 5000);
    CloseHandle(pi->hProcess);
    pi->hProcess = NULL;
}

// A target counts as started once the process list shows it under its name.
bool WaitUntilListed(DWORD dwPid)
{
    DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < kStartTimeoutMs) {
        if (!ExeNameOf(dwPid).empty())
            return true;
        Sleep(10);
    }
    return false;
}

struct Target {
    std::string path;
    PROCESS_INFORMATION pi = {};
    DWORD dwBefore = 0;
};

// --- Reading a message box from outside ---

std::string ClassOf(HWND hwnd)
{
    char buf[256] = "";
    GetClassNameA(hwnd, buf, sizeof buf);
    return buf;
}

std::string TextOf(HWND hwnd)
{
    // WM_GETTEXT, so the text comes from the control itself, across processes.
    std::vector<char> buf(8192, '\0');
    SendMessageA(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    return buf.data();
}

struct ChildScan {
    std::vector<HWND> children;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam)
{
    reinterpret_cast<ChildScan *>(lParam)->children.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> VisibleChildren(HWND hwnd)
{
    ChildScan scan;
    EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&scan));
    std::vector<HWND> visible;
    for (HWND h : scan.children)
        if (IsWindowVisible(h))
            visible.push_back(h);
    return visible;
}

// 32-bit pixels of a screen rectangle, or of an icon drawn by this process on
// the same background; alpha is masked off.
std::vector<DWORD> Pixels(const RECT &rc, HICON hIcon, COLORREF crBackground)
{
    int cx = rc.right - rc.left;
    int cy = rc.bottom - rc.top;
    std::vector<DWORD> out;
    if (cx <= 0 || cy <= 0)
        return out;
    HDC hdcScreen = GetDC(NULL);
    HDC hdcMem = CreateCompatibleDC(hdcScreen);
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = cx;
    bi.bmiHeader.biHeight = -cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *pvBits = nullptr;
    HBITMAP hbm = CreateDIBSection(hdcMem, &bi, DIB_RGB_COLORS, &pvBits, NULL, 0);
    if (hbm != NULL) {
        HGDIOBJ hOld = SelectObject(hdcMem, hbm);
        if (hIcon == NULL) {
            BitBlt(hdcMem, 0, 0, cx, cy, hdcScreen, rc.left, rc.top, SRCCOPY);
        } else {
            HBRUSH hbr = CreateSolidBrush(crBackground);
            RECT rcAll = {0, 0, cx, cy};
            FillRect(hdcMem, &rcAll, hbr);
            DeleteObject(hbr);
            DrawIconEx(hdcMem, 0, 0, hIcon, cx, cy, 0, NULL, DI_NORMAL);
        }
        GdiFlush();
        const DWORD *pBits = static_cast<const DWORD *>(pvBits);
        for (size_t i = 0; i < static_cast<size_t>(cx) * static_cast<size_t>(cy); i++)
            out.push_back(pBits[i] & 0x00FFFFFFu);
        SelectObject(hdcMem, hOld);
        DeleteObject(hbm);
    }
    DeleteDC(hdcMem);
    ReleaseDC(NULL, hdcScreen);
    return out;
}

double Similarity(const std::vector<DWORD> &a, const std::vector<DWORD> &b)
{
    if (a.empty() || a.size() != b.size())
        return 0.0;
    size_t same = 0;
    for (size_t i = 0; i < a.size(); i++)
        same += a[i] == b[i];
    return static_cast<double>(same) / static_cast<double>(a.size());
}

struct IconReading {
    std::string kind = "none"; // "information", "error", "unknown" or "none"
    double information = 0.0;
    double error = 0.0;
};

// The icon handle in the box belongs to the tool's process and cannot be
// examined from here (Wine refuses foreign icon handles), so the icon is told
// by its pixels on screen: compared with the system's information and error
// icons as this process draws them on the same background. The box may not
// have painted yet, so this retries for a while.
IconReading ReadIcon(HWND hwndBox)
{
    IconReading reading;
    HWND hwndIcon = NULL;
    for (HWND h : VisibleChildren(hwndBox)) {
        if (ClassOf(h) == "Static" && (GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            SendMessageA(h, STM_GETICON, 0, 0) != 0)
            hwndIcon = h;
    }
    if (hwndIcon == NULL)
        return reading;

    RECT rc;
    GetWindowRect(hwndIcon, &rc);
    HDC hdcScreen = GetDC(NULL);
    DWORD dwStart = GetTickCount();
    reading.kind = "unknown";
    while (GetTickCount() - dwStart < kIconPaintTimeoutMs) {
        // The box's background just left of the icon.
        COLORREF crBackground = GetPixel(hdcScreen, rc.left - 1, rc.top);
        std::vector<DWORD> shown = Pixels(rc, NULL, 0);
        reading.information = Similarity(shown, Pixels(rc, LoadIcon(NULL, IDI_INFORMATION), crBackground));
        reading.error = Similarity(shown, Pixels(rc, LoadIcon(NULL, IDI_ERROR), crBackground));
        if (reading.information >= kIconMatch && reading.error < kIconMatch) {
            reading.kind = "information";
            break;
        }
        if (reading.error >= kIconMatch && reading.information < kIconMatch) {
            reading.kind = "error";
            break;
        }
        Sleep(20);
    }
    ReleaseDC(NULL, hdcScreen);
    return reading;
}

std::string ClassesJson(const std::vector<Target> &targets)
{
    std::vector<std::string> classes;
    for (const Target &t : targets)
        classes.push_back(JsonNumber(PriorityOf(t.pi.dwProcessId)));
    return JsonList(classes);
}

// Reads one box while it is up, then presses OK and waits for it to go.
std::string HandleBox(HWND hwndBox, const std::vector<Target> &targets)
{
    // First, so the classes are those of the moment the box is up.
    std::string classes = ClassesJson(targets);
    std::string className = ClassOf(hwndBox);

    char caption[1024] = "";
    GetWindowTextA(hwndBox, caption, sizeof caption);
    std::vector<std::string> buttons;
    for (HWND h : VisibleChildren(hwndBox))
        if (ClassOf(h) == "Button")
            buttons.push_back(JsonString(TextOf(h)));
    // The message is the static control 0xFFFF of the standard box template.
    HWND hwndText = GetDlgItem(hwndBox, 0xFFFF);
    std::string text = hwndText != NULL ? TextOf(hwndText) : "";
    IconReading icon = ReadIcon(hwndBox);

    PostMessageA(hwndBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwndBox, IDOK)));
    DWORD dwStart = GetTickCount();
    bool dismissed = false;
    while (!dismissed && GetTickCount() - dwStart < 5000) {
        dismissed = !IsWindowVisible(hwndBox);
        Sleep(2);
    }

    char scores[96];
    snprintf(scores, sizeof scores, "{\"information\":%.3f,\"error\":%.3f}", icon.information, icon.error);
    return std::string("{\"class\":") + JsonString(className) + ",\"caption\":" + JsonString(caption) +
           ",\"text\":" + JsonString(text) + ",\"icon\":" + JsonString(icon.kind) +
           ",\"icon_match\":" + scores + ",\"buttons\":" + JsonList(buttons) +
           ",\"dismissed\":" + (dismissed ? "true" : "false") + ",\"target_classes\":" + classes + "}";
}

struct TopLevelScan {
    DWORD dwPid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lParam)
{
    TopLevelScan *scan = reinterpret_cast<TopLevelScan *>(lParam);
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hwnd, &dwPid);
    if (dwPid == scan->dwPid && IsWindowVisible(hwnd))
        scan->windows.push_back(hwnd);
    return TRUE;
}

struct Options {
    std::string tool;
    std::string cmdLine;
    std::vector<std::string> targets;
    std::string echoFile;
    DWORD dwTimeoutMs = 20000;
    DWORD dwClass = 0;
};

bool ParseOptions(int argc, char **argv, Options *opt)
{
    for (int i = 2; i < argc; i++) {
        std::string name = argv[i];
        if (i + 1 >= argc)
            return false;
        std::string value = argv[++i];
        if (name == "--tool")
            opt->tool = value;
        else if (name == "--cmdline-hex") {
            if (!DecodeHex(value, &opt->cmdLine))
                return false;
        } else if (name == "--echo-file")
            opt->echoFile = value;
        else if (name == "--target")
            opt->targets.push_back(value);
        else if (name == "--timeout-ms")
            opt->dwTimeoutMs = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 0));
        else if (name == "--class")
            opt->dwClass = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 0));
        else
            return false;
    }
    return true;
}

bool StartTargets(HANDLE hJob, const Options &opt, std::vector<Target> *targets)
{
    for (const std::string &path : opt.targets) {
        Target t;
        t.path = path;
        if (!Start(hJob, path, "\"" + path + "\"", &t.pi))
            return false;
        targets->push_back(t);
        if (!WaitUntilListed(t.pi.dwProcessId))
            return false;
        targets->back().dwBefore = PriorityOf(t.pi.dwProcessId);
    }
    return true;
}

void KillTargets(std::vector<Target> *targets)
{
    for (Target &t : *targets)
        Kill(&t.pi);
}

int Run(const Options &opt)
{
    if (opt.tool.empty())
        return Fail("run needs --tool");
    HANDLE hJob = CreateKillJob();
    std::vector<Target> targets;
    if (!StartTargets(hJob, opt, &targets)) {
        KillTargets(&targets);
        return Fail("cannot start a target");
    }

    // The order in which the system lists the targets, for the duplicate case.
    std::vector<std::string> order;
    for (const SnapshotEntry &e : Snapshot())
        for (const Target &t : targets)
            if (t.pi.dwProcessId == e.dwPid)
                order.push_back(JsonNumber(e.dwPid));

    if (!opt.echoFile.empty())
        SetEnvironmentVariableA(kEchoVariable, opt.echoFile.c_str());
    PROCESS_INFORMATION tool;
    if (!Start(hJob, opt.tool, opt.cmdLine, &tool)) {
        KillTargets(&targets);
        return Fail("cannot start the tool");
    }

    std::vector<std::string> boxes;
    std::vector<std::string> others;
    std::set<HWND> seen;
    bool timedOut = false;
    DWORD dwStart = GetTickCount();
    for (;;) {
        bool exited = WaitForSingleObject(tool.hProcess, 5) == WAIT_OBJECT_0;
        TopLevelScan scan;
        scan.dwPid = tool.dwProcessId;
        EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&scan));
        for (HWND hwnd : scan.windows) {
            if (!seen.insert(hwnd).second)
                continue;
            if (ClassOf(hwnd) == "#32770") {
                boxes.push_back(HandleBox(hwnd, targets));
            } else {
                char caption[256] = "";
                GetWindowTextA(hwnd, caption, sizeof caption);
                others.push_back("{\"class\":" + JsonString(ClassOf(hwnd)) +
                                 ",\"caption\":" + JsonString(caption) + "}");
            }
        }
        if (exited)
            break;
        if (GetTickCount() - dwStart > opt.dwTimeoutMs) {
            timedOut = true;
            TerminateProcess(tool.hProcess, 259);
            WaitForSingleObject(tool.hProcess, 5000);
            break;
        }
    }
    DWORD dwExit = 0;
    GetExitCodeProcess(tool.hProcess, &dwExit);
    CloseHandle(tool.hProcess);

    std::vector<std::string> targetJson;
    for (const Target &t : targets) {
        targetJson.push_back("{\"path\":" + JsonString(t.path) + ",\"pid\":" + JsonNumber(t.pi.dwProcessId) +
                             ",\"exe\":" + JsonString(ExeNameOf(t.pi.dwProcessId)) +
                             ",\"before\":" + JsonNumber(t.dwBefore) +
                             ",\"after\":" + JsonNumber(PriorityOf(t.pi.dwProcessId)) + "}");
    }
    KillTargets(&targets);
    if (hJob != NULL)
        CloseHandle(hJob);

    printf("{\"exit_code\":%lu,\"timed_out\":%s,\"boxes\":%s,\"windows\":%s,\"targets\":%s,"
           "\"snapshot_order\":%s}\n",
           dwExit, timedOut ? "true" : "false", JsonList(boxes).c_str(), JsonList(others).c_str(),
           JsonList(targetJson).c_str(), JsonList(order).c_str());
    return 0;
}

int SetClass(const Options &opt)
{
    if (opt.targets.size() != 1)
        return Fail("setclass needs one --target");
    HANDLE hJob = CreateKillJob();
    std::vector<Target> targets;
    if (!StartTargets(hJob, opt, &targets)) {
        KillTargets(&targets);
        return Fail("cannot start the target");
    }
    DWORD dwPid = targets[0].pi.dwProcessId;
    // The same access the tool asks for.
    HANDLE hProcess = OpenProcess(PROCESS_SET_INFORMATION, FALSE, dwPid);
    BOOL bResult = FALSE;
    DWORD dwError = GetLastError();
    if (hProcess != NULL) {
        SetLastError(0);
        bResult = SetPriorityClass(hProcess, opt.dwClass);
        dwError = GetLastError();
        CloseHandle(hProcess);
    }
    DWORD dwAfter = PriorityOf(dwPid);
    KillTargets(&targets);
    if (hJob != NULL)
        CloseHandle(hJob);
    printf("{\"opened\":%s,\"result\":%d,\"error\":%lu,\"before\":%lu,\"after\":%lu}\n",
           hProcess != NULL ? "true" : "false", bResult, dwError, targets[0].dwBefore, dwAfter);
    return 0;
}

int Echo(const char *path)
{
    FILE *f = fopen(path, "wb");
    if (f == NULL)
        return 1;
    const char *cmdLine = GetCommandLineA();
    fwrite(cmdLine, 1, strlen(cmdLine), f);
    fclose(f);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    char echoPath[MAX_PATH];
    if (GetEnvironmentVariableA(kEchoVariable, echoPath, sizeof echoPath) > 0)
        return Echo(echoPath);

    Options opt;
    if (argc < 2 || !ParseOptions(argc, argv, &opt))
        return Fail("usage: tolvdrv run|setclass [options]");
    std::string mode = argv[1];
    if (mode == "run")
        return Run(opt);
    if (mode == "setclass")
        return SetClass(opt);
    return Fail("unknown mode " + mode);
}
