// The package download against the loopback fixture server, hostile modes included.
#include "sys/package_download.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "win/handles.h"

#include "fixture_server.h"
#include "net_fixtures.h"
#include "test_support.h"

using namespace testing_support;

namespace {

TEST_F(PackageFetch, ProgressAdvancesToTheTotalAndTheStoredFileIsClosed)
{
    const std::string body = PackageBytes(3 * 1024 * 1024, 1);
    const std::wstring name = ServeBytes(L"progress.bin", body);
    sys::PackageDownload download(ServerUrl(L"slow/" + name), folder.get(), packageName);
    ASSERT_EQ(Run(download), sys::NetFault::None);
    EXPECT_EQ(ReadBytes(file), body);
    ASSERT_GE(seen.size(), 3u) << "the bytes of a slow server arrive in steps";
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].second, body.size());
        EXPECT_LE(seen[i].first, body.size());
        if (i) {
            EXPECT_GE(seen[i].first, seen[i - 1].first);
        }
    }
    EXPECT_EQ(seen.back(), Progress(body.size(), body.size()));
    // Closed and kept: a reader that denies writers opens it, and the object's end keeps it.
    win::File reader(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader.valid());
    reader.reset();
    download.Discard();
    EXPECT_FALSE(Exists(file));
}

TEST_F(PackageFetch, StopEndsAnEndlessBodyThatGivesNoLength)
{
    win::StopFlag stop;
    sys::PackageDownload download(ServerUrl(L"endless/x.bin"), folder.get(), packageName);
    const sys::NetFault fault = download.Run(
        [&](unsigned long long received, unsigned long long total) {
            seen.emplace_back(received, total);
            if (received > 2 * 1024 * 1024) stop.Request();
        },
        stop);
    EXPECT_EQ(fault, sys::NetFault::Stopped);
    ASSERT_FALSE(seen.empty());
    for (const Progress& p : seen) EXPECT_EQ(p.second, 0u);
    // Nothing to resume from a server without a length or validators.
    EXPECT_FALSE(Exists(file));
}

// Size= from the control file, or without it the hard limit (lowered here), bounds what is
// taken: an announced length that differs is refused before a byte is stored, a body that runs
// on is cut at the first byte past the size, and nothing of either is kept.
TEST_F(PackageFetch, SizeBoundsWhatIsTaken)
{
    const std::string body = PackageBytes(300000, 7);
    const std::wstring exact = ServeBytes(L"sized.bin", body);
    const std::wstring longer = ServeBytes(L"longer.bin", body + PackageBytes(70000, 8));
    const unsigned long long limit = 1024 * 1024;
    struct Case {
        std::wstring url;
        unsigned long long size;  // Size=, 0 for none
        sys::NetFault outcome;
    } cases[] = {
        {ServerUrl(exact), body.size(), sys::NetFault::None},
        {ServerUrl(longer), body.size(), sys::NetFault::WrongSize},  // its length says so
        {ServerUrl(exact), body.size() + 1, sys::NetFault::WrongSize},
        {ServerUrl(L"nolength/0/" + longer), body.size(), sys::NetFault::WrongSize},
        {ServerUrl(L"endless/x.bin"), body.size(), sys::NetFault::WrongSize},
        {ServerUrl(L"endless/x.bin"), 0, sys::NetFault::WrongSize},  // the limit
        {ServerUrl(L"nolength/0/" + exact), body.size(), sys::NetFault::None},
    };
    for (const Case& c : cases) {
        seen.clear();
        sys::DownloadLimits limits;
        limits.expectedBytes = c.size;
        limits.maxBytes = limit;
        sys::PackageDownload download(c.url, folder.get(), packageName, limits);
        EXPECT_EQ(Run(download), c.outcome) << c.url << " " << c.size;
        const unsigned long long bound = c.size ? c.size : limit;
        for (const Progress& p : seen) EXPECT_LE(p.first, bound) << c.url;
        if (c.outcome == sys::NetFault::None) {
            EXPECT_EQ(ReadBytes(file), body) << c.url;
            download.Discard();
        }
        EXPECT_FALSE(Exists(file)) << c.url;
    }
}

