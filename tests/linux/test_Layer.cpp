// The Linux layer called directly, for what the tool never shows from outside:
// handles of processes that ended or whose number was reused, the access
// mask, malformed calls, and the format of the notices.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "App.h"
#include "LinuxPlatform.h"
#include "RunState.h"

namespace
{

// A child that sleeps until killed; killed and reaped at the end of the scope.
struct Child {
    pid_t pid = -1;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    explicit Child(bool exitAtOnce = false)
    {
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (exitAtOnce)
                _exit(0);
            for (;;)
                pause();
        }
    }
    void Kill()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    ~Child()
    {
        Kill();
    }
};

char State(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t paren = text.rfind(')');
    return paren == std::string::npos ? '?' : text[paren + 2];
}

int Nice(pid_t pid)
{
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, (id_t)pid);
    EXPECT_EQ(errno, 0);
    return nice;
}

// The call failed with that last error.
::testing::AssertionResult FailedWith(BOOL result, DWORD error)
{
    if (result)
        return ::testing::AssertionFailure() << "succeeded";
    if (GetLastError() != error)
        return ::testing::AssertionFailure() << "last error " << GetLastError() << ", not " << error;
    return ::testing::AssertionSuccess();
}

// Everything the notice writes to one stream, with the other one checked empty.
std::string Captured(LPCSTR text, UINT type, bool toStderr)
{
    fflush(stdout);
    fflush(stderr);
    int saved[2] = {dup(1), dup(2)};
    FILE *files[2] = {tmpfile(), tmpfile()};
    dup2(fileno(files[0]), 1);
    dup2(fileno(files[1]), 2);
    EXPECT_EQ(MessageBoxA(nullptr, text, "Caption", type), IDOK);
    dup2(saved[0], 1);
    dup2(saved[1], 2);
    std::string out[2];
    for (int i = 0; i < 2; i++) {
        close(saved[i]);
        rewind(files[i]);
        for (int c; (c = fgetc(files[i])) != EOF;)
            out[i] += (char)c;
        fclose(files[i]);
    }
    EXPECT_EQ(out[toStderr ? 0 : 1], "");
    return out[toStderr ? 1 : 0];
}

} // namespace

