#include "rules/folders.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The new wizard reads its arguments the way CommandLineToArgvW splits a command line; what
// the rule quotes must come back unchanged, a root's trailing backslash included.
TEST(QuoteArgument, CommandLineToArgvReadsBackEveryArgument)
{
    const std::wstring arguments[] = {
        L"E:\\",
        L"\\\\srv\\share\\",
        L"C:\\Program Files\\Kavro",
        L"C:\\a\\\\",
        L"a\"b",
        L"a\\\"b\\\\",
        L"",
        L"two  blanks\tand a tab",
    };
    for (const std::wstring& argument : arguments) {
        const std::wstring commandLine = L"KVWizard.exe " + rules::QuoteArgument(argument) + L" " +
                                         rules::PathArgument(argument);
        int count = 0;
        LPWSTR* argv = ::CommandLineToArgvW(commandLine.c_str(), &count);
        ASSERT_NE(argv, nullptr) << commandLine;
        ASSERT_EQ(count, 3) << commandLine;
        EXPECT_EQ(argv[1], argument) << commandLine;
        EXPECT_EQ(argv[2], L"/PATH=" + argument) << commandLine;
        ::LocalFree(argv);
    }
}

}  // namespace