// A resumed download is held to Size= too: the rest of an unchanged file completes it, and a
// file that changed to another size after the cut is refused whole.
TEST_F(PackageFetch, ResumeIsHeldToTheSize)
{
    const std::string body = PackageBytes(500000, 9);
    const std::wstring name = ServeBytes(L"resume-sized.bin", body);
    sys::DownloadLimits limits;
    limits.expectedBytes = body.size();
    sys::PackageDownload download(ServerUrl(L"cut90/" + name), folder.get(), packageName, limits);
    EXPECT_EQ(Run(download), sys::NetFault::Cut);
    ASSERT_EQ(Run(download), sys::NetFault::None);
    EXPECT_EQ(ReadBytes(file), body);
    download.Discard();

    EXPECT_EQ(Run(download), sys::NetFault::Cut);  // cut again at 90 %
    ::Sleep(20);                                   // a new modification time, so a new ETag
    ServeBytes(L"resume-sized.bin", body + "grown");
    EXPECT_EQ(Run(download), sys::NetFault::WrongSize);
    EXPECT_FALSE(Exists(file));
}

TEST_F(PackageFetch, SilentOrStalledServerEndsAsStalled)
{
    sys::DownloadLimits limits;
    limits.stallMs = 2000;
    const std::wstring name = ServeBytes(L"stalled.bin", PackageBytes(100000, 2));
    for (const std::wstring& url : {ServerUrl(L"stall/" + name), ServerUrl(L"silent/x.bin")}) {
        sys::PackageDownload download(url, folder.get(), packageName, limits);
        const DWORD start = ::GetTickCount();
        EXPECT_EQ(Run(download), sys::NetFault::Stalled) << url;
        const DWORD took = ::GetTickCount() - start;
        EXPECT_GE(took, 1900u) << url;
        EXPECT_LT(took, 2000u + kSlackMs) << url;
    }
}

TEST_F(PackageFetch, CutAttemptResumesWithARangeForTheRest)
{
    const std::string body = PackageBytes(1000000, 3);
    const std::wstring name = ServeBytes(L"cut90.bin", body);
    sys::PackageDownload download(ServerUrl(L"cut90/" + name), folder.get(), packageName);
    EXPECT_EQ(Run(download), sys::NetFault::Cut);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), Progress(900000, body.size()));

    const std::string before = ReadBytes(ServerLogPath());
    ASSERT_EQ(Run(download), sys::NetFault::None);
    EXPECT_NE(Since(before, ReadBytes(ServerLogPath())).find("RANGE bytes=900000- -> 206"),
              std::string::npos);
    ASSERT_FALSE(seen.empty());
    EXPECT_GE(seen.front().first, 900000u) << "the resumed attempt counts what was there";
    EXPECT_EQ(seen.back(), Progress(body.size(), body.size()));
    EXPECT_EQ(ReadBytes(file), body);
}

TEST_F(PackageFetch, ChangedFileComesWholeAfterACut)
{
    const std::wstring name = ServeBytes(L"changed.bin", PackageBytes(500000, 4));
    sys::PackageDownload download(ServerUrl(L"cut90/" + name), folder.get(), packageName);
    EXPECT_EQ(Run(download), sys::NetFault::Cut);
    ::Sleep(20);  // a new modification time, so a new ETag
    const std::string changed = PackageBytes(500000, 5);
    ServeBytes(L"changed.bin", changed);

    const std::string before = ReadBytes(ServerLogPath());
    // The whole changed file comes with the ranged request's 200, and is cut at 90% again.
    EXPECT_EQ(Run(download), sys::NetFault::Cut);
    EXPECT_NE(Since(before, ReadBytes(ServerLogPath())).find("RANGE bytes=450000- -> 200"),
              std::string::npos);
    ASSERT_EQ(Run(download), sys::NetFault::None);
    EXPECT_EQ(ReadBytes(file), changed);
}

