// morvane-pack: makes a package from a folder and prints the control-file section offering it.
//
//   morvane-pack --from DIR --folder NAME --out PACKAGE.exe --section NAME --revision N
//                [--stub morvane-sfx.exe] [--url URL [--rollout PERCENT]]
//                [--sign-cert CERT --sign-key KEY [--timestamp URL]]
//
//   morvane-pack offer --package SIGNED.exe --url URL [--url URL ...] [--rollout PERCENT]
//   morvane-pack sign-control --in FILE --out FILE
//                (--sign-cert CERT --sign-key KEY [--valid-days N] | --signature SIG.der)
//
//   morvane-pack check --control FILE|URL --drvname NAME --installed N
//                [--package FILE] [--bucket N]
//
// Messages go to stderr; the section alone goes to stdout, ready to paste into the control
// file. The exit codes are pack::Exit (pack/pack_exit.h), listed in kUsage.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "pack/pack_exit.h"
#include "pack/packer.h"
#include "pack/publish_check.h"
#include "rules/control_signature.h"
#include "rules/package_record.h"
#include "rules/pe_certificate.h"
#include "rules/pe_headers.h"
#include "rules/wstr.h"

namespace {

namespace fs = std::filesystem;
using pack::Exit;

const char kUsage[] =
    "usage: morvane-pack --from DIR --folder NAME --out PACKAGE.exe --section NAME --revision N\n"
    "                    [--stub EXTRACTOR] [--url URL [--rollout PERCENT]]\n"
    "                    [--sign-cert CERT --sign-key KEY [--timestamp URL]]\n"
    "       morvane-pack offer --package SIGNED.exe --url URL [--url URL ...] [--rollout PERCENT]\n"
    "       morvane-pack sign-control --in FILE --out FILE\n"
    "                    (--sign-cert CERT --sign-key KEY [--valid-days N] | --signature SIG.der)\n"
    "       morvane-pack check --control FILE|URL --drvname NAME --installed N\n"
    "                    [--package FILE] [--bucket N]\n"
    "exit: 0 done (check: a machine would install), 1 bad arguments, 2 cannot read or write,\n"
    "      3 not signed as asked, 4 check: not offered, 5 check: the update would fail,\n"
    "      6 check: needs the Windows build (under Windows or Wine)\n";
const char kStubName[] = "morvane-sfx.exe";

void Say(const std::string& text) { std::fprintf(stderr, "morvane-pack: %s\n", text.c_str()); }

fs::path PathOf(const std::string& utf8) { return fs::u8path(utf8); }

// The extractor's default place: beside this program.
fs::path OwnFolder(const std::string& argv0)
{
#ifdef _WIN32
    // The runtime's copy of the module path (_get_wpgmptr is missing from older msvcrt.dll).
    const wchar_t* self = _wpgmptr;
    if (self && *self) return fs::path(self).parent_path();
#else
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) return self.parent_path();
#endif
    return PathOf(argv0).parent_path();
}

// Shell commands in the platform's own string type, so paths with any characters pass.
using Native = fs::path::string_type;

Native Text(const std::string& utf8) { return fs::u8path(utf8).native(); }

