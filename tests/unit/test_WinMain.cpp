#include "UnitTest.h"

namespace
{

const char kUsageText[] = "Tolvenar Reference\n"
                          "\n"
                          "Arguments:\n"
                          " tolv \"Module File\" PRIORITY\n"
                          "\n"
                          " \"Module File\" parameters is .EXE file name\n"
                          "\n"
                          "command line samples:\n"
                          "(for InternetExplorer)\n"
                          " \"iexplore.exe\" BELOW_NORMAL\n"
                          "\n"
                          "(for WMP)\n"
                          " \"wmplayer.exe\" IDLE\n"
                          "\n"
                          "Priority Parameters:\n"
                          " REALTIME=256\n"
                          " HIGHEST=128\n"
                          " HIGH=128\n"
                          " ABOVE_NORMAL=32768\n"
                          " NORMAL=32\n"
                          " BELOW_NORMAL=16384\n"
                          " IDLE=64\n";

class WinMainTest : public ToolTest
{
  protected:
    int Run(const char *tail)
    {
        std::string copy = tail ? tail : "";
        return WinMain(nullptr, nullptr, tail ? &copy[0] : nullptr, SW_SHOWDEFAULT);
    }
    static const std::vector<fake::Notice> &Notices()
    {
        return fake::Get().notices;
    }
};

::testing::AssertionResult IsUsage(const fake::Notice &n)
{
    if (n.text != kUsageText)
        return ::testing::AssertionFailure() << "text is [" << n.text << "]";
    if (n.caption != "Tolvenar" || n.type != (MB_OK | MB_ICONINFORMATION) || n.owner != nullptr)
        return ::testing::AssertionFailure() << "caption [" << n.caption << "] type " << n.type;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsFailure(const fake::Notice &n, int code)
{
    std::string expected = "SetPriorityClass function error\n\nGetLastError()=" + std::to_string(code) + "\n";
    if (n.text != expected)
        return ::testing::AssertionFailure() << "text is [" << n.text << "]";
    if (n.caption != "Tolvenar" || n.type != (MB_OK | MB_ICONERROR) || n.owner != nullptr)
        return ::testing::AssertionFailure() << "caption [" << n.caption << "] type " << n.type;
    return ::testing::AssertionSuccess();
}

TEST(UsageText, IsTheDocumentedLength)
{
    EXPECT_EQ(sizeof(kUsageText) - 1, 331u);
}

TEST_F(WinMainTest, MissingOrIncompleteCommandShowsUsageAndTouchesNothing)
{
    for (const char *tail : {(const char *)nullptr, "", "notepad.exe", "\"\"", "\"notepad.exe IDLE"}) {
        SCOPED_TRACE(tail ? tail : "(null)");
        fake::Reset();
        AddProcess(100, "notepad.exe");
        EXPECT_EQ(Run(tail), 0);
        ASSERT_EQ(Notices().size(), 1u);
        EXPECT_TRUE(IsUsage(Notices()[0]));
        EXPECT_EQ(fake::FindCall("snapshot"), -1) << "the process list must not be read";
    }
}

TEST_F(WinMainTest, SuccessIsSilent)
{
    AddProcess(100, "notepad.exe");
    EXPECT_EQ(Run("notepad.exe IDLE"), 0);
    EXPECT_TRUE(Notices().empty());
    EXPECT_EQ(ProcessById(100).priorityClass, (DWORD)IDLE_PRIORITY_CLASS);
    EXPECT_EQ(RunState.lpModuleName, nullptr) << "the module-name buffer is released";
}

TEST_F(WinMainTest, NumberAndQuotedName)
{
    AddProcess(100, "My App.exe");
    EXPECT_EQ(Run("\"my app.EXE\" 0x8000"), 0);
    EXPECT_TRUE(Notices().empty());
    EXPECT_EQ(ProcessById(100).priorityClass, (DWORD)ABOVE_NORMAL_PRIORITY_CLASS);
}

TEST_F(WinMainTest, NoClassMeansNoLookup)
{
    AddProcess(100, "notepad.exe");
    for (const char *tail : {"notepad.exe high", "notepad.exe 0", "notepad.exe Idle"}) {
        SCOPED_TRACE(tail);
        EXPECT_EQ(Run(tail), 0);
        EXPECT_TRUE(Notices().empty());
        EXPECT_EQ(fake::FindCall("snapshot"), -1);
    }
}

TEST_F(WinMainTest, NoMatchIsSilent)
{
    AddProcess(100, "notepad.exe");
    fake::Get().processes[0].opens = false;
    EXPECT_EQ(Run("notepad.exe IDLE"), 0);
    EXPECT_EQ(Run("other.exe IDLE"), 0);
    fake::Get().snapshotFails = true;
    EXPECT_EQ(Run("notepad.exe IDLE"), 0);
    EXPECT_TRUE(Notices().empty());
}

TEST_F(WinMainTest, RefusalShowsTheSystemCode)
{
    AddProcess(100, "notepad.exe");
    fake::Get().processes[0].refuseError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Run("notepad.exe REALTIME"), 0);
    ASSERT_EQ(Notices().size(), 1u);
    EXPECT_TRUE(IsFailure(Notices()[0], 5));
}

TEST_F(WinMainTest, CodeIsShownSigned)
{
    AddProcess(100, "notepad.exe");
    fake::Get().processes[0].refuseError = 0xC0000005;
    EXPECT_EQ(Run("notepad.exe IDLE"), 0);
    ASSERT_EQ(Notices().size(), 1u);
    EXPECT_TRUE(IsFailure(Notices()[0], -1073741819));
}

TEST_F(WinMainTest, ThreeTokensShowUsageThenChange)
{
    AddProcess(100, "notepad.exe");
    EXPECT_EQ(Run("notepad.exe HIGH extra"), 0);
    ASSERT_EQ(Notices().size(), 1u);
    EXPECT_TRUE(IsUsage(Notices()[0]));
    EXPECT_EQ(ProcessById(100).priorityClass, (DWORD)HIGH_PRIORITY_CLASS);
    // The process list is read only once the notice has been dismissed.
    EXPECT_LT(fake::FindCall("notice"), fake::FindCall("snapshot"));
}

TEST_F(WinMainTest, BothNoticesInOneRun)
{
    AddProcess(100, "notepad.exe");
    fake::Get().processes[0].refuseError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Run("notepad.exe HIGH extra"), 0);
    ASSERT_EQ(Notices().size(), 2u);
    EXPECT_TRUE(IsUsage(Notices()[0]));
    EXPECT_TRUE(IsFailure(Notices()[1], 5));
}

TEST_F(WinMainTest, OverlongNameChangesNothing)
{
    std::string name(300, 'a');
    AddProcess(100, name.substr(0, MAX_PATH - 1));
    EXPECT_EQ(Run((name + " IDLE").c_str()), 0);
    ASSERT_EQ(Notices().size(), 1u);
    EXPECT_TRUE(IsUsage(Notices()[0]));
    EXPECT_EQ(fake::FindCall("snapshot"), -1);
}

TEST_F(WinMainTest, StateIsClearedEachRun)
{
    AddProcess(100, "notepad.exe");
    RunState.dwPriorityClass = HIGH_PRIORITY_CLASS;
    RunState.hProcess = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(Run("notepad.exe"), 0);
    EXPECT_EQ(fake::FindCall("snapshot"), -1) << "a class left from before must not be applied";
    EXPECT_EQ(RunState.hProcess, nullptr);
}

} // namespace