TEST_F(PackageFetch, ServerWithoutRangesStartsOver)
{
    const std::wstring name = ServeBytes(L"norange.bin", PackageBytes(400000, 6));
    sys::PackageDownload download(ServerUrl(L"cut/" + name), folder.get(), packageName);
    EXPECT_EQ(Run(download), sys::NetFault::Cut);
    EXPECT_FALSE(Exists(file)) << "nothing to resume is kept";
    const std::string before = ReadBytes(ServerLogPath());
    EXPECT_EQ(Run(download), sys::NetFault::Cut);
    const std::string log = Since(before, ReadBytes(ServerLogPath()));
    EXPECT_NE(log.find("GET /cut/" + std::string(name.begin(), name.end())), std::string::npos);
    EXPECT_EQ(log.find("RANGE"), std::string::npos);
}

TEST_F(PackageFetch, PartialFileGoesWithTheObjectAndIsNobodyElsesToWrite)
{
    const std::wstring name = ServeBytes(L"partial.bin", PackageBytes(300000, 7));
    {
        sys::PackageDownload download(ServerUrl(L"cut90/" + name), folder.get(), packageName);
        EXPECT_EQ(Run(download), sys::NetFault::Cut);
        win::File writer(::CreateFileW(file.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(writer.valid());
    }
    EXPECT_FALSE(Exists(file));
}

// Each ends with its own fault, the one the user is told of, and leaves no file.
TEST_F(PackageFetch, RefusalsEndTheFetchWithTheirFaultAndLeaveNothing)
{
    const std::wstring name = ServeBytes(L"refused.bin", PackageBytes(10000, 8));
    const std::pair<std::wstring, sys::NetFault> cases[] = {
        {ServerUrl(L"404/x.bin"), sys::NetFault::ServerError},
        {ServerUrl(L"tofile/" + name), sys::NetFault::BadRedirect},
        {HttpsUrl("expired", name), sys::NetFault::CertExpired},
        {HttpsUrl("othername", name), sys::NetFault::CertWrongName},
        {HttpsUrl("unknown", name), sys::NetFault::CertUnknownRoot},
        {HttpsUrl("https", L"tohttp/" + std::to_wstring(ServerPort()) + L"/" + name),
         sys::NetFault::InsecureRedirect},
        {L"http://127.0.0.1:1/closed.bin", sys::NetFault::NoConnection},
    };
    for (const auto& c : cases) {
        sys::PackageDownload download(c.first, folder.get(), packageName);
        EXPECT_EQ(Run(download), c.second) << c.first;
        EXPECT_FALSE(Exists(file)) << c.first;
    }
}

TEST_F(PackageFetch, HttpsFetchStoresTheWholeFile)
{
    const std::string body = PackageBytes(700000, 9);
    const std::wstring name = ServeBytes(L"https.bin", body);
    sys::PackageDownload download(HttpsUrl("https", name), folder.get(), packageName);
    ASSERT_EQ(Run(download), sys::NetFault::None);
    EXPECT_EQ(ReadBytes(file), body);
    EXPECT_EQ(seen.back(), Progress(body.size(), body.size()));
}

// The delete disposition removes a partial file even when its process is killed mid-download.
TEST_F(PackageFetch, PartialFileGoesWhenTheProcessIsKilled)
{
    const std::wstring name = ServeBytes(L"killed.bin", PackageBytes(5000, 12));
    std::wstring command = L"\"" + FixturePath(L"download_host.exe") + L"\" " +
                           ServerUrl(L"drip/" + name) + L" \"" + temp.path() + L"\" " + packageName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    win::Handle child(process.hProcess);
    win::Handle thread(process.hThread);
    // Listed, though delete-pending: a directory listing still shows it.
    WIN32_FIND_DATAW found;
    bool listed = false;
    for (int i = 0; i < 200 && !listed; ++i) {
        win::FindHandle find(::FindFirstFileW(file.c_str(), &found));
        listed = find.valid();
        if (!listed) ::Sleep(50);
    }
    ::Sleep(2500);  // a few dripped bytes are in the file
    ::TerminateProcess(child.get(), 9);
    ::WaitForSingleObject(child.get(), 10000);
    EXPECT_TRUE(listed);
    win::FindHandle after(::FindFirstFileW(file.c_str(), &found));
    EXPECT_FALSE(after.valid());
}

}  // namespace
