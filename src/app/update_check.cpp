// The update check: fetch the control file, read the offered revision, compare.
#include "app/morvane_app.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "app/ini_text.h"
#include "app/rollout_rules.h"
#include "app/startup_rules.h"
#include "rules/names.h"
#include "sys/control_fetch.h"
#include "sys/http_rules.h"
#include "sys/machine_id.h"
#include "win/trail.h"
#include "rules/wstr.h"

namespace app {

namespace {

// No update: says why on the trail.
bool NoUpdate(const wchar_t* why)
{
    win::Trail(std::wstring(L"update check: no update, ") + why);
    return false;
}

// Whether the section has the key at all: no default can tell an absent key from one that
// holds the default, but two different defaults can.
bool HasKey(const app::IniText& control, const std::wstring& section, const wchar_t* key)
{
    return control.RawValue(section, key, L"\x01") != L"\x01" ||
           control.RawValue(section, key, L"\x02") != L"\x02";
}

// The staged rollout: whether this machine's bucket is among the percentage the section
// offers the revision to. The trail names the bucket either way.
bool ReachesThisMachine(const app::IniText& control, const std::wstring& section,
                        std::int32_t revision)
{
    const app::RolloutPercent rollout = app::ParseRollout(HasKey(control, section, L"Rollout"),
                                                          control.Value(section, L"Rollout", L""));
    const std::wstring machine = sys::MachineGuid();
    const unsigned bucket = app::RolloutBucket(machine, section, revision);
    const bool reached = app::IsInRollout(bucket, rollout.percent);
    win::Trail(L"update check: rollout " + rules::Decimal(rollout.percent) + L"%" +
               (rollout.valid ? L"" : L" (Rollout is not a whole number from 0 to 100: halted)") +
               L", this machine is in bucket " + rules::Decimal(bucket) +
               (machine.empty() ? L" (no MachineGuid: the last bucket)" : L"") +
               (reached ? L", offered" : L", not offered"));
    return reached;
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
    const app::IniText control(reinterpret_cast<const unsigned char*>(body.data()), body.size());

    const std::wstring& section = m_values.settings.drvName;
    settings::Offer offer;
    offer.downloadUrl = control.Value(section, L"DownloadUrl", L"");
    // The package's name comes from the network: anything but a plain file name (empty, ".",
    // "..", a separator, a device) could put the package outside the temp folder.
    offer.packageName = app::PackageName(offer.downloadUrl);
    if (!rules::IsWebUrl(offer.downloadUrl))
        return NoUpdate(L"DownloadUrl is not an http or https URL");
    if (offer.packageName.empty())
        return NoUpdate(L"DownloadUrl does not end in a plain file name");

    // ExePath decides what runs elevated and what the clean-up deletes.
    offer.exePath = control.Value(section, L"ExePath", L"");
    if (!rules::IsSafeExePath(offer.exePath))
        return NoUpdate(L"ExePath is not a file in a folder below the temporary folder");
    offer.revision = ::StrToIntW(control.Value(section, L"Revision", L"0").c_str());
    // Size= bounds the download; a value that is not a byte count the download could accept
    // offers nothing rather than a download without its bound.
    if (HasKey(control, section, L"Size") &&
        !app::ParseByteCount(control.Value(section, L"Size", L""), sys::kPackageLimitBytes,
                             &offer.packageSize))
        return NoUpdate(L"Size is not a byte count from 1 to 2 GiB");
    const std::int32_t local = m_values.settings.installerRevision;
    const bool newer =
        app::IsUpdateOffered(offer.downloadUrl, offer.exePath, offer.revision, local);
    win::Trail(L"update check: revision " + rules::Decimal(static_cast<unsigned>(offer.revision)) +
               (newer ? L" offered, newer than " : L" offered, not newer than ") +
               rules::Decimal(static_cast<unsigned>(local)));
    m_values.offer = offer;
    return newer && ReachesThisMachine(control, section, offer.revision) ? 1 : 0;
}

}  // namespace app
