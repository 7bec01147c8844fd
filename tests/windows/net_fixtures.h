// The https servers and proxies of tests/fixtures/net_fixtures.py for the Windows-tier tests,
// and a fixture for the package download's tests.
//
// ctest starts them once per build folder (fixture "net_fixtures"), over the fixture server's
// folder <build>/www; their ports lie in <build>/net.state, their requests in <build>/net.log.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "fixture_server.h"
#include "sys/control_fetch.h"
#include "sys/package_download.h"
#include "sys/server_probe.h"
#include "test_support.h"

namespace testing_support {

// The https servers and proxies of tests/fixtures/net_fixtures.py: the port of `name`.
inline int NetPort(const std::string& name)
{
    const std::string state = ReadBytes(BuildDir() + L"\\net.state");
    const size_t at = state.find(name + " ");
    return at == std::string::npos ? 0 : std::atoi(state.c_str() + at + name.size() + 1);
}

// WinINet matches the certificate against the name it was given: localhost, not the address.
inline std::wstring HttpsUrl(const std::string& server, const std::wstring& name)
{
    return L"https://localhost:" + std::to_wstring(NetPort(server)) + L"/" + name;
}

inline std::string NetLog() { return ReadBytes(BuildDir() + L"\\net.log"); }

// The test PKI's root in the machine's Root store, where WinINet looks for trusted roots.
inline bool TrustTestRoot()
{
    const std::string der = ReadBytes(FixturePath(L"pki\\root.der"));
    HCERTSTORE root =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (der.empty() || !root) return false;
    const BOOL added = ::CertAddEncodedCertificateToStore(
        root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    ::CertCloseStore(root, 0);
    return added != FALSE;
}

// The prefix's system proxy for as long as this lives; the earlier settings come back after.
class SystemProxy {
public:
    explicit SystemProxy(int port)
    {
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                          nullptr);
        m_hadEnable = Read(L"ProxyEnable", &m_enable, sizeof m_enable) != 0;
        m_serverSize = Read(L"ProxyServer", m_server, sizeof m_server);
        m_hadServer = m_serverSize != 0;
        const DWORD one = 1;
        const std::wstring server = L"127.0.0.1:" + std::to_wstring(port);
        ::RegSetValueExW(m_key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                         sizeof one);
        ::RegSetValueExW(m_key, L"ProxyServer", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(server.c_str()),
                         static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    }
    ~SystemProxy()
    {
        if (m_hadEnable)
            ::RegSetValueExW(m_key, L"ProxyEnable", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&m_enable), sizeof m_enable);
        else
            ::RegDeleteValueW(m_key, L"ProxyEnable");
        if (m_hadServer)
            ::RegSetValueExW(m_key, L"ProxyServer", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(m_server), m_serverSize);
        else
            ::RegDeleteValueW(m_key, L"ProxyServer");
        ::RegCloseKey(m_key);
    }
    SystemProxy(const SystemProxy&) = delete;
    SystemProxy& operator=(const SystemProxy&) = delete;

private:
    static constexpr const wchar_t* kKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    // The size of the value read; 0 when there is none.
    DWORD Read(const wchar_t* name, void* data, DWORD size)
    {
        return ::RegQueryValueExW(m_key, name, nullptr, nullptr, static_cast<BYTE*>(data), &size) ==
                       ERROR_SUCCESS
                   ? size
                   : 0;
    }

    HKEY m_key = nullptr;
    DWORD m_enable = 0;
    bool m_hadEnable = false;
    wchar_t m_server[256] = {};
    DWORD m_serverSize = 0;
    bool m_hadServer = false;
};

// Bytes that differ from position to position, so a misplaced piece shows.
inline std::string PackageBytes(size_t size, char seed)
{
    std::string bytes(size, '\0');
    unsigned value = static_cast<unsigned char>(seed);
    for (char& c : bytes) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return bytes;
}

// How long past its deadline a call may take to return: thread start and clean-up under a
// loaded Wine, not a second fetch.
inline constexpr DWORD kSlackMs = 3000;

using Progress = std::pair<unsigned long long, unsigned long long>;

class PackageFetch : public ::testing::Test {
protected:
    static void SetUpTestSuite() { trusted = TrustTestRoot(); }

    void SetUp() override
    {
        ASSERT_GT(ServerPort(), 0) << "fixture server not running";
        ASSERT_GT(NetPort("https"), 0) << "net fixtures not running";
        ASSERT_TRUE(trusted) << "the test root could not be added to the machine's Root store";
    }
    sys::NetFault Run(sys::PackageDownload& download)
    {
        const win::StopFlag never;
        seen.clear();
        auto record = [this](unsigned long long received, unsigned long long total) {
            seen.emplace_back(received, total);
        };
        return download.Run(record, never);
    }

    // The server log's lines written since `before`.
    static std::string Since(const std::string& before, const std::string& now)
    {
        return now.substr(before.size());
    }

    static inline bool trusted = false;
    ScratchDir temp;
    // The download works in a folder it is handed held, as the update's work folder is.
    win::File folder{
        ::CreateFileW(temp.path().c_str(),
                      FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    const std::wstring packageName = L"KVSetup.exe";
    std::wstring file = temp / packageName;
    std::vector<Progress> seen;
};

}  // namespace testing_support
