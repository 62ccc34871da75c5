#include <gtest/gtest.h>

#include <string>

#include "App.h"

namespace
{

::testing::AssertionResult TailIs(const char *cmdLine, const char *expected)
{
    std::string line = cmdLine;
    LPSTR tail = SkipProgramName(&line[0]);
    if (tail == nullptr)
        return ::testing::AssertionFailure() << "tail of [" << cmdLine << "] is null";
    // The tail points into the command line, never at a copy.
    if (tail < &line[0] || tail > &line[0] + line.size())
        return ::testing::AssertionFailure() << "tail of [" << cmdLine << "] points outside it";
    if (std::string(tail) != expected)
        return ::testing::AssertionFailure()
               << "tail of [" << cmdLine << "] is [" << tail << "], expected [" << expected << "]";
    return ::testing::AssertionSuccess();
}

TEST(SkipProgramName, UnquotedName)
{
    EXPECT_TRUE(TailIs("tolv notepad.exe IDLE", "notepad.exe IDLE"));
    EXPECT_TRUE(TailIs("  \t tolv \t  notepad.exe IDLE ", "notepad.exe IDLE "));
    EXPECT_TRUE(TailIs("tolv\tnotepad.exe", "notepad.exe"));
    // A quote inside an unquoted name does not extend it.
    EXPECT_TRUE(TailIs("to\"lv x.exe IDLE", "x.exe IDLE"));
    EXPECT_TRUE(TailIs("C:\\bin\\tolv.exe \"My App.exe\" HIGH", "\"My App.exe\" HIGH"));
}

TEST(SkipProgramName, QuotedName)
{
    EXPECT_TRUE(TailIs("\"C:\\Program Files\\tolv.exe\" notepad.exe IDLE", "notepad.exe IDLE"));
    // No blank after the closing quote: the tail begins right after it.
    EXPECT_TRUE(TailIs("\"C:\\tolv.exe\"notepad.exe IDLE", "notepad.exe IDLE"));
    EXPECT_TRUE(TailIs("\"\" notepad.exe IDLE", "notepad.exe IDLE"));
    // Never closed: the name runs to the end.
    EXPECT_TRUE(TailIs("\"C:\\tolv.exe notepad.exe IDLE", ""));
}

TEST(SkipProgramName, EmptyTails)
{
    EXPECT_TRUE(TailIs("", ""));
    EXPECT_TRUE(TailIs("tolv", ""));
    EXPECT_TRUE(TailIs("tolv     ", ""));
    EXPECT_TRUE(TailIs("tolv \t \t", ""));
    EXPECT_TRUE(TailIs("   ", ""));
    EXPECT_TRUE(TailIs("\"tolv\"", ""));
}

TEST(SkipProgramName, NullStaysNull)
{
    EXPECT_EQ(SkipProgramName(nullptr), nullptr);
}

} // namespace
