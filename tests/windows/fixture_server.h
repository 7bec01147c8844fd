// The loopback fixture server for Windows-tier tests (tests/fixtures/fixture_server.py).
//
// ctest starts one server per build folder before any test of tests/windows runs (fixture
// "fixture_server"). It serves the folder <build>/www; its port is known only at run time and
// lies in <build>/www.port as decimal text; every request appends "METHOD PATH" to <build>/www.log.
// A test writes the files it needs below ServerRoot() (use names of its own: tests of several
// programs share the folder) and asks for ServerUrl(name). Failure modes by path prefix:
// /404/..., /stall/<file>, /cut/<file>, /badlen/<file> (see fixture_server.py).
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace testing_support {

// The build folder: test programs live in <build>/wtests.
inline std::wstring BuildDir()
{
    std::wstring relative = ExeDir() + L"\\..";
    wchar_t full[MAX_PATH];
    DWORD length = ::GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::wstring(full, length) : relative;
}

inline std::wstring ServerRoot() { return BuildDir() + L"\\www"; }
inline std::wstring ServerLogPath() { return BuildDir() + L"\\www.log"; }

// The server's port, 0 when the server is not running.
inline int ServerPort()
{
    std::string text = ReadBytes(BuildDir() + L"\\www.port");
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        port = port * 10 + (c - '0');
    }
    return port;
}

// "http://127.0.0.1:PORT/" followed by the name, e.g. ServerUrl(L"404/ctl.ini").
inline std::wstring ServerUrl(const std::wstring& name)
{
    return L"http://127.0.0.1:" + std::to_wstring(ServerPort()) + L"/" + name;
}

// Serves `body` under `name` prefixed with this program's file name, since the programs of a
// build share the folder and may run at once; the name to put after the mode.
inline std::wstring ServeBytes(const std::wstring& name, const std::string& body)
{
    wchar_t path[MAX_PATH];
    const std::wstring program(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    const std::wstring unique = program.substr(program.find_last_of(L'\\') + 1) + L"-" + name;
    EXPECT_TRUE(WriteBytes(ServerRoot() + L"\\" + unique, body));
    return unique;
}

// A port on which nothing listens on loopback, for "the server refuses" cases.
inline int ClosedPort() { return 9; }

}  // namespace testing_support
