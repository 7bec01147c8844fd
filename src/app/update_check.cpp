// The update check: fetch the control file, read the offered revision, compare.
#include "app/morvane_app.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "app/offer_judgement.h"
#include "sys/control_fetch.h"
#include "win/trail.h"

namespace app {

namespace {

// No update: says why on the trail.
bool NoUpdate(const wchar_t* why)
{
    win::Trail(std::wstring(L"update check: no update, ") + why);
    return false;
}

}  // namespace

int CMorvaneApp::CheckForUpdate()
{
    // Without a temporary folder there is nothing to offer, and the server is not asked. (The
    // update itself works in a folder of its own under the Windows folder, not in TEMP.)
    if (!::PathIsDirectoryW(m_values.installation.tempDir.c_str()))
        return NoUpdate(L"the temporary folder does not exist");
    // Read from the fetched bytes: a copy in the user's temporary folder could be rewritten
    // between one read and the next.
    std::vector<char> body;
    if (!sys::FetchControlFile(m_values.settings.installerCtlFile, m_networkDeadline, &body))
        return NoUpdate(L"control file could not be fetched");
    const OfferJudgement judged = JudgeOffer(
        body, m_values.settings.drvName, m_values.settings.installerRevision, m_networkDeadline);
    m_values.offer = judged.offer;
    return judged.outcome == OfferOutcome::Offered;
}

}  // namespace app
