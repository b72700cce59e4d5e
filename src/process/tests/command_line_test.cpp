#include "process/command_line.h"

#include <gtest/gtest.h>

namespace wd {
namespace {

TEST(WindowsQuoting, QuotesOnlyWhatTheRuntimeWouldSplitAndEscapesQuotes) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"/FI", u"/FI"},
        {u"PID eq 4120", u"\"PID eq 4120\""},
        {u"IMAGENAME eq my player.exe", u"\"IMAGENAME eq my player.exe\""},
        {u"a\tb", u"\"a\tb\""},
        {u"", u"\"\""},
        {u"say\"hi", u"say\\\"hi"},
        {u"C:\\dir\\", u"C:\\dir\\"},              // no quote: backslashes stay
        {u"C:\\my dir\\", u"\"C:\\my dir\\\\\""},  // doubled before the closing quote
        {u"a\\\"b", u"a\\\\\\\"b"},                // run before a quote doubled, plus one
        {u"a\\\\b c", u"\"a\\\\b c\""},            // backslashes elsewhere untouched
    };
    for (const auto& [arg, quoted] : cases) {
        EXPECT_EQ(quote_windows_arg(arg), quoted);
    }
    // The player's command line is its path, always quoted: a folder path's trailing
    // backslash must not escape the closing quote.
    EXPECT_EQ(quote_windows_arg(u"C:\\p\\player.exe", QUOTE_ALWAYS), u"\"C:\\p\\player.exe\"");
    EXPECT_EQ(quote_windows_arg(u"C:\\players\\", QUOTE_ALWAYS), u"\"C:\\players\\\\\"");
}

TEST(WindowsQuoting, AQuoteInAnImageNameCannotAddAnArgument) {
    // Split back by the C runtime's rules, the hostile name stays inside one argument.
    const std::u16string joined = join_windows_args({u"/F", u"/IM", u"x.exe\" /PID 4 \"y"});
    EXPECT_EQ(joined, u"/F /IM \"x.exe\\\" /PID 4 \\\"y\"");
}

}  // namespace
}  // namespace wd
