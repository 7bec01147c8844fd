// The stand-ins a system before Vista runs in place of kernel32's calls, held to kernel32's own
// answers on the same files, strings and processes.
#include "win/stand_ins.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "win/handles.h"
#include "win/syslib.h"

using namespace testing_support;

namespace {

win::File Open(const std::wstring& path, DWORD access, DWORD flags = FILE_ATTRIBUTE_NORMAL)
{
    return win::File(::CreateFileW(path.c_str(), access,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, flags, nullptr));
}

TEST(StandIn, CompareStringOrdinalAnswersAsTheSystem)
{
    struct Case {
        const wchar_t* a;
        int countA;
        const wchar_t* b;
        int countB;
        BOOL ignoreCase;
    };
    const Case cases[] = {
        {L"C:\\Program Files\\KV", -1, L"c:\\program files\\kv", -1, TRUE},
        {L"C:\\Program Files\\KV", -1, L"c:\\program files\\kv", -1, FALSE},
        {L"abc", -1, L"abd", -1, TRUE},
        {L"abd", -1, L"abc", -1, TRUE},
        {L"ab", -1, L"abc", -1, TRUE},
        {L"abc", 2, L"ab", -1, FALSE},
        {L"abc", 2, L"abx", 2, FALSE},
        {L"", -1, L"", 0, TRUE},
        // Beyond ASCII: the simple table maps these, as the system does.
        {L"\u00e9t\u00e9", -1, L"\u00c9T\u00c9", -1, TRUE},
        {L"\u0434\u043e\u043c", -1, L"\u0414\u041e\u041c", -1, TRUE},
        // Ordinal: the case-mapped code units are compared, not a language's order.
        {L"_", -1, L"a", -1, TRUE},
        {L"Z", -1, L"a", -1, FALSE},
        {L"\u00df", -1, L"SS", -1, TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(win::stand_in::CompareStringOrdinal(c.a, c.countA, c.b, c.countB, c.ignoreCase),
                  ::CompareStringOrdinal(c.a, c.countA, c.b, c.countB, c.ignoreCase));
    }
    ::SetLastError(0);
    EXPECT_EQ(win::stand_in::CompareStringOrdinal(nullptr, -1, L"a", -1, TRUE), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(StandIn, GetFileInformationByHandleExReadsWhatTheSystemReads)
{
    ScratchDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"a file.txt", "twelve bytes"));
    ASSERT_TRUE(::SetFileAttributesW((dir / L"a file.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    win::File file = Open(dir / L"a file.txt", GENERIC_READ);
    ASSERT_TRUE(file);

    FILE_BASIC_INFO basic{}, basicSystem{};
    ASSERT_TRUE(win::stand_in::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic,
                                                            sizeof basic));
    ASSERT_TRUE(::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basicSystem,
                                               sizeof basicSystem));
    EXPECT_EQ(basic.FileAttributes, basicSystem.FileAttributes);
    EXPECT_TRUE(basic.FileAttributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(basic.LastWriteTime.QuadPart, basicSystem.LastWriteTime.QuadPart);

    FILE_STANDARD_INFO standard{};
    ASSERT_TRUE(win::stand_in::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard,
                                                            sizeof standard));
    EXPECT_EQ(standard.EndOfFile.QuadPart, 12);
    EXPECT_EQ(standard.NumberOfLinks, 1u);
    EXPECT_FALSE(standard.Directory);

    FILE_ATTRIBUTE_TAG_INFO tag{}, tagSystem{};
    ASSERT_TRUE(win::stand_in::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag,
                                                            sizeof tag));
    ASSERT_TRUE(::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tagSystem,
                                               sizeof tagSystem));
    EXPECT_EQ(tag.FileAttributes, tagSystem.FileAttributes);
    EXPECT_EQ(tag.ReparseTag, tagSystem.ReparseTag);

    // The name below the volume, and a buffer too short for it: ERROR_MORE_DATA with the
    // length filled in, which win::PathBelowVolume grows its buffer by.
    std::vector<DWORD> buffer(1024), bufferSystem(1024);
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    auto* nameSystem = reinterpret_cast<FILE_NAME_INFO*>(bufferSystem.data());
    ASSERT_TRUE(win::stand_in::GetFileInformationByHandleEx(file.get(), FileNameInfo, name, 4096));
    ASSERT_TRUE(::GetFileInformationByHandleEx(file.get(), FileNameInfo, nameSystem, 4096));
    EXPECT_EQ(std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t)),
              std::wstring(nameSystem->FileName, nameSystem->FileNameLength / sizeof(wchar_t)));
    EXPECT_FALSE(win::stand_in::GetFileInformationByHandleEx(file.get(), FileNameInfo, name,
                                                             sizeof(FILE_NAME_INFO)));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(name->FileNameLength, nameSystem->FileNameLength);

    // A class it does not carry fails as on a system that does not know it.
    FILE_COMPRESSION_INFO compression{};
    EXPECT_FALSE(win::stand_in::GetFileInformationByHandleEx(file.get(), FileCompressionInfo,
                                                             &compression, sizeof compression));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ::SetFileAttributesW((dir / L"a file.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The names a folder's listing gives, read with `query` from the start until it says no more.
template <class Query>
std::vector<std::wstring> ListNames(HANDLE folder, Query query, DWORD* lastError)
{
    std::vector<std::wstring> names;
    std::vector<DWORD> buffer(16384);
    FILE_INFO_BY_HANDLE_CLASS infoClass = FileIdBothDirectoryRestartInfo;
    while (query(folder, infoClass, buffer.data(), static_cast<DWORD>(buffer.size() * 4))) {
        infoClass = FileIdBothDirectoryInfo;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            names.emplace_back(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (!entry->NextEntryOffset) break;
            bytes += entry->NextEntryOffset;
        }
    }
    *lastError = ::GetLastError();
    return names;
}

TEST(StandIn, DirectoryListingIsTheSystemsFromTheStartToItsEnd)
{
    ScratchDir dir;
    ASSERT_TRUE(::CreateDirectoryW((dir / L"sub").c_str(), nullptr));
    for (const wchar_t* name : {L"one.txt", L"two words.txt", L"\u00e9t\u00e9.ini"})
        ASSERT_TRUE(WriteBytes(dir / name, "x"));
    win::File folder = Open(dir.path(), FILE_LIST_DIRECTORY, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_TRUE(folder);
    DWORD error = 0, errorSystem = 0;
    const std::vector<std::wstring> names =
        ListNames(folder.get(), &win::stand_in::GetFileInformationByHandleEx, &error);
    const std::vector<std::wstring> namesSystem =
        ListNames(folder.get(), &::GetFileInformationByHandleEx, &errorSystem);
    EXPECT_EQ(names, namesSystem);
    EXPECT_EQ(names.size(), 6u);  // ".", ".." and the four made here
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(error, errorSystem);
}

TEST(StandIn, SetFileInformationByHandleChangesTheFileAsTheSystemDoes)
{
    ScratchDir dir;
    for (const wchar_t* name : {L"gone.txt", L"kept.txt", L"kept by the system.txt"})
        ASSERT_TRUE(WriteBytes(dir / name, "x"));
    {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
        win::File kept = Open(dir / L"kept.txt", FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES);
        win::File keptBySystem =
            Open(dir / L"kept by the system.txt", FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES);
        ASSERT_TRUE(kept && keptBySystem);
        EXPECT_TRUE(win::stand_in::SetFileInformationByHandle(kept.get(), FileBasicInfo, &basic,
                                                              sizeof basic));
        EXPECT_TRUE(
            ::SetFileInformationByHandle(keptBySystem.get(), FileBasicInfo, &basic, sizeof basic));
        win::File gone = Open(dir / L"gone.txt", DELETE);
        ASSERT_TRUE(gone);
        FILE_DISPOSITION_INFO disposition{TRUE};
        EXPECT_TRUE(win::stand_in::SetFileInformationByHandle(gone.get(), FileDispositionInfo,
                                                              &disposition, sizeof disposition));
        FILE_ATTRIBUTE_TAG_INFO tag{};
        EXPECT_FALSE(win::stand_in::SetFileInformationByHandle(kept.get(), FileAttributeTagInfo,
                                                               &tag, sizeof tag));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    const DWORD attributes = ::GetFileAttributesW((dir / L"kept.txt").c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(attributes, ::GetFileAttributesW((dir / L"kept by the system.txt").c_str()));
    EXPECT_FALSE(Exists(dir / L"gone.txt"));
    // A refused change is the system's refusal: a handle without the access it needs.
    win::File readOnly = Open(dir / L"kept.txt", GENERIC_READ);
    ASSERT_TRUE(readOnly);
    FILE_DISPOSITION_INFO disposition{TRUE};
    EXPECT_FALSE(win::stand_in::SetFileInformationByHandle(readOnly.get(), FileDispositionInfo,
                                                           &disposition, sizeof disposition));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(StandIn, QueryFullProcessImageNameWNamesTheImageAsTheSystemDoes)
{
    for (DWORD flags : {DWORD{0}, DWORD{PROCESS_NAME_NATIVE}}) {
        SCOPED_TRACE(flags);
        std::vector<wchar_t> name(MAX_PATH * 4), nameSystem(MAX_PATH * 4);
        DWORD size = static_cast<DWORD>(name.size()), sizeSystem = size;
        ASSERT_TRUE(win::stand_in::QueryFullProcessImageNameW(::GetCurrentProcess(), flags,
                                                              name.data(), &size));
        ASSERT_TRUE(::QueryFullProcessImageNameW(::GetCurrentProcess(), flags, nameSystem.data(),
                                                 &sizeSystem));
        EXPECT_EQ(std::wstring(name.data(), size), std::wstring(nameSystem.data(), sizeSystem));
        EXPECT_EQ(name[size], L'\0');
        // One character short of the name and its terminating null.
        DWORD shortSize = size;
        EXPECT_FALSE(win::stand_in::QueryFullProcessImageNameW(::GetCurrentProcess(), flags,
                                                               name.data(), &shortSize));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
}

TEST(StandIn, TheTableHoldsEveryCallTheCallersNeed)
{
    // Where kernel32 has the call (Wine, Vista and later) the entry is kernel32's own; the
    // stand-ins are for systems without it.
    const win::Kernel32Calls& k = win::Kernel32();
    ASSERT_TRUE(win::Present(k.SetFileInformationByHandle, k.GetFileInformationByHandleEx,
                             k.QueryFullProcessImageNameW, k.CompareStringOrdinal));
    EXPECT_NE(k.GetFileInformationByHandleEx, &win::stand_in::GetFileInformationByHandleEx);
    EXPECT_NE(k.CompareStringOrdinal, &win::stand_in::CompareStringOrdinal);
}

}  // namespace
