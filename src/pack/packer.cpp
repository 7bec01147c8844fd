#include "pack/packer.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>

#include "pack/name_case.h"
#include "pack/pe_resource.h"
#include "pack/sha256.h"
#include "rules/package_record.h"
#include "rules/wstr.h"

namespace pack {
namespace {

constexpr size_t kCopyChunk = 1 << 20;
constexpr size_t kMaxIniValue = 259;

std::string Utf8Name(const fs::path& path)
{
    const auto name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}

PackFault CollectFolder(const fs::path& folder, const std::string& prefix,
                        std::vector<SourceEntry>* out)
{
    std::error_code error;
    std::vector<fs::directory_entry> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        children.push_back(*it);
    if (error) return {PackProblem::CannotList, folder.u8string(), "", error};
    std::vector<std::pair<std::string, fs::directory_entry>> named;
    for (const auto& child : children) named.emplace_back(Utf8Name(child.path()), child);
    std::sort(named.begin(), named.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    std::map<std::u16string, std::string> seen;  // Windows' key of each name, and the name
    for (const auto& [name, child] : named) {
        const std::string stored = prefix.empty() ? name : prefix + "/" + name;
        if (!CheckNameLevel(name)) return {PackProblem::NotLiteralName, stored};
        const auto [other, fresh] = seen.emplace(NameKey(name), name);
        if (!fresh) return {PackProblem::OneNameOnWindows, stored, other->second};
        const fs::file_status status = child.symlink_status(error);
        if (error) return {PackProblem::CannotRead, stored, "", error};
        SourceEntry entry;
        entry.name = stored;
        entry.path = child.path();
        if (fs::is_directory(status)) {
            entry.kind = EntryKind::Folder;
            out->push_back(entry);
            if (PackFault fault = CollectFolder(child.path(), stored, out)) return fault;
        } else if (fs::is_regular_file(status)) {
            entry.kind = EntryKind::File;
            entry.size = child.file_size(error);
            if (error) return {PackProblem::CannotRead, stored, "", error};
            out->push_back(entry);
        } else {
            return {PackProblem::SpecialFile, stored};
        }
    }
    return {};
}

bool ReadFile(const fs::path& path, std::string* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void Hash(Sha256* hash, const std::string& bytes)
{
    hash->Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// Copies one source file into the package, hashing as it goes. A fault naming the file when
// it cannot be read or its size is not what the table promised; no fault otherwise.
PackFault StreamFile(const SourceEntry& entry, std::ofstream* out, Sha256* hash,
                     std::vector<char>* buffer)
{
    std::ifstream in(entry.path, std::ios::binary);
    if (!in) return {PackProblem::CannotOpen, entry.name};
    uint64_t left = entry.size;
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer->size()));
        in.read(buffer->data(), static_cast<std::streamsize>(want));
        if (static_cast<size_t>(in.gcount()) != want) return {PackProblem::FileShrank, entry.name};
        hash->Update(reinterpret_cast<const unsigned char*>(buffer->data()), want);
        out->write(buffer->data(), static_cast<std::streamsize>(want));
        left -= want;
    }
    if (in.peek() != std::ifstream::traits_type::eof()) return {PackProblem::FileGrew, entry.name};
    return {};
}

PackFault WritePieces(const std::string& stubBytes, const std::vector<SourceEntry>& tree,
                      const std::string& folder, const std::string& record, const fs::path& part,
                      PackStats* stats)
{
    std::string table;
    uint64_t dataBytes = 0;
    PackStats counted;
    for (const SourceEntry& entry : tree) {
        if (entry.name.size() > 0xFFFF) return {PackProblem::NameTooLong, entry.name};
        AppendEntry(&table, entry.kind, entry.name, entry.size);
        dataBytes += entry.size;
        if (entry.kind == EntryKind::File)
            ++counted.files, counted.bytes += entry.size;
        else
            ++counted.folders;
    }
    if (tree.size() > 0xFFFFFFFFu || table.size() > 0xFFFFFFFFu)
        return {PackProblem::TooManyEntries};
    const unsigned char noDigest[Sha256::kDigestSize] = {};
    std::string header = EncodeHeader(folder, static_cast<uint32_t>(tree.size()),
                                      static_cast<uint32_t>(table.size()), dataBytes, noDigest);
    const uint64_t payloadBytes = header.size() + folder.size() + table.size() + dataBytes;

    ResourcePlan plan;
    const PackProblem planned =
        PlanResourceSection(reinterpret_cast<const unsigned char*>(stubBytes.data()),
                            stubBytes.size(), PackageManifest(), record, payloadBytes, &plan);
    if (planned != PackProblem::None) return {planned};

    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) return {PackProblem::CannotWrite, part.u8string()};
    out << plan.head << plan.directory;
    const uint64_t payloadAt = plan.head.size() + plan.directory.size();
    out << header << folder << table;
    Sha256 hash;
    hash.Update(reinterpret_cast<const unsigned char*>(header.data()) + kHashedFrom,
                header.size() - kHashedFrom);
    Hash(&hash, folder);
    Hash(&hash, table);
    std::vector<char> buffer(kCopyChunk);
    for (const SourceEntry& entry : tree)
        if (entry.kind == EntryKind::File)
            if (PackFault fault = StreamFile(entry, &out, &hash, &buffer)) return fault;
    out << std::string(plan.tailPadding, '\0');
    unsigned char digest[Sha256::kDigestSize];
    hash.Finish(digest);
    out.seekp(static_cast<std::streamoff>(payloadAt + kHashOffset));
    out.write(reinterpret_cast<const char*>(digest), sizeof(digest));
    out.close();
    if (!out) return {PackProblem::CannotWrite, part.u8string()};
    *stats = counted;
    return {};
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return rules::AsciiLowerChar(x) == rules::AsciiLowerChar(y);
           });
}

