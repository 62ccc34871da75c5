#include "UnitTest.h"

#include "App.h"

namespace
{

const DWORD kUntouched = 0xDEADBEEF;

class ParseCommandTailTest : public ToolTest
{
  protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        // Exactly the size the run flow allocates, so ASan sees any overrun.
        RunState.lpModuleName = static_cast<LPSTR>(std::malloc(MODULE_NAME_SIZE));
        Fresh();
    }
    // The state the run flow hands over: a buffer of garbage and no class.
    void Fresh()
    {
        std::memset(RunState.lpModuleName, '#', MODULE_NAME_SIZE);
        RunState.lpModuleName[MODULE_NAME_SIZE - 1] = '\0';
        RunState.dwPriorityClass = 0;
    }
    void TearDown() override
    {
        std::free(RunState.lpModuleName);
        ToolTest::TearDown();
    }

    struct Result {
        BOOL ok;
        std::string module;
        DWORD cls;
    };
    static Result Parse(const std::string &tail)
    {
        std::string copy = tail;
        BOOL ok = ParseCommandTail(copy.c_str());
        EXPECT_EQ(copy, tail) << "the tail itself must stay unchanged";
        EXPECT_EQ(RunState.lpWorkCopy, nullptr) << "working copy left behind";
        return {ok, RunState.lpModuleName, RunState.dwPriorityClass};
    }
};

struct Case {
    const char *tail;
    const char *module;
    DWORD cls;
    bool ok;
};

TEST_F(ParseCommandTailTest, TokensNamesAndClasses)
{
    const Case cases[] = {
        {"notepad.exe IDLE", "notepad.exe", 0x40, true},
        {"\"My App.exe\" HIGH", "My App.exe", 0x80, true},
        {"notepad.exe\tIDLE", "notepad.exe", 0x40, true},
        {"notepad.exe \"IDLE\"", "notepad.exe", 0x40, true},
        {"notepad.exe \" IDLE\"", "notepad.exe", 0, true},
        {"   notepad.exe    IDLE   ", "notepad.exe", 0x40, true},
        {"\"NULL\" IDLE", "", 0x40, true},
        {"NULL IDLE", "", 0x40, true},
        {"null IDLE", "null", 0x40, true},
        {"notepad.exe Idle", "notepad.exe", 0, true},
        {"notepad.exe high", "notepad.exe", 0, true},
        {"notepad.exe IDLEX", "notepad.exe", 0, true},
        {"\"note\tpad.exe\" IDLE", "note", 0, false},
        {"a\"b c\"d IDLE", "a", 0, false},
        {"\"notepad.exe IDLE", "notepad.exe IDLE", 0, false},
        {"\"\" IDLE", "IDLE", 0, false},
        {"notepad.exe \"\"", "notepad.exe", 0, false},
        {"\" \"", " ", 0, false},
        {"notepad.exe", "notepad.exe", 0, false},
        {"notepad.exe HIGH extra", "notepad.exe", 0x80, false},
        {"notepad.exe 64 a b c", "notepad.exe", 64, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("tail [") + c.tail + "]");
        Fresh();
        Result r = Parse(c.tail);
        EXPECT_EQ(r.ok != FALSE, c.ok);
        EXPECT_EQ(r.module, c.module);
        EXPECT_EQ(r.cls, c.cls);
    }
}

TEST_F(ParseCommandTailTest, EveryKeyword)
{
    const std::pair<const char *, DWORD> keywords[] = {
        {"IDLE", 0x40}, {"BELOW_NORMAL", 0x4000}, {"NORMAL", 0x20},    {"ABOVE_NORMAL", 0x8000},
        {"HIGH", 0x80}, {"HIGHEST", 0x80},        {"REALTIME", 0x100},
    };
    for (const auto &k : keywords) {
        SCOPED_TRACE(k.first);
        RunState.dwPriorityClass = 0;
        EXPECT_TRUE(Parse(std::string("x.exe ") + k.first).ok);
        EXPECT_EQ(RunState.dwPriorityClass, k.second);
    }
}

TEST_F(ParseCommandTailTest, NoTokenWritesNothing)
{
    for (const char *tail : {"\"\"", "\"\"\"\"", "\t\t", "\"\t\""}) {
        SCOPED_TRACE(tail);
        RunState.dwPriorityClass = kUntouched;
        std::string before = RunState.lpModuleName;
        EXPECT_FALSE(Parse(tail).ok);
        EXPECT_EQ(std::string(RunState.lpModuleName), before);
        EXPECT_EQ(RunState.dwPriorityClass, kUntouched);
    }
}

TEST_F(ParseCommandTailTest, NumbersReadInThirtyTwoBits)
{
    const std::pair<const char *, DWORD> numbers[] = {
        {"0x4000", 0x4000},
        {"0X1f", 31},
        {"0x", 0},
        {"0xg", 0},
        {"040", 32},
        {"08", 0},
        {"019", 1},
        {"64abc", 64},
        {"+64", 64},
        {"-1", 0xFFFFFFFF},
        {"-0x40", 0xFFFFFFC0},
        {"4294967295", 0xFFFFFFFF},
        {"4294967296", 0xFFFFFFFF},
        {"18446744073709551616", 0xFFFFFFFF},
        {"0x100000000", 0xFFFFFFFF},
        {"-4294967296", 0xFFFFFFFF},
        {"\" 32\"", 32},
        {"\"\x0b+32\"", 32},
        {"0", 0},
        {"+-1", 0},
        {"--1", 0},
        {"\" \"", 0},
    };
    for (const auto &n : numbers) {
        SCOPED_TRACE(n.first);
        RunState.dwPriorityClass = kUntouched;
        EXPECT_TRUE(Parse(std::string("x.exe ") + n.first).ok);
        EXPECT_EQ(RunState.dwPriorityClass, n.second);
    }
}

TEST_F(ParseCommandTailTest, ModuleNameLengthLimit)
{
    std::string longest(MODULE_NAME_SIZE - 1, 'n');
    Result r = Parse(longest + " IDLE");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.module, longest);
    EXPECT_EQ(r.cls, 0x40u);

    // One more does not fit the buffer: the command is rejected, nothing is
    // requested, and the buffer holds no cut-off name.
    RunState.dwPriorityClass = 0;
    r = Parse(longest + "n IDLE");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.cls, 0u);
    EXPECT_EQ(r.module, "");

    r = Parse("\"" + std::string(5000, 'x') + "\" HIGH");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.cls, 0u);
}

TEST_F(ParseCommandTailTest, HighBytesPassThrough)
{
    Result r = Parse("\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.exe\xff IDLE");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.module, "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.exe\xff");
}

} // namespace