TEST(OpenProcess, RefusesProcessThatHasEnded)
{
    Child child(true);
    while (State(child.pid) != 'Z')
        usleep(1000);
    EXPECT_EQ(OpenProcess(PROCESS_SET_INFORMATION, FALSE, (DWORD)child.pid), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    pid_t pid = child.pid;
    child.Kill();
    EXPECT_EQ(OpenProcess(PROCESS_SET_INFORMATION, FALSE, (DWORD)pid), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(OpenProcess(PROCESS_SET_INFORMATION, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST(SetPriorityClass, HandleOutlivesItsProcess)
{
    Child first;
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, (DWORD)first.pid);
    ASSERT_NE(process, nullptr);
    pid_t number = first.pid;
    first.Kill();
    EXPECT_TRUE(FailedWith(SetPriorityClass(process, IDLE_PRIORITY_CLASS), ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(CloseHandle(process));
}

TEST(SetPriorityClass, HandleDoesNotReachANewProcessWithTheSameNumber)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can choose the next process number";
    Child first;
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, (DWORD)first.pid);
    ASSERT_NE(process, nullptr);
    pid_t number = first.pid;
    first.Kill();
    std::vector<std::unique_ptr<Child>> tries;
    Child *second = nullptr;
    for (int i = 0; i < 50 && second == nullptr; i++) {
        FILE *last = fopen("/proc/sys/kernel/ns_last_pid", "w");
        ASSERT_NE(last, nullptr);
        fprintf(last, "%d", number - 1);
        fclose(last);
        tries.push_back(std::make_unique<Child>());
        if (tries.back()->pid == number)
            second = tries.back().get();
    }
    if (second != nullptr) {
        EXPECT_TRUE(FailedWith(SetPriorityClass(process, IDLE_PRIORITY_CLASS), ERROR_INVALID_PARAMETER));
        EXPECT_EQ(Nice(second->pid), 0);
    }
    tries.clear();
    CloseHandle(process);
    if (second == nullptr)
        GTEST_SKIP() << "other processes kept taking number " << number;
}

TEST(SetPriorityClass, NeedsTheRightAndOneOfTheSixClasses)
{
    Child child;
    HANDLE query = OpenProcess(0x0400, FALSE, (DWORD)child.pid); // PROCESS_QUERY_INFORMATION
    ASSERT_NE(query, nullptr);
    EXPECT_TRUE(FailedWith(SetPriorityClass(query, IDLE_PRIORITY_CLASS), ERROR_ACCESS_DENIED));
    CloseHandle(query);

    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, (DWORD)child.pid);
    ASSERT_NE(process, nullptr);
    for (DWORD bad : {0u, 1u, 0x60u, 0x10000u, 0xFFFFFFFFu})
        EXPECT_TRUE(FailedWith(SetPriorityClass(process, bad), ERROR_INVALID_PARAMETER)) << bad;
    EXPECT_EQ(Nice(child.pid), 0);
    EXPECT_TRUE(SetPriorityClass(process, BELOW_NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(Nice(child.pid), 10);
    EXPECT_TRUE(CloseHandle(process));
}

TEST(Handles, WrongOrMissingHandlesAreRefused)
{
    EXPECT_TRUE(FailedWith(CloseHandle(nullptr), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FailedWith(CloseHandle(INVALID_HANDLE_VALUE), ERROR_INVALID_HANDLE));

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, (DWORD)getpid());
    ASSERT_NE(process, nullptr);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    EXPECT_TRUE(FailedWith(SetPriorityClass(snapshot, NORMAL_PRIORITY_CLASS), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FailedWith(Process32First(process, &entry), ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(snapshot));
    EXPECT_TRUE(CloseHandle(process));
}

TEST(Process32, WalkInAscendingOrderWithFullNames)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(0x40000002, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry) - 1;
    EXPECT_TRUE(FailedWith(Process32First(snapshot, &entry), ERROR_BAD_LENGTH));

    // A larger record is fine, and its size is left as it was.
    struct {
        PROCESSENTRY32 entry;
        char tail[16];
    } larger = {};
    larger.entry.dwSize = sizeof(larger);
    std::vector<DWORD> pids;
    bool sawSelf = false;
    for (BOOL more = Process32First(snapshot, &larger.entry); more;
         more = Process32Next(snapshot, &larger.entry)) {
        EXPECT_EQ(larger.entry.dwSize, sizeof(larger));
        pids.push_back(larger.entry.th32ProcessID);
        if (larger.entry.th32ProcessID == (DWORD)getpid()) {
            sawSelf = true;
            // Longer than the kernel's 15 characters.
            EXPECT_STREQ(larger.entry.szExeFile, "tolv_linux_layer");
        }
    }
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    EXPECT_TRUE(sawSelf);
    ASSERT_GT(pids.size(), 1u);
    for (size_t i = 1; i < pids.size(); i++)
        EXPECT_LT(pids[i - 1], pids[i]);

    // First starts the walk again.
    ASSERT_TRUE(Process32First(snapshot, &larger.entry));
    EXPECT_EQ(larger.entry.th32ProcessID, pids[0]);
    EXPECT_TRUE(CloseHandle(snapshot));

    // A snapshot of anything but processes lists none.
    snapshot = CreateToolhelp32Snapshot(0x8, 0); // TH32CS_SNAPMODULE
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FailedWith(Process32First(snapshot, &larger.entry), ERROR_NO_MORE_FILES));
    EXPECT_TRUE(CloseHandle(snapshot));
}

TEST(MessageBoxA, CaptionThenTextEndingInOneLineBreak)
{
    EXPECT_EQ(Captured("one\ntwo", MB_OK | MB_ICONINFORMATION, false), "Caption\none\ntwo\n");
    EXPECT_EQ(Captured("one\n", MB_OK | MB_ICONINFORMATION, false), "Caption\none\n");
    EXPECT_EQ(Captured("", MB_OK, false), "Caption\n\n");
    EXPECT_EQ(Captured("bad\n\n", MB_OK | MB_ICONERROR, true), "Caption\nbad\n\n");
}

// What main receives must reach the tool as the same two tokens: the line
// built from argv, cut after the program's name and parsed.
TEST(BuildCommandLine, ArgumentsArriveAsTheyWereGiven)
{
    struct Case {
        std::vector<std::string> argv;
        const char *line;
        const char *module;
        DWORD cls;
    } cases[] = {
        {{"tolv", "notepad.exe", "IDLE"}, "tolv notepad.exe IDLE", "notepad.exe", IDLE_PRIORITY_CLASS},
        {{"/opt/my tools/tolv", "My App.exe", "HIGH"},
         "\"/opt/my tools/tolv\" \"My App.exe\" HIGH",
         "My App.exe",
         HIGH_PRIORITY_CLASS},
        {{"tolv", "tab\tname", "0x20"}, "tolv \"tab\tname\" 0x20", "tab", 0},
        // Windows quoting typed by the user is passed on, not quoted again.
        {{"tolv", "\"My App.exe\"", "IDLE"}, "tolv \"My App.exe\" IDLE", "My App.exe", IDLE_PRIORITY_CLASS},
        {{"", "a.exe", "IDLE"}, "\"\" a.exe IDLE", "a.exe", IDLE_PRIORITY_CLASS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<char *> argv;
        for (const std::string &arg : c.argv)
            argv.push_back(const_cast<char *>(arg.c_str()));
        LPSTR line = BuildCommandLine((int)argv.size(), argv.data());
        ASSERT_NE(line, nullptr);
        EXPECT_STREQ(line, c.line);

        char moduleName[MODULE_NAME_SIZE] = "";
        memset(&RunState, 0, sizeof(RunState));
        RunState.lpModuleName = moduleName;
        ParseCommandTail(SkipProgramName(line));
        EXPECT_STREQ(moduleName, c.module);
        EXPECT_EQ(RunState.dwPriorityClass, c.cls);
        memset(&RunState, 0, sizeof(RunState));
        free(line);
    }
}
