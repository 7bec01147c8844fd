// The settings chain against real INI files through the real profile API.
#include "app/morvane_app.h"

#include <gtest/gtest.h>

#include "test_support.h"

using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteUtf16;

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        app.m_values.installation = settings::MakeInstallation(dir.path(), L"", L"French");
        ASSERT_TRUE(::CreateDirectoryW((dir / L"res").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((dir / L"res\\French").c_str(), nullptr));
    }
    void MakeFolders(const std::wstring& relative)
    {
        std::wstring path = dir.path();
        size_t start = 0;
        while (start <= relative.size()) {
            size_t end = relative.find(L'\\', start);
            if (end == std::wstring::npos) end = relative.size();
            path += L"\\" + relative.substr(start, end - start);
            ::CreateDirectoryW(path.c_str(), nullptr);
            start = end + 1;
        }
    }

    ScratchDir dir;
    app::CMorvaneApp app;
};

TEST_F(Settings, MainSettingsTakeDefaultsAndConvertNumbers)
{
    EXPECT_EQ(app.ReadMainSettings(), 0) << "kavro.ini is missing";

    ASSERT_TRUE(WriteBytes(dir / L"res\\kavro.ini",
                           "[startup]\r\nproductname =  Kavro Suite  \r\nOSMinor=-12\r\n"
                           "SPMajor=abc\r\nBicon=7z\r\n"));
    EXPECT_EQ(app.ReadMainSettings(), 1);
    EXPECT_EQ(app.m_values.texts.productName,
              L"Kavro Suite");                    // names without case, blanks trimmed
    EXPECT_EQ(app.m_values.settings.osMajor, 5);  // missing: the default
    EXPECT_EQ(app.m_values.settings.osMinor, -12);
    EXPECT_EQ(app.m_values.settings.spMajor, 0);  // letters only
    EXPECT_EQ(app.m_values.settings.bicon, 7);    // digits up to the first letter
}

TEST_F(Settings, LanguageFallbackFileIsNeverMerged)
{
    EXPECT_EQ(app.ReadLanguageSettings(), 0) << "neither language file exists";

    ASSERT_TRUE(WriteBytes(dir / L"res\\French\\language1.ini",
                           "[Alternative Drivers]\r\nDRVNAME=Fallback\r\n"
                           "InstallerCtlFile=http://h/one.ini\r\nInstallerRevision=9\r\n"));
    EXPECT_EQ(app.ReadLanguageSettings(), 1);
    EXPECT_EQ(app.m_values.settings.drvName, L"Fallback");
    EXPECT_EQ(app.m_values.settings.installerRevision, 9);

    ASSERT_TRUE(WriteBytes(dir / L"res\\French\\language.ini",
                           "[Alternative Drivers]\r\nInstallerCtlFile=http://h/two.ini\r\n"));
    app::CMorvaneApp fresh;
    fresh.m_values.installation = settings::MakeInstallation(dir.path(), L"", L"French");
    EXPECT_EQ(fresh.ReadLanguageSettings(), 1);
    EXPECT_EQ(fresh.m_values.settings.installerCtlFile, L"http://h/two.ini");
    EXPECT_EQ(fresh.m_values.settings.drvName, L"");          // only the fallback has it
    EXPECT_EQ(fresh.m_values.settings.installerRevision, 0);  // default, not the fallback's 9
}

TEST_F(Settings, EmptyControlFileUrlFailsAfterReadingTheDriverName)
{
    ASSERT_TRUE(WriteBytes(dir / L"res\\French\\language.ini",
                           "[Alternative Drivers]\r\nDRVNAME=Drv\r\nInstallerCtlFile=\r\n"
                           "InstallerRevision=4\r\n"));
    EXPECT_EQ(app.ReadLanguageSettings(), 0);
    EXPECT_EQ(app.m_values.settings.drvName, L"Drv");
    EXPECT_EQ(app.m_values.settings.installerRevision, 0);
}

