#include "update/flow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixture_server.h"
#include "test_support.h"
#include "win/handles.h"

using testing_support::FixturePath;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::ServeBytes;
using testing_support::ServerLogPath;
using testing_support::ServerPort;
using testing_support::ServerUrl;
using testing_support::WriteBytes;

namespace {

// A note as the dialog receives it.
struct Received {
    update::Note note;
    LPARAM attempt;
};

// Stands in for the dialog: a message-only window the flow posts its notes to, read on this
// thread as the dialog's thread reads them.
class NoteWindow {
public:
    NoteWindow()
        : m_window(::CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     nullptr, nullptr))
    {
    }
    ~NoteWindow() { ::DestroyWindow(m_window); }
    NoteWindow(const NoteWindow&) = delete;
    NoteWindow& operator=(const NoteWindow&) = delete;
    HWND get() const { return m_window; }

    // The next note, or false when none came within `ms`.
    bool Next(Received* received, DWORD ms = 60000)
    {
        const ULONGLONG deadline = ::GetTickCount64() + ms;
        for (;;) {
            MSG message;
            if (::PeekMessageW(&message, m_window, update::WM_UPDATE_NOTE, update::WM_UPDATE_NOTE,
                               PM_REMOVE)) {
                *received = {static_cast<update::Note>(message.wParam), message.lParam};
                return true;
            }
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) return false;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                        QS_POSTMESSAGE);
        }
    }
    // Notes until one other than Progress, which it answers; false when none came.
    bool NextBesidesProgress(update::Flow& flow, Received* received, DWORD ms = 60000)
    {
        while (Next(received, ms)) {
            if (received->note != update::Note::Progress) return true;
            flow.CurrentProgress();
        }
        return false;
    }

private:
    HWND m_window;
};

// The values the dialog hands the flow: the signed test package offered from `url` for an
// installation one revision older, with a local wizard and a res tree to complete from.
settings::Values OfferFrom(const ScratchDir& app, const std::wstring& url,
                           const wchar_t* exePath = L"KVSigned\\KVWizard.exe")
{
    settings::Values values;
    values.settings.drvName = L"KV-1000";
    values.settings.installerRevision = 5;
    values.offer.downloadUrl = url;
    values.offer.packageName = L"KVSetup.exe";
    values.offer.exePath = exePath;
    values.offer.revision = 6;
    values.installation = settings::MakeInstallation(app.path(), app.path(), L"English");
    // The local wizard is judged before it starts: a small program the maker signed.
    EXPECT_TRUE(::CopyFileW(FixturePath(L"pki\\signed-dekavroline.exe").c_str(),
                            (app / L"KVWizard.exe").c_str(), FALSE));
    EXPECT_TRUE(::CreateDirectoryW((app / L"res").c_str(), nullptr));
    EXPECT_TRUE(::CreateDirectoryW((app / L"res\\English").c_str(), nullptr));
    EXPECT_TRUE(WriteBytes(app / L"res\\kavro.ini", "[STARTUP]\r\n"));
    EXPECT_TRUE(WriteBytes(app / L"res\\English\\uistrings.ini", "[STARTUP]\r\n"));
    return values;
}

std::string Failure(const update::Flow& flow)
{
    const std::wstring name = rules::FailureName(flow.LastFailure());
    return "failure " + std::string(name.begin(), name.end());
}

std::wstring ServedPackage(const wchar_t* name)
{
    return ServeBytes(name, ReadBytes(FixturePath(L"pack\\signed-dekavroline.exe")));
}

class FlowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(ServerPort(), 0) << "fixture server not running";
        ASSERT_NE(notes.get(), nullptr);
    }

    ScratchDir app;
    NoteWindow notes;
};

