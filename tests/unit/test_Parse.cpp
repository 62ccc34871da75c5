// The command tail: SkipProgramName and ParseCommandTail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "App.h"
#include "RunState.h"

namespace
{

TEST(SkipProgramName, TailFollowsTheProgramName)
{
    // clang-format off
    const char *const cases[][2] = {
        {"tolv notepad.exe IDLE", "notepad.exe IDLE"}, {"  \t tolv \t  notepad.exe IDLE ", "notepad.exe IDLE "},
        {"to\"lv x.exe IDLE", "x.exe IDLE"}, // a quote inside an unquoted name does not extend it
        {"\"C:\\Program Files\\tolv.exe\"\t notepad.exe IDLE", "notepad.exe IDLE"},
        {"\"C:\\tolv.exe\"notepad.exe IDLE", "notepad.exe IDLE"}, {"\"\" a b", "a b"},
        {"\"C:\\tolv.exe notepad.exe IDLE", ""}, // never closed: the name runs to the end
        {"tolv  \t ", ""}, {"   ", ""},
    };
    // clang-format on
    for (const auto &c : cases) {
        std::string line = c[0];
        LPSTR tail = SkipProgramName(&line[0]);
        ASSERT_TRUE(tail >= &line[0] && tail <= &line[0] + line.size()) << c[0];
        EXPECT_STREQ(tail, c[1]) << c[0];
    }
    EXPECT_EQ(SkipProgramName(nullptr), nullptr);
}

const DWORD U = 0xDEADBEEF; // the class as the caller left it

TEST(ParseCommandTail, TokensNamesAndClasses)
{
    const std::string n259(259, 'n');
    // clang-format off
    const struct { std::string tail, module; DWORD cls; bool ok; } cases[] = {
        {"notepad.exe IDLE", "notepad.exe", 0x40, true}, {"\"My App.exe\" HIGH", "My App.exe", 0x80, true},
        {"   a\tIDLE   ", "a", 0x40, true}, {"a \"IDLE\"", "a", 0x40, true}, {"a \" IDLE\"", "a", 0, true},
        {"\"NULL\" BELOW_NORMAL", "", 0x4000, true}, {"NULL NORMAL", "", 0x20, true},
        {"null ABOVE_NORMAL", "null", 0x8000, true}, {"a HIGHEST", "a", 0x80, true},
        {"a REALTIME", "a", 0x100, true}, {"a Idle", "a", 0, true}, {"a IDLEX", "a", 0, true},
        {"\xe3\x83\x86.exe\xff IDLE", "\xe3\x83\x86.exe\xff", 0x40, true},
        {"\"note\tpad.exe\" IDLE", "note", 0, false}, // a tab splits even inside quotes
        {"a\"b c\"d IDLE", "a", 0, false}, {"\"notepad.exe IDLE", "notepad.exe IDLE", U, false},
        {"\"\" IDLE", "IDLE", U, false}, {"a \"\"", "a", U, false}, {"\" \"", " ", U, false},
        {"\"\"", "?", U, false}, {"\t\"\t\"", "?", U, false}, {"a HIGH extra", "a", 0x80, false},
        {n259 + " IDLE", n259, 0x40, true},
        {n259 + "n IDLE", "", U, false}, // fits no buffer: rejected, never cut
        {"\"" + std::string(5000, 'x') + "\" HIGH", "", U, false},
        // Numbers, read as strtoul does with base 0, in 32 bits.
        {"a 0x4000", "a", 0x4000, true}, {"a 0XaF", "a", 0xAF, true}, {"a 0x", "a", 0, true},
        {"a 040", "a", 32, true}, {"a 019", "a", 1, true}, {"a 64abc", "a", 64, true}, {"a +-1", "a", 0, true},
        {"a \"\r+64\"", "a", 64, true}, {"a -1", "a", 0xFFFFFFFF, true}, {"a -0x40", "a", 0xFFFFFFC0, true},
        {"a 4294967294", "a", 0xFFFFFFFE, true}, {"a 4294967296", "a", 0xFFFFFFFF, true},
        {"a 0x100000000", "a", 0xFFFFFFFF, true}, {"a -4294967296", "a", 0xFFFFFFFF, true},
    };
    // clang-format on
    RunState.lpModuleName = static_cast<LPSTR>(std::malloc(MODULE_NAME_SIZE)); // the size the run allocates
    for (const auto &c : cases) {
        std::strcpy(RunState.lpModuleName, "?");
        RunState.dwPriorityClass = U;
        std::string tail = c.tail;
        EXPECT_EQ(ParseCommandTail(tail.c_str()) != FALSE, c.ok) << c.tail;
        EXPECT_EQ(RunState.lpModuleName, c.module) << c.tail;
        EXPECT_EQ(RunState.dwPriorityClass, c.cls) << c.tail;
        EXPECT_TRUE(tail == c.tail && RunState.lpWorkCopy == nullptr) << "the tail is kept, the copy freed";
    }
    std::free(RunState.lpModuleName);
}

} // namespace
