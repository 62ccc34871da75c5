#include "UnitTest.h"

#include "priority/Priority.h"

namespace
{

TEST(CopyLower, FoldsOnlyAsciiCapitals)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"NOTEPAD.EXE", "notepad.exe"},
        {"MiXeD-09_@[`{~.Exe", "mixed-09_@[`{~.exe"},
        {"AZaz", "azaz"},
        // Bytes from 0x80 up are no letters: copied unchanged.
        {"\xc0\xc9\xd6\xde\xff\x80 A", "\xc0\xc9\xd6\xde\xff\x80 a"},
        {"\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.EXE", "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.exe"},
    };
    for (const auto &c : cases) {
        char dst[MAX_PATH];
        std::memset(dst, '#', sizeof(dst));
        CopyLower(dst, c.first.c_str());
        EXPECT_EQ(std::string(dst), c.second) << "source [" << c.first << "]";
        // The terminator is copied and nothing after it is written.
        EXPECT_EQ(dst[c.first.size() + 1], '#');
    }
}

class SetPriorityByExeNameTest : public ToolTest
{
  protected:
    BOOL Run(const char *module, DWORD cls)
    {
        error = 0xDEADBEEF;
        return SetPriorityByExeName(module, cls, &error);
    }
    DWORD error = 0;
};

TEST_F(SetPriorityByExeNameTest, ChangesTheFirstMatchOnly)
{
    AddProcess(4, "System");
    AddProcess(100, "notepad.exe");
    AddProcess(200, "NotePad.EXE");
    AddProcess(300, "notepad.exe");

    EXPECT_TRUE(Run("NOTEPAD.exe", IDLE_PRIORITY_CLASS));
    EXPECT_NE(RunState.hProcess, nullptr);
    EXPECT_EQ(ProcessById(100).priorityClass, (DWORD)IDLE_PRIORITY_CLASS);
    EXPECT_EQ(ProcessById(200).priorityClass, (DWORD)NORMAL_PRIORITY_CLASS);
    EXPECT_EQ(ProcessById(300).priorityClass, (DWORD)NORMAL_PRIORITY_CLASS);
    EXPECT_EQ(fake::FindCall("open 200"), -1);
    EXPECT_EQ(fake::FindCall("open 300"), -1);
    // The walk stops at the match.
    EXPECT_EQ(fake::FindCall("next"), 2);
    EXPECT_EQ(fake::Get().calls.size(), 7u) << "snapshot first next open close set close";
}

TEST_F(SetPriorityByExeNameTest, PassesWhatTheSystemExpects)
{
    AddProcess(100, "a.exe");
    AddProcess(7, "b.exe");
    EXPECT_TRUE(Run("b.exe", 0x4000));
    const fake::World &w = fake::Get();
    EXPECT_EQ(w.snapshotFlags, 0x40000002u);
    EXPECT_EQ(w.snapshotPid, 0u);
    EXPECT_EQ(w.firstEntrySize, (DWORD)sizeof(PROCESSENTRY32));
    EXPECT_EQ(w.openAccess, (DWORD)PROCESS_SET_INFORMATION);
    EXPECT_EQ(w.openInherit, FALSE);
    EXPECT_NE(fake::FindCall("set 7 16384"), -1);
    // The snapshot is closed before the process is changed.
    EXPECT_LT(fake::FindCall("close"), fake::FindCall("set"));
}

TEST_F(SetPriorityByExeNameTest, FirstMatchThatDoesNotOpenEndsTheWalk)
{
    AddProcess(100, "target.exe");
    AddProcess(200, "target.exe");
    fake::Get().processes[0].opens = false;

    EXPECT_FALSE(Run("target.exe", HIGH_PRIORITY_CLASS));
    EXPECT_EQ(RunState.hProcess, nullptr);
    EXPECT_EQ(error, (DWORD)ERROR_INVALID_DATA);
    EXPECT_NE(fake::FindCall("open 100"), -1);
    EXPECT_EQ(fake::FindCall("open 200"), -1);
    EXPECT_EQ(fake::FindCall("set"), -1);
    EXPECT_EQ(ProcessById(200).priorityClass, (DWORD)NORMAL_PRIORITY_CLASS);
}