// A cut download fails the attempt; Retry takes the rest with a range request. Once the package
// passed its check the attempt is past its point of no return: Cancel can no longer stop it, and
// it runs the package to its end. (The package's wizard is the unsigned stand-in, so the attempt
// ends at its check, refused.)
TEST_F(FlowTest, RetryResumesAndCancelCannotStopAPackageThatRuns)
{
    const settings::Values values =
        OfferFrom(app, ServerUrl(L"cut90/" + ServedPackage(L"resume.exe")));
    update::Flow flow(values);
    const std::string logBefore = ReadBytes(ServerLogPath());

    ASSERT_TRUE(flow.Start(notes.get()));
    Received received{};
    ASSERT_TRUE(notes.NextBesidesProgress(flow, &received));
    ASSERT_EQ(received.note, update::Note::Failed);
    EXPECT_TRUE(flow.IsCurrent(received.attempt));
    EXPECT_EQ(rules::FailureName(flow.LastFailure()), L"download/cut");

    ASSERT_TRUE(flow.Start(notes.get()));
    ASSERT_TRUE(notes.NextBesidesProgress(flow, &received));
    ASSERT_EQ(received.note, update::Note::Checked) << Failure(flow);
    EXPECT_FALSE(flow.Abandon()) << "Cancel stopped a package that already runs";
    EXPECT_TRUE(flow.IsCurrent(received.attempt)) << "the running attempt's notes went stale";
    ASSERT_TRUE(notes.NextBesidesProgress(flow, &received));
    EXPECT_EQ(received.note, update::Note::Failed);
    EXPECT_EQ(rules::FailureName(flow.LastFailure()), L"wizard/wizard-refused");

    const std::string log = ReadBytes(ServerLogPath()).substr(logBefore.size());
    EXPECT_NE(log.find("-> 206"), std::string::npos) << "Retry fetched the package anew:\n" << log;
}

// Cancel while the package downloads gives the attempt up: the notes it had already posted are
// stale, and a new attempt's notes are not.
TEST_F(FlowTest, NotesOfAnAttemptGivenUpAreStale)
{
    const std::wstring package = ServedPackage(L"stale.exe");
    const settings::Values values = OfferFrom(app, ServerUrl(L"stallbody/" + package));
    update::Flow flow(values);

    ASSERT_TRUE(flow.Start(notes.get()));
    Received first{};
    ASSERT_TRUE(notes.Next(&first));
    ASSERT_EQ(first.note, update::Note::Progress);
    EXPECT_TRUE(flow.IsCurrent(first.attempt));
    EXPECT_TRUE(flow.Abandon()) << "Cancel could not stop a download";
    EXPECT_FALSE(flow.IsCurrent(first.attempt));

    ASSERT_TRUE(flow.Start(notes.get()));
    Received second{};
    do {
        ASSERT_TRUE(notes.Next(&second));
    } while (second.attempt == first.attempt);
    EXPECT_TRUE(flow.IsCurrent(second.attempt));
    EXPECT_FALSE(flow.IsCurrent(first.attempt));
}

// An attempt that cannot begin (an offer whose paths name nothing to run) and one whose every
// address fails each end in one Failed note with their cause, and the local wizard still starts.
TEST_F(FlowTest, AnAttemptThatCannotGoOnFailsWithItsCause)
{
    struct Case {
        const wchar_t* what;
        std::wstring url;
        const wchar_t* exePath;
        const wchar_t* failure;
    };
    const std::vector<Case> cases = {
        {L"no wizard to run", ServerUrl(ServedPackage(L"nopath.exe")), L"KVSigned\\",
         L"start/no-worker"},
        {L"a server error", ServerUrl(L"404/" + ServedPackage(L"gone.exe")),
         L"KVSigned\\KVWizard.exe", L"download/server-error"},
    };
    for (const Case& c : cases) {
        ScratchDir caseApp;
        const settings::Values values = OfferFrom(caseApp, c.url, c.exePath);
        update::Flow flow(values);
        ASSERT_TRUE(flow.Start(notes.get())) << c.what;
        Received received{};
        ASSERT_TRUE(notes.NextBesidesProgress(flow, &received)) << c.what;
        EXPECT_EQ(received.note, update::Note::Failed) << c.what;
        EXPECT_EQ(rules::FailureName(flow.LastFailure()), c.failure) << c.what;
        EXPECT_TRUE(flow.StartLocalWizard()) << c.what;
    }
}

}  // namespace