// The reader's rule: a record or a section with another form would be refused by Morvane.
bool IsRevision(const std::string& text)
{
    unsigned long long revision = 0;
    return rules::ParseRevision(text.data(), text.size(), &revision);
}

}  // namespace

PackFault CollectTree(const fs::path& from, std::vector<SourceEntry>* out)
{
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(from, error)))
        return {PackProblem::NotAFolder, from.u8string()};
    out->clear();
    return CollectFolder(from, "", out);
}

PackFault WritePackage(const fs::path& stub, const std::vector<SourceEntry>& tree,
                       const std::string& folder, const PackageIdentity& identity,
                       const fs::path& out, PackStats* stats)
{
    if (!CheckNameLevel(folder) || folder.size() > kMaxFolderBytes)
        return {PackProblem::NotLiteralFolderName, folder};
    const std::string record =
        rules::EncodePackageRecord(identity.section, identity.revision, folder, kWizardName);
    if (record.empty()) return {PackProblem::BadIdentity};
    std::string stubBytes;
    if (!ReadFile(stub, &stubBytes)) return {PackProblem::CannotReadStub, stub.u8string()};
    fs::path part = out;
    part += ".part";
    std::error_code error;
    if (PackFault fault = WritePieces(stubBytes, tree, folder, record, part, stats)) {
        fs::remove(part, error);
        return fault;
    }
    fs::rename(part, out, error);
    if (error) {
        fs::remove(part, error);
        return {PackProblem::CannotRename, out.u8string()};
    }
    return {};
}

PackProblem ControlSection(const std::string& section, const std::string& revision,
                           const std::string& url, const std::string& folder, std::string* text)
{
    if (section.empty() || section.size() > kMaxIniValue ||
        section.find_first_of("[]\r\n") != std::string::npos)
        return PackProblem::BadSection;
    if (!IsRevision(revision)) return PackProblem::BadRevision;
    const bool web = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
    if (!web || url.size() > kMaxIniValue || std::any_of(url.begin(), url.end(), [](char c) {
            return static_cast<unsigned char>(c) <= ' ' || c == '\\';
        }))
        return PackProblem::BadUrl;
    // Morvane saves the download in the temporary folder under the URL's last part, beside
    // the folder the package unpacks.
    const std::string last = url.substr(url.rfind('/') + 1);
    if (last.empty() || url.find("://") + 2 == url.rfind('/'))
        return PackProblem::UrlWithoutFileName;
    if (EqualsNoCase(last, folder)) return PackProblem::PackageNamedLikeFolder;
    *text = "[" + section + "]\n" + "DownloadUrl=" + url + "\n" + "ExePath=" + folder + "\\" +
            kWizardName + "\n" + "Revision=" + revision + "\n";
    return PackProblem::None;
}

bool IsRolloutPercent(const std::string& text)
{
    unsigned long long percent = 0;
    return rules::ParseRolloutPercent(text.data(), text.size(), &percent);
}

const std::string& PackageManifest()
{
    static const std::string manifest =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
        "    <security>\r\n"
        "      <requestedPrivileges>\r\n"
        "        <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\r\n"
        "      </requestedPrivileges>\r\n"
        "    </security>\r\n"
        "  </trustInfo>\r\n"
        "</assembly>\r\n";
    return manifest;
}

}  // namespace pack