TEST_F(SetPriorityByExeNameTest, NothingOpenedGivesInvalidData)
{
    struct {
        const char *what;
        bool snapshotFails;
        bool withProcesses;
        const char *module;
    } cases[] = {
        {"no snapshot", true, true, "a.exe"},          {"empty snapshot", false, false, "a.exe"},
        {"no name matches", false, true, "c.exe"},     {"prefix is no match", false, true, "a"},
        {"longer is no match", false, true, "a.exe2"}, {"empty name", false, true, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        if (c.withProcesses) {
            AddProcess(1, "a.exe");
            AddProcess(2, "b.exe");
        }
        fake::Get().snapshotFails = c.snapshotFails;
        RunState.hProcess = reinterpret_cast<HANDLE>(0x1234);
        EXPECT_FALSE(Run(c.module, IDLE_PRIORITY_CLASS));
        EXPECT_EQ(RunState.hProcess, nullptr);
        EXPECT_EQ(error, (DWORD)ERROR_INVALID_DATA);
        EXPECT_EQ(fake::FindCall("open"), -1);
        EXPECT_EQ(fake::Get().liveHandles, 0);
        EXPECT_EQ(fake::Get().badCloses, 0) << "an invalid snapshot must not be closed";
    }
}

TEST_F(SetPriorityByExeNameTest, RefusalKeepsTheMarkAndTheSystemCode)
{
    AddProcess(100, "svc.exe");
    fake::Get().processes[0].refuseError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(Run("svc.exe", REALTIME_PRIORITY_CLASS));
    EXPECT_NE(RunState.hProcess, nullptr);
    EXPECT_EQ(error, (DWORD)ERROR_ACCESS_DENIED);

    // A class the system does not know is passed on unchanged, and refused by it.
    fake::Reset();
    AddProcess(100, "svc.exe");
    EXPECT_FALSE(Run("svc.exe", 12345));
    EXPECT_NE(fake::FindCall("set 100 12345"), -1);
    EXPECT_NE(RunState.hProcess, nullptr);
    EXPECT_EQ(error, (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(SetPriorityByExeNameTest, ErrorVariableIsOptional)
{
    AddProcess(100, "svc.exe");
    fake::Get().processes[0].refuseError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(SetPriorityByExeName("svc.exe", IDLE_PRIORITY_CLASS, nullptr));
    EXPECT_FALSE(SetPriorityByExeName("none.exe", IDLE_PRIORITY_CLASS, nullptr));
    EXPECT_EQ(RunState.hProcess, nullptr);
}

TEST_F(SetPriorityByExeNameTest, OverlongNameMatchesNothing)
{
    // Even a process reporting the name cut to the list's limit is no match.
    std::string name(MAX_PATH + 40, 'x');
    AddProcess(100, name.substr(0, MAX_PATH - 1));
    EXPECT_FALSE(Run(name.c_str(), IDLE_PRIORITY_CLASS));
    EXPECT_EQ(RunState.hProcess, nullptr);
    EXPECT_EQ(error, (DWORD)ERROR_INVALID_DATA);
    EXPECT_EQ(fake::FindCall("open"), -1);
}

TEST_F(SetPriorityByExeNameTest, LongestNameMatches)
{
    std::string name(MAX_PATH - 1, 'Q');
    AddProcess(100, name);
    EXPECT_TRUE(Run(std::string(MAX_PATH - 1, 'q').c_str(), IDLE_PRIORITY_CLASS));
    EXPECT_EQ(ProcessById(100).priorityClass, (DWORD)IDLE_PRIORITY_CLASS);
}

} // namespace