TEST_F(Settings, UiStringsKeepNonAsciiLettersAndConvertEscapes)
{
    EXPECT_EQ(app.ReadUiStrings(), 0) << "neither UI-strings file exists";

    // Only the fallback exists: it is read as the main file.
    ASSERT_TRUE(WriteUtf16(
        dir / L"res\\French\\uistrings1.ini",
        L"[STARTUP]\r\n"
        L"TitleUpdate=Mise \u00e0 jour de %s\r\n"
        L"MessageUpdate=Une version plus r\u00e9cente existe.\\nVoulez-vous "
        L"l\u2019installer\u00a0?\r\n"
        L"YesBtn=Oui\r\nNoBtn=Non\r\n"
        L"MessageOSCap=Syst\u00e8me\\tnon pris en charge\r\n"
        L"CancelBtn=Annuler\r\nCloseBtn=Fermer\r\nRetryBtn=R\u00e9essayer\r\n"
        L"DownloadError=\u00c9chec\r\nMessageDownload=T\u00e9l\u00e9chargement\u2026\r\n"));
    EXPECT_EQ(app.ReadUiStrings(), 1);
    EXPECT_EQ(app.m_values.texts.titleUpdate, L"Mise \u00e0 jour de %s");
    EXPECT_EQ(app.m_values.texts.messageUpdate,
              L"Une version plus r\u00e9cente existe.\nVoulez-vous l\u2019installer\u00a0?");
    EXPECT_EQ(app.m_values.texts.messageOSCap, L"Syst\u00e8me\tnon pris en charge");
    EXPECT_EQ(app.m_values.texts.retryBtn, L"R\u00e9essayer");
    EXPECT_EQ(app.m_values.texts.downloadError, L"\u00c9chec");
    EXPECT_EQ(app.m_values.texts.messageDownload, L"T\u00e9l\u00e9chargement\u2026");
    EXPECT_EQ(app.m_values.texts.yesBtn, L"Oui");
    EXPECT_EQ(app.m_values.texts.cancelBtn, L"Annuler");
}

TEST_F(Settings, ValuesAreCutAt259CharactersBeforeEscapesAreConverted)
{
    const std::string a257(257, 'a'), a258(258, 'a');
    ASSERT_TRUE(WriteBytes(dir / L"values.ini", "[S]\r\nfits=" + a257 + "\\n\r\ncut=" + a258 +
                                                    "\\n\r\nlong=" + std::string(400, 'b') +
                                                    "\r\n"));
    const std::wstring file = dir / L"values.ini";
    EXPECT_EQ(app::ReadIniValue(L"S", L"fits", L"", file), std::wstring(257, L'a') + L"\n");
    EXPECT_EQ(app::ReadIniValue(L"S", L"cut", L"", file), std::wstring(258, L'a') + L"\\");
    EXPECT_EQ(app::ReadIniValue(L"S", L"long", L"", file), std::wstring(259, L'b'));
    EXPECT_EQ(app::ReadIniValue(L"S", L"missing", L"dflt\\tx", file), L"dflt\tx");
    EXPECT_EQ(app::ReadIniValue(L"S", L"missing", L"", dir / L"no-such.ini"), L"");
}

TEST_F(Settings, DriverNameComesFromTheFolderThatBiconChooses)
{
    MakeFolders(L"Common\\Printer\\WINX86\\SETUP");
    ASSERT_TRUE(WriteBytes(dir / L"Common\\Printer\\WINX86\\SETUP\\drv.kif",
                           "[Strings]\r\nDRVNAME=\"Common Driver\"\r\n"));

    app.m_values.settings.bicon = 1;  // only Driver\Printer\Driver\WINX86\SETUP is searched
    EXPECT_EQ(app.FindDriverName(), 0);
    EXPECT_EQ(app.m_values.settings.drvName, L"");

    app.m_values.settings.bicon = 0;
    EXPECT_EQ(app.FindDriverName(), 1);
    EXPECT_EQ(app.m_values.settings.drvName,
              L"Common Driver");  // the profile reader drops the quotes

    MakeFolders(L"Driver\\Printer\\Driver\\WINX86\\SETUP");
    ASSERT_TRUE(WriteBytes(dir / L"Driver\\Printer\\Driver\\WINX86\\SETUP\\x.kif",
                           "[Strings]\r\nOther=1\r\n"));
    app::CMorvaneApp withoutKey;
    withoutKey.m_values.installation = settings::MakeInstallation(dir.path(), L"", L"");
    withoutKey.m_values.settings.bicon = -1;
    EXPECT_EQ(withoutKey.FindDriverName(), 1) << "a file without DRVNAME still succeeds";
    EXPECT_EQ(withoutKey.m_values.settings.drvName, L"");

    app::CMorvaneApp named;  // a name from the language settings means no search at all
    named.m_values.installation = settings::MakeInstallation(dir / L"nowhere", L"", L"");
    named.m_values.settings.drvName = L"FromLanguage";
    EXPECT_EQ(named.FindDriverName(), 1);
    EXPECT_EQ(named.m_values.settings.drvName, L"FromLanguage");
}

}  // namespace