#ifdef _WIN32
Native Quote(const fs::path& value) { return L"\"" + value.native() + L"\""; }
// cmd /c drops the first and last quotation marks of its line, so the whole line gets a pair.
int Run(const Native& command) { return _wsystem((L"\"" + command + L"\"").c_str()); }
const char kQuiet[] = " >NUL 2>&1";
const char kNullDevice[] = "NUL";
#else
Native Quote(const fs::path& value)
{
    std::string quoted = "'";
    for (char c : value.native()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
int Run(const Native& command) { return std::system(command.c_str()); }
const char kQuiet[] = " >/dev/null 2>&1";
const char kNullDevice[] = "/dev/null";
#endif

// True when the signed file holds exactly one certificate-table entry and nothing after it,
// the form Morvane's package check insists on.
bool CheckSignedForm(const fs::path& package)
{
    std::ifstream in(package, std::ios::binary);
    std::string head(rules::kPeHeadBytes, '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    rules::CertificateSpan table, blob;
    if (!rules::FindCertificateTable(reinterpret_cast<const unsigned char*>(head.data()),
                                     head.size(), &table) ||
        table.length == 0 || table.length > rules::kMaxCertificateTableBytes)
        return false;
    std::string bytes(table.length, '\0');
    in.clear();
    in.seekg(table.offset);
    in.read(&bytes[0], table.length);
    if (static_cast<uint32_t>(in.gcount()) != table.length) return false;
    std::error_code error;
    const uint64_t size = fs::file_size(package, error);
    return !error && rules::CheckCertificateTable(
                         table, size, reinterpret_cast<const unsigned char*>(bytes.data()),
                         bytes.size(), &blob);
}

Exit Sign(const fs::path& package, const fs::path& cert, const fs::path& key,
          const std::string& timestamp)
{
    if (Run(Text("osslsigncode --version") + Text(kQuiet)) != 0) {
        Say("osslsigncode was not found; the package is not signed. Sign it on Windows with");
        Say("  signtool sign /fd sha256 /f YOUR.pfx /tr TIMESTAMP-URL /td sha256 " +
            package.filename().u8string());
        return Exit::NotSigned;
    }
    fs::path signedCopy = package;
    signedCopy += ".signed";
    Native command =
        Text("osslsigncode sign -h sha256 -certs ") + Quote(cert) + Text(" -key ") + Quote(key);
    if (!timestamp.empty()) command += Text(" -ts ") + Quote(PathOf(timestamp));
    // Its progress lines go to stderr: stdout carries only the section.
    command += Text(" -in ") + Quote(package) + Text(" -out ") + Quote(signedCopy) + Text(" 1>&2");
    std::error_code error;
    if (Run(command) != 0) {
        fs::remove(signedCopy, error);
        Say("osslsigncode could not sign the package; it is left unsigned");
        return Exit::NotSigned;
    }
    fs::rename(signedCopy, package, error);
    if (error) {
        fs::remove(signedCopy, error);
        Say("cannot replace the package with its signed copy");
        return Exit::NotSigned;
    }
    if (!CheckSignedForm(package)) {
        Say("the signed package does not end in exactly one certificate entry; "
            "Morvane would refuse it");
        return Exit::NotSigned;
    }
    Say("signed " + package.u8string());
    return Exit::Done;
}

using Bytes = std::vector<unsigned char>;

bool ReadAll(const fs::path& path, Bytes* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteAll(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

// The body's text with every character above ASCII dropped and letters lower-cased: enough
// to find a section name in any of the encodings a control file may have.
std::string AsciiLower(const Bytes& body)
{
    std::string text;
    for (unsigned char c : body)
        if (c != 0 && c < 0x80) text += rules::AsciiLowerChar(static_cast<char>(c));
    return text;
}

// A detached signature over `body` by openssl cms, as any publisher can make it by hand.
Exit SignBody(const fs::path& body, const fs::path& cert, const fs::path& key, Bytes* signature)
{
    if (Run(Text("openssl version") + Text(kQuiet)) != 0) {
        Say("openssl was not found; sign the body elsewhere and give --signature, for instance");
        Say("  signtool sign /fd sha256 /p7 . /p7co 1.2.840.113549.1.7.1 /p7ce "
            "DetachedSignedData /f YOUR.pfx BODY");
        return Exit::NotSigned;
    }
    fs::path der = body;
    der += ".p7s";
    const Native command = Text("openssl cms -sign -binary -md sha256 -in ") + Quote(body) +
                           Text(" -signer ") + Quote(cert) + Text(" -inkey ") + Quote(key) +
                           Text(" -outform DER -out ") + Quote(der) + Text(" 1>&2");
    std::error_code error;
    const bool made = Run(command) == 0 && ReadAll(der, signature) && !signature->empty();
    fs::remove(der, error);
    if (!made) Say("openssl could not sign the control file");
    return made ? Exit::Done : Exit::NotSigned;
}

// A signature made elsewhere, held to the body where openssl can check it (its chain is not
// judged here: the root may be one only Windows knows).
bool SignatureCoversBody(const fs::path& body, const fs::path& der)
{
    if (Run(Text("openssl version") + Text(kQuiet)) != 0) return true;
    const Native command = Text("openssl cms -verify -binary -noverify -inform DER -in ") +
                           Quote(der) + Text(" -content ") + Quote(body) + Text(" -out ") +
                           Quote(fs::path(kNullDevice)) + Text(kQuiet);
    return Run(command) == 0;
}

Exit SignControl(const std::map<std::string, std::string>& given)
{
    auto value = [&](const char* name) {
        const auto found = given.find(name);
        return found == given.end() ? std::string() : found->second;
    };
    const bool bySigning = given.count("--sign-cert") && given.count("--sign-key");
    const bool byFile = given.count("--signature") != 0;
    if (value("--in").empty() || value("--out").empty() || bySigning == byFile ||
        given.count("--sign-cert") + given.count("--sign-key") == 1 ||
        (given.count("--valid-days") && !bySigning)) {
        std::fputs(kUsage, stderr);
        return Exit::BadArguments;
    }
    Bytes body;
    if (!ReadAll(PathOf(value("--in")), &body))
        return Say("cannot read " + value("--in")), Exit::NotWritten;
    switch (rules::CheckBodyToSign(body.data(), body.size())) {
    case rules::BodyProblem::None: break;
    case rules::BodyProblem::Empty: return Say("the control file is empty"), Exit::BadArguments;
    case rules::BodyProblem::NoFinalLineBreak:
        return Say("the control file does not end with a line break; add one"), Exit::BadArguments;
    case rules::BodyProblem::HoldsSignatureLine:
        return Say("the control file already holds a [Signature] line; sign the body before it"),
               Exit::BadArguments;
    }
    if (given.count("--valid-days")) {
        const std::string text = value("--valid-days");
        unsigned long long days = 0;
        if (!rules::ParseDecimal(text.data(), text.size(), 9999, &days) || days < 1)
            return Say("--valid-days must be a whole number of days from 1 to 9999"),
                   Exit::BadArguments;
        // A second [Morvane] section would not be read: Expires= goes into the only one.
        if (AsciiLower(body).find("[morvane]") != std::string::npos)
            return Say("the control file has a [Morvane] section; write Expires= there yourself "
                       "or drop --valid-days"),
                   Exit::BadArguments;
        const std::wstring expires =
            rules::FormatUtcTime(static_cast<std::int64_t>(std::time(nullptr)) +
                                 86400ll * static_cast<std::int64_t>(days));
        const Bytes section = rules::EncodeLikeBody(
            body.data(), body.size(),
            "[Morvane]\nExpires=" + std::string(expires.begin(), expires.end()) + "\n");
        body.insert(body.end(), section.begin(), section.end());
        Say("the offer expires at " + std::string(expires.begin(), expires.end()));
    }
    const fs::path out = PathOf(value("--out"));
    fs::path bodyFile = out;
    bodyFile += ".body";
    if (!WriteAll(bodyFile, body))
        return Say("cannot write " + bodyFile.u8string()), Exit::NotWritten;
    Bytes signature;
    Exit result = Exit::Done;
    if (bySigning) {
        result = SignBody(bodyFile, PathOf(value("--sign-cert")), PathOf(value("--sign-key")),
                          &signature);
    } else if (!ReadAll(PathOf(value("--signature")), &signature) || signature.empty() ||
               signature[0] != 0x30) {
        Say("--signature must name a DER signature (PKCS #7 / CMS SignedData, not PEM)");
        result = Exit::BadArguments;
    } else if (!SignatureCoversBody(bodyFile, PathOf(value("--signature")))) {
        Say("the signature does not cover this control file's bytes (signed another file, or "
            "changed since?)");
        result = Exit::BadArguments;
    }
    std::error_code error;
    fs::remove(bodyFile, error);
    if (result != Exit::Done) return result;
    const Bytes section = rules::SignatureSection(body.data(), body.size(), signature);
    body.insert(body.end(), section.begin(), section.end());
    if (!WriteAll(out, body)) return Say("cannot write " + out.u8string()), Exit::NotWritten;
    Say("wrote the signed control file " + out.u8string());
    return Exit::Done;
}

// The URLs an offer may name: DownloadUrl, then DownloadUrl2 up to this many in all.
const size_t kMaxOfferUrls = 5;

std::string Utf8(const std::wstring& text) { return fs::path(text).u8string(); }

// The section that offers a final, signed package, from what the package itself says: its
// record (section, revision, folder and wizard) and its size. Nothing is written by hand.
Exit Offer(const std::string& package, const std::vector<std::string>& urls,
           const std::string& rollout)
{
    const fs::path path = PathOf(package);
    if (!CheckSignedForm(path))
        return Say("the package does not end in exactly one signature; sign it first (Size= "
                   "must be the signed file's)"),
               Exit::BadArguments;
    Bytes image;
    if (!ReadAll(path, &image)) return Say("cannot read " + package), Exit::NotWritten;
    rules::PeSpan span;
    rules::PackageRecord record;
    if (!rules::FindPeResource(image.data(), image.size(), rules::kPeRcData,
                               rules::kPackageRecordId, &span) ||
        span.length > rules::kMaxPackageRecordBytes ||
        !rules::ReadPackageRecord(image.data() + span.offset, static_cast<size_t>(span.length),
                                  &record))
        return Say("the package carries no record of what it is; make it with morvane-pack"),
               Exit::BadArguments;
    const std::string section = Utf8(record.section), folder = Utf8(record.folder);
    const std::string revision = std::to_string(record.revision);
    std::string text, lines;
    for (size_t i = 0; i < urls.size(); ++i) {
        // Each URL is held to the rules of the first.
        const pack::PackProblem refused =
            pack::ControlSection(section, revision, urls[i], folder, &text);
        if (refused != pack::PackProblem::None)
            return Say(pack::Describe({refused})), Exit::BadArguments;
        lines += "DownloadUrl" + (i ? std::to_string(i + 1) : std::string()) + "=" + urls[i] + "\n";
    }
    std::string out = "[" + section + "]\n" + lines + "ExePath=" + folder + "\\" +
                      Utf8(record.wizard) + "\nRevision=" + revision + "\n";
    if (!rollout.empty()) out += "Rollout=" + rollout + "\n";
    out += "Size=" + std::to_string(image.size()) + "\n";
    Say("the offer of [" + section + "] revision " + revision + ", " +
        std::to_string(image.size()) + " bytes; sign the control file after pasting it");
    std::fputs(out.c_str(), stdout);
    return Exit::Done;
}

Exit OfferMain(const std::vector<std::string>& args)
{
    std::string package, rollout;
    std::vector<std::string> urls;
    for (size_t i = 2; i < args.size(); i += 2) {
        const bool repeated = (args[i] == "--package" && !package.empty()) ||
                              (args[i] == "--rollout" && !rollout.empty());
        if (i + 1 >= args.size() || repeated || args[i + 1].empty())
            return std::fputs(kUsage, stderr), Exit::BadArguments;
        if (args[i] == "--package")
            package = args[i + 1];
        else if (args[i] == "--url")
            urls.push_back(args[i + 1]);
        else if (args[i] == "--rollout")
            rollout = args[i + 1];
        else
            return std::fputs(kUsage, stderr), Exit::BadArguments;
    }
    if (package.empty() || urls.empty()) return std::fputs(kUsage, stderr), Exit::BadArguments;
    if (urls.size() > kMaxOfferUrls)
        return Say("at most " + std::to_string(kMaxOfferUrls) + " URLs"), Exit::BadArguments;
    if (!rollout.empty() && !pack::IsRolloutPercent(rollout))
        return Say("--rollout must be a whole number from 0 to 100"), Exit::BadArguments;
    return Offer(package, urls, rollout);
}

// "--name value" pairs from args[first] on, each name one of `known` and given once; false
// (with the usage printed) on anything else.
template <size_t N>
bool ReadOptions(const std::vector<std::string>& args, size_t first, const char* const (&known)[N],
                 std::map<std::string, std::string>* given)
{
    for (size_t i = first; i < args.size(); i += 2) {
        const bool isKnown =
            std::find(std::begin(known), std::end(known), args[i]) != std::end(known);
        if (!isKnown || i + 1 >= args.size() || given->count(args[i])) {
            std::fputs(kUsage, stderr);
            return false;
        }
        (*given)[args[i]] = args[i + 1];
    }
    return true;
}

Exit SignControlMain(const std::vector<std::string>& args)
{
    static const char* const kOptions[] = {"--in",       "--out",        "--sign-cert",
                                           "--sign-key", "--valid-days", "--signature"};
    std::map<std::string, std::string> given;
    if (!ReadOptions(args, 2, kOptions, &given)) return Exit::BadArguments;
    return SignControl(given);
}

Exit Main(const std::vector<std::string>& args)
{
    if (args.size() > 1 && args[1] == "check") {
        const Exit exit = pack::CheckMain(std::vector<std::string>(args.begin() + 2, args.end()));
        if (exit == Exit::BadArguments) std::fputs(kUsage, stderr);
        return exit;
    }
    if (args.size() > 1 && args[1] == "sign-control") return SignControlMain(args);
    if (args.size() > 1 && args[1] == "offer") return OfferMain(args);
    static const char* const kOptions[] = {"--from",     "--folder",    "--out",    "--stub",
                                           "--section",  "--revision",  "--url",    "--sign-cert",
                                           "--sign-key", "--timestamp", "--rollout"};
    std::map<std::string, std::string> given;
    if (!ReadOptions(args, 1, kOptions, &given)) return Exit::BadArguments;
    auto value = [&](const char* name) { return given.count(name) ? given[name] : std::string(); };
    // The section and the revision go into the package itself: Morvane runs a package only
    // when they are the ones the control file offers.
    if (value("--from").empty() || value("--folder").empty() || value("--out").empty() ||
        value("--section").empty() || value("--revision").empty()) {
        std::fputs(kUsage, stderr);
        return Exit::BadArguments;
    }
    const int signParts = given.count("--sign-cert") + given.count("--sign-key");
    if (signParts == 1 || (given.count("--timestamp") && signParts == 0) ||
        (given.count("--rollout") && !given.count("--url"))) {
        Say("--sign-cert and --sign-key go together; --rollout goes with the whole section "
            "(--url)");
        return Exit::BadArguments;
    }
    if (given.count("--rollout") && !pack::IsRolloutPercent(value("--rollout"))) {
        Say("--rollout must be a whole number from 0 to 100");
        return Exit::BadArguments;
    }
    std::string section;
    const std::string folder = value("--folder");
    if (given.count("--url")) {
        const pack::PackProblem refused = pack::ControlSection(
            value("--section"), value("--revision"), value("--url"), folder, &section);
        if (refused != pack::PackProblem::None)
            return Say(pack::Describe({refused})), Exit::BadArguments;
        if (given.count("--rollout")) section += "Rollout=" + value("--rollout") + "\n";
    }

    const fs::path from = PathOf(value("--from")), out = PathOf(value("--out"));
    const fs::path stub =
        given.count("--stub") ? PathOf(value("--stub")) : OwnFolder(args[0]) / kStubName;
    std::vector<pack::SourceEntry> tree;
    if (const pack::PackFault fault = pack::CollectTree(from, &tree))
        return Say(pack::Describe(fault)), Exit::NotWritten;
    pack::PackStats stats;
    const pack::PackageIdentity identity{value("--section"), value("--revision")};
    if (const pack::PackFault fault = pack::WritePackage(stub, tree, folder, identity, out, &stats))
        return Say(pack::Describe(fault)), Exit::NotWritten;
    Say("wrote " + out.u8string() + ": " + std::to_string(stats.files) + " files, " +
        std::to_string(stats.folders) + " folders, " + std::to_string(stats.bytes) +
        " bytes, unpacking into %TEMP%\\" + folder + ", for [" + identity.section + "] revision " +
        identity.revision);
    std::error_code error;
    if (!fs::exists(from / pack::kWizardName, error))
        Say(std::string("the folder has no ") + pack::kWizardName +
            "; Morvane will copy its local one in");

    Exit result = Exit::Done;
    if (signParts == 2)
        result = Sign(out, PathOf(value("--sign-cert")), PathOf(value("--sign-key")),
                      value("--timestamp"));
    if (section.empty()) {
        Say(std::string("ExePath for the control file: ") + folder + "\\" + pack::kWizardName +
            " (give --url for the whole section)");
    } else {
        // Size= only for the bytes that will be published: signing after this run changes them.
        const std::uintmax_t bytes = fs::file_size(out, error);
        if (signParts == 2 && result == Exit::Done && !error)
            section += "Size=" + std::to_string(bytes) + "\n";
        else
            Say("sign the package, then add Size=<the signed file's bytes> to the section");
        std::fputs(section.c_str(), stdout);
    }
    return result;
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16 and go on as UTF-8, so any file name survives.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(fs::path(argv[i]).u8string());
    return pack::ExitCode(Main(args));
}
#else
int main(int argc, char** argv)
{
    return pack::ExitCode(Main(std::vector<std::string>(argv, argv + argc)));
}
#endif
