#include "pack/publish_check.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "app/offer_judgement.h"
#include "rules/control_signature.h"
#include "rules/failure.h"
#include "rules/folders.h"
#include "rules/names.h"
#include "rules/wstr.h"
#include "sys/control_fetch.h"
#include "sys/package_download.h"
#include "sys/trust.h"
#include "update/package_check.h"
#include "update/work_folder.h"
#include "win/com.h"
#include "win/thread.h"

namespace pack {

namespace {

namespace fs = std::filesystem;

struct CheckRequest {
    std::wstring control;  // a file, or an http or https URL
    std::wstring drvName;
    std::int32_t installed = 0;
    std::wstring package;  // a file; empty: the offer's addresses
    std::optional<unsigned> bucket;
};

std::wstring Wide(const std::string& utf8) { return fs::u8path(utf8).wstring(); }
std::string Utf8(const std::wstring& text) { return fs::path(text).u8string(); }

void Say(const std::wstring& line) { std::printf("%s\n", Utf8(line).c_str()); }

// "M-203 (check/not-the-offer): The update is not the one offered.": what the user is shown
// and the trail's name for it.
std::wstring Coded(const rules::Failure& failure)
{
    return std::wstring(rules::FailureCode(failure.cause)) + L" (" + rules::FailureName(failure) +
           L"): " + rules::BuiltInReason(failure.cause, L"English");
}

// InstallerRevision as the language settings give it: a decimal number, signed.
bool ParseRevision(const std::wstring& text, std::int32_t* revision)
{
    const bool negative = !text.empty() && text[0] == L'-';
    const std::wstring digits = negative ? text.substr(1) : text;
    unsigned long long value = 0;
    if (!rules::ParseDecimal(digits.data(), digits.size(), negative ? 2147483648ull : 2147483647ull,
                             &value))
        return false;
    *revision = static_cast<std::int32_t>(negative ? -static_cast<long long>(value)
                                                   : static_cast<long long>(value));
    return true;
}

bool ReadRequest(const std::vector<std::string>& options, CheckRequest* request)
{
    std::map<std::string, std::wstring> given;
    for (size_t i = 0; i < options.size(); i += 2) {
        const std::string& name = options[i];
        const bool known = name == "--control" || name == "--drvname" || name == "--installed" ||
                           name == "--package" || name == "--bucket";
        if (!known || i + 1 >= options.size() || given.count(name)) return false;
        given[name] = Wide(options[i + 1]);
    }
    if (!given.count("--control") || !given.count("--drvname") || !given.count("--installed") ||
        !ParseRevision(given["--installed"], &request->installed))
        return false;
    request->control = given["--control"];
    request->drvName = given["--drvname"];
    request->package = given["--package"];
    if (given.count("--bucket")) {
        unsigned long long bucket = 0;
        const std::wstring& text = given["--bucket"];
        if (!rules::ParseDecimal(text.data(), text.size(), 99, &bucket)) return false;
        request->bucket = static_cast<unsigned>(bucket);
    }
    return true;
}

// The control file's bytes, as a machine would have them: fetched as Morvane fetches it, or
// read from a file and held to the same limit.
bool ReadControl(const std::wstring& source, std::vector<char>* body)
{
    if (rules::IsWebUrl(source)) {
        const win::Deadline deadline(app::kNetworkBudgetMs);
        if (sys::FetchControlFile(source, deadline, body)) return true;
        Say(L"control: " + source +
            L" could not be fetched (a machine gets no answer, an error, "
            L"or more than 64 KiB in time)");
        return false;
    }
    std::ifstream in(fs::path(source), std::ios::binary);
    body->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        Say(L"control: " + source + L" cannot be read");
        return false;
    }
    if (body->size() > sys::kControlFileLimit) {
        Say(L"control: " + source + L" is larger than the 64 KiB a machine fetches");
        return false;
    }
    return true;
}

void SayOffer(const app::OfferJudgement& judged, const std::wstring& drvName)
{
    const settings::Offer& offer = judged.offer;
    Say(L"offer: [" + drvName + L"] revision " +
        rules::Decimal(static_cast<unsigned>(offer.revision)) + L", ExePath=" + offer.exePath +
        L", " +
        (offer.packageSize ? L"Size=" + rules::Decimal(offer.packageSize)
                           : std::wstring(L"no Size=")) +
        L", " + rules::Decimal(1 + offer.mirrorUrls.size()) + L" address(es)");
}

// What one address (or the given file) gives: the stored package judged as a machine judges it.
class PackageTrial {
public:
    PackageTrial(const CheckRequest& request, const settings::Offer& offer, HANDLE folder,
                 const std::wstring& folderPath)
        : m_request(request), m_offer(offer), m_folder(folder), m_folderPath(folderPath)
    {
    }

    // The package downloaded from `url` as the update downloads it, Size= and all.
    bool FromUrl(const std::wstring& url, rules::Failure* failure)
    {
        sys::PackageDownload download(url, m_folder, m_offer.packageName, Limits());
        win::StopFlag never;
        const sys::NetFault fault =
            download.Run([](unsigned long long, unsigned long long) {}, never);
        bool accepted = false;
        if (fault != sys::NetFault::None) {
            *failure = {rules::FailureStep::Download, update::DownloadCause(fault)};
            Say(L"package " + url + L": " + sys::FaultName(fault) + L": " + Coded(*failure));
        } else {
            accepted = Judge(url, failure);
        }
        download.Discard();
        return accepted;
    }

