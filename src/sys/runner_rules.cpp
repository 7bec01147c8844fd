#include "sys/runner_rules.h"

#include "rules/wstr.h"

namespace sys {

Action AfterFirstWait(bool stillRunning)
{
    return stillRunning ? Action::SearchWindow : Action::Finish;
}

Action AfterSearch(bool windowFound)
{
    return windowFound ? Action::Poll : Action::WaitWithoutLimit;
}

Action AfterPoll(bool stillRunning) { return stillRunning ? Action::Ping : Action::Finish; }

// Termination does not end the loop by itself: the next poll sees the program gone. A window
// that went is no hang: installers close a splash or unpacking window and go on with another.
Action AfterPing(Ping result)
{
    switch (result) {
    case Ping::Answered: return Action::Poll;
    case Ping::Gone: return Action::SearchWindow;
    case Ping::Hung: break;
    }
    return Action::TerminateAndPoll;
}

const std::uint32_t kLoaderFailures[] = {
    0xC000007B,  // STATUS_INVALID_IMAGE_FORMAT: a library of the wrong machine or no image
    0xC000012F,  // STATUS_INVALID_IMAGE_NOT_MZ: a library that is no PE image
    0xC0000130,  // STATUS_INVALID_IMAGE_PROTECT
    0xC0000131,  // STATUS_INVALID_IMAGE_WIN_16
    0xC0000135,  // STATUS_DLL_NOT_FOUND
    0xC0000138,  // STATUS_ORDINAL_NOT_FOUND
    0xC0000139,  // STATUS_ENTRYPOINT_NOT_FOUND
    0xC0000142,  // STATUS_DLL_INIT_FAILED
    0xC0000361,  // STATUS_ACCESS_DISABLED_BY_POLICY_DEFAULT: software restriction policies
    0xC0000362,  // STATUS_ACCESS_DISABLED_BY_POLICY_PATH
    0xC0000363,  // STATUS_ACCESS_DISABLED_BY_POLICY_PUBLISHER
    0xC0000364,  // STATUS_ACCESS_DISABLED_BY_POLICY_OTHER
    0xC0000428,  // STATUS_INVALID_IMAGE_HASH: code integrity refused the image
};
const size_t kLoaderFailureCount = sizeof kLoaderFailures / sizeof kLoaderFailures[0];

bool IsLoaderFailure(std::uint32_t exitCode)
{
    for (size_t i = 0; i < kLoaderFailureCount; ++i)
        if (kLoaderFailures[i] == exitCode) return true;
    return false;
}

bool CanCopyCommandLine(const std::wstring& commandLine)
{
    if (commandLine.size() >= kCommandLineCapacity) return false;
    return commandLine.find(L'\0') == std::wstring::npos;
}

std::wstring WithTemporaryFolder(const std::wstring& block, const std::wstring& temp)
{
    // Names compare as Windows compares them here: without regard to ASCII case.
    auto named = [](const std::wstring& entry, const wchar_t* name) {
        const size_t length = std::char_traits<wchar_t>::length(name);
        if (entry.size() <= length || entry[length] != L'=') return false;
        for (size_t i = 0; i < length; ++i) {
            if (rules::AsciiUpperChar(entry[i]) != name[i]) return false;
        }
        return true;
    };
    std::wstring out;
    bool hasTemp = false, hasTmp = false;
    for (size_t at = 0; at < block.size();) {
        size_t end = block.find(L'\0', at);
        if (end == std::wstring::npos) end = block.size();
        if (end == at) break;  // the empty entry that ends the block
        std::wstring entry = block.substr(at, end - at);
        if (named(entry, L"TEMP"))
            entry = L"TEMP=" + temp, hasTemp = true;
        else if (named(entry, L"TMP"))
            entry = L"TMP=" + temp, hasTmp = true;
        out += entry;
        out += L'\0';
        at = end + 1;
    }
    if (!hasTemp) out += L"TEMP=" + temp + L'\0';
    if (!hasTmp) out += L"TMP=" + temp + L'\0';
    out += L'\0';
    return out;
}

std::wstring ProgramOf(const std::wstring& commandLine)
{
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t close = commandLine.find(L'"', 1);
        return commandLine.substr(1, close == std::wstring::npos ? close : close - 1);
    }
    return commandLine.substr(0, commandLine.find_first_of(L" \t"));
}

}  // namespace sys
