// The manifest linked into Morvane.exe, read back from the built executable's RT_MANIFEST.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

std::string ManifestOf(const std::wstring& exe)
{
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return std::string();
    std::string text;
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    if (loaded)
        text.assign(static_cast<const char*>(::LockResource(loaded)),
                    ::SizeofResource(module, found));
    ::FreeLibrary(module);
    return text;
}

// The text of the first element that opens with `open`, up to its closing tag.
std::string Element(const std::string& text, const std::string& open, const std::string& close)
{
    const size_t start = text.find(open);
    if (start == std::string::npos) return std::string();
    const size_t end = text.find(close, start);
    return end == std::string::npos ? std::string() : text.substr(start, end - start);
}

class Manifest : public testing::Test {
protected:
    void SetUp() override
    {
        m_text = ManifestOf(testing_support::ExeDir() + L"\\..\\Morvane.exe");
        ASSERT_FALSE(m_text.empty()) << "no manifest resource in Morvane.exe";
    }
    std::string m_text;
};

}  // namespace

// Without a system in this list, GetVersionExW reports that system as Windows 8 (6.2).
TEST_F(Manifest, ListsEverySupportedSystemFromVistaToWindows11)
{
    const std::string application = Element(
        Element(m_text, "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
                "</compatibility>"),
        "<application>", "</application>");
    const struct {
        const char* system;
        const char* id;
    } systems[] = {
        {"Vista", "{e2011457-1546-43c5-a5fe-008deee3d3f0}"},
        {"7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"},
        {"8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"},
        {"8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"},
        {"10 and 11", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"},
    };
    for (const auto& s : systems) {
        const std::string entry = std::string("<supportedOS Id=\"") + s.id + "\"/>";
        EXPECT_NE(application.find(entry), std::string::npos) << "Windows " << s.system;
    }
}

TEST_F(Manifest, AsksForAdministratorRightsAndCommonControls6)
{
    EXPECT_NE(m_text.find("<requestedExecutionLevel level=\"requireAdministrator\""),
              std::string::npos);
    const std::string controls = Element(m_text, "<dependentAssembly>", "</dependentAssembly>");
    EXPECT_NE(controls.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos)
        << controls;
}