    // The given file, stored under the offer's package name as a download would store it (the
    // name decides the type checks), held to Size= as a download's length is.
    bool FromFile(const std::wstring& file, rules::Failure* failure)
    {
        const std::wstring stored = rules::JoinPath(m_folderPath, m_offer.packageName);
        if (!::CopyFileW(file.c_str(), stored.c_str(), FALSE)) {
            Say(L"package " + file + L": cannot be read");
            *failure = {rules::FailureStep::Download, rules::FailureCause::ServerError};
            return false;
        }
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ::GetFileAttributesExW(stored.c_str(), GetFileExInfoStandard, &data);
        const unsigned long long size =
            (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        bool accepted = false;
        if (!sys::IsLengthAllowed(size, Limits())) {
            *failure = {rules::FailureStep::Download,
                        update::DownloadCause(sys::NetFault::WrongSize)};
            Say(L"package " + file + L": " + rules::Decimal(size) + L" bytes, but Size=" +
                rules::Decimal(m_offer.packageSize) + L": " + Coded(*failure));
        } else {
            accepted = Judge(file, failure);
        }
        ::DeleteFileW(stored.c_str());
        return accepted;
    }

private:
    sys::DownloadLimits Limits() const
    {
        sys::DownloadLimits limits;
        limits.expectedBytes = m_offer.packageSize;
        return limits;
    }

    bool Judge(const std::wstring& source, rules::Failure* failure)
    {
        sys::JudgedFile judged;
        const update::PackageJudgement judgement =
            update::JudgePackage(rules::JoinPath(m_folderPath, m_offer.packageName),
                                 sys::OpenLockedIn(m_folder, m_offer.packageName),
                                 m_request.drvName, m_request.installed, m_offer, &judged);
        if (judgement.accepted) {
            Say(L"package " + source +
                L": the signature, signer, key pins, revocation and record pass");
            return true;
        }
        *failure = {rules::FailureStep::Check, judgement.cause};
        Say(L"package " + source + L": " + judgement.why + L": " + Coded(*failure));
        return false;
    }

    const CheckRequest& m_request;
    const settings::Offer& m_offer;
    const HANDLE m_folder;
    const std::wstring m_folderPath;
};

// Every address is tried, so a broken mirror shows; the machine installs from the first that
// passes, and fails with the last one's cause when none does.
Exit CheckPackage(const CheckRequest& request, const settings::Offer& offer)
{
    win::Shared<update::WorkFolder> work(new update::WorkFolder);
    const std::wstring folder = work->Make() ? work->CheckedPath() : std::wstring();
    if (folder.empty()) {
        Say(L"verdict: not checked: no work folder could be made under the Windows folder's Temp");
        return Exit::NotWritten;
    }
    PackageTrial trial(request, offer, work->handle(), folder);
    rules::Failure failure;
    std::wstring installs;
    if (!request.package.empty()) {
        if (trial.FromFile(request.package, &failure)) installs = request.package;
    } else {
        std::vector<std::wstring> urls{offer.downloadUrl};
        urls.insert(urls.end(), offer.mirrorUrls.begin(), offer.mirrorUrls.end());
        for (const std::wstring& url : urls)
            if (trial.FromUrl(url, &failure) && installs.empty()) installs = url;
    }
    work->Remove();
    if (installs.empty()) {
        Say(L"verdict: would fail with " + Coded(failure));
        return Exit::WouldFail;
    }
    Say(L"verdict: would install revision " +
        rules::Decimal(static_cast<unsigned>(offer.revision)) + L" from " + installs);
    return Exit::Done;
}

}  // namespace

Exit CheckMain(const std::vector<std::string>& options)
{
    CheckRequest request;
    if (!ReadRequest(options, &request)) return Exit::BadArguments;
    // The trust provider and the revocation check run in an apartment, as on the update's worker.
    win::ComApartment com(win::ComApartment::MultiThreaded);
    std::vector<char> body;
    if (!ReadControl(request.control, &body)) {
        Say(L"verdict: not offered: the control file could not be fetched");
        return Exit::NotOffered;
    }
    rules::SignedControl split;
    const rules::ControlForm form = rules::SplitControlFile(
        reinterpret_cast<const unsigned char*>(body.data()), body.size(), &split);
    Say(L"control: " + rules::Decimal(body.size()) + L" bytes, " +
        rules::DescribeControlForm(form));

    const win::Deadline deadline(app::kNetworkBudgetMs);
    const app::OfferJudgement judged =
        app::JudgeOffer(body, request.drvName, request.installed, deadline, request.bucket);
    if (!judged.offer.downloadUrl.empty()) SayOffer(judged, request.drvName);
    switch (judged.outcome) {
    case app::OfferOutcome::NotOffered:
        Say(L"verdict: not offered: " + judged.why);
        return Exit::NotOffered;
    case app::OfferOutcome::Refused:
        Say(L"verdict: not offered, the offer is refused (" + judged.why + L"): " +
            Coded({rules::FailureStep::Offer, judged.cause}));
        return Exit::NotOffered;
    case app::OfferOutcome::Offered: break;
    }
    Say(L"asked: revision " + rules::Decimal(static_cast<unsigned>(judged.offer.revision)) +
        L" offered over " + rules::Decimal(static_cast<unsigned>(request.installed)) +
        L" installed (rollout " + rules::Decimal(judged.rolloutPercent) + L"%, bucket " +
        rules::Decimal(judged.bucket) + L"); the offer's signature is the maker's and current");
    return CheckPackage(request, judged.offer);
}

}  // namespace pack
