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
    const struct { const char *rule, *line, *tail; } cases[] = {
        {"blanks and tabs around the name are skipped", "  \t tolv \t  notepad.exe IDLE ",
         "notepad.exe IDLE "},
        {"the tail may begin right after the quote", "\"C:\\tolv.exe\"notepad.exe IDLE", "notepad.exe IDLE"},
        {"an unclosed quote runs to the end", "\"C:\\tolv.exe notepad.exe IDLE", ""},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        std::string line = c.line;
        LPSTR tail = SkipProgramName(&line[0]);
        ASSERT_TRUE(tail >= &line[0] && tail <= &line[0] + line.size()) << "the tail is not in the line";
        EXPECT_STREQ(tail, c.tail) << "wrong tail";
    }
    EXPECT_EQ(SkipProgramName(nullptr), nullptr) << "a tail without a command line";
}

const DWORD kUnset = 0xDEADBEEF; // the class as the caller left it
const std::string n259(259, 'n');

TEST(ParseCommandTail, TokensNamesAndClasses)
{
    // "?": the name as the caller left it
    // clang-format off
    const struct { const char *rule; std::string tail, module; DWORD cls; bool ok; } cases[] = {
        {"quotes group blanks into a name", "\"My App.exe\" HIGH", "My App.exe", 0x80, true},
        {"tabs and runs of blanks separate, also at the ends", "   a\tIDLE   ", "a", 0x40, true},
        {"a blank quoted into a keyword makes it none", "a \" IDLE\"", "a", 0, true},
        {"a tab splits even inside quotes", "\"note\tpad.exe\" IDLE", "note", 0, false},
        {"a quote splits a word", "a\"b c\"d IDLE", "a", 0, false},
        {"an unclosed quote holds the rest", "\"notepad.exe IDLE", "notepad.exe IDLE", kUnset, false},
        {"empty quotes are no token", "\"\" IDLE", "IDLE", kUnset, false},
        {"quotes and tabs only: no token, nothing written", "\t\"\t\"", "?", kUnset, false},
        {"three tokens set both, but are no success", "a HIGH extra", "a", 0x80, false},
        {"NULL stands for the empty name", "NULL NORMAL", "", 0x20, true},
        {"null is a name", "null ABOVE_NORMAL", "null", 0x8000, true},
        {"259 characters fit", n259 + " IDLE", n259, 0x40, true},
        {"260 are rejected, never cut", n259 + "n IDLE", "", kUnset, false},
        {"HIGHEST is HIGH", "a HIGHEST", "a", 0x80, true},
        {"keywords are case-sensitive", "a Idle", "a", 0, true},
        {"hexadecimal", "a 0x4000", "a", 0x4000, true},
        {"hexadecimal in capitals", "a 0XaF", "a", 0xAF, true},
        {"octal", "a 040", "a", 32, true},
        {"letters end a number", "a 64abc", "a", 64, true},
        {"white space and a sign before the digits", "a \"\r+64\"", "a", 64, true},
        {"-1 wraps", "a -1", "a", 0xFFFFFFFF, true},
        {"the largest but one", "a 4294967294", "a", 0xFFFFFFFE, true},
        {"beyond 32 bits: the largest, never wrapped to 0", "a 4294967296", "a", 0xFFFFFFFF, true},
        {"a negative beyond 32 bits", "a -4294967296", "a", 0xFFFFFFFF, true},
    };
    // clang-format on
    RunState.lpModuleName = static_cast<LPSTR>(std::malloc(MODULE_NAME_SIZE)); // the size the run allocates
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        std::strcpy(RunState.lpModuleName, "?");
        RunState.dwPriorityClass = kUnset;
        std::string tail = c.tail;
        EXPECT_EQ(ParseCommandTail(tail.c_str()) != FALSE, c.ok) << "wrong result";
        EXPECT_EQ(RunState.lpModuleName, c.module) << "wrong module name";
        EXPECT_EQ(RunState.dwPriorityClass, c.cls) << "wrong class";
        EXPECT_EQ(tail, c.tail) << "the tail was changed";
        EXPECT_EQ(RunState.lpWorkCopy, nullptr) << "the working copy was not freed";
    }
    std::free(RunState.lpModuleName);
}

} // namespace
