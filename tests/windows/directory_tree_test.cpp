#include "sys/directory_tree.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "test_support.h"
#include "win/syslib.h"

using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::RunningOnWine;
using testing_support::ScratchDir;
using testing_support::StartUnix;
using testing_support::UnixName;
using testing_support::WriteBytes;

namespace {

bool MakeDir(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FILETIME WriteTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// src: a.txt, hidden.txt (hidden), ro.txt (read-only), sub\b.txt, sub\deeper\c.txt, empty\ .
void MakeSourceTree(const std::wstring& src)
{
    ASSERT_TRUE(MakeDir(src));
    ASSERT_TRUE(WriteBytes(src + L"\\a.txt", "source a"));
    ASSERT_TRUE(WriteBytes(src + L"\\hidden.txt", "hidden"));
    ::SetFileAttributesW((src + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(WriteBytes(src + L"\\ro.txt", "read-only"));
    ::SetFileAttributesW((src + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(MakeDir(src + L"\\sub"));
    ASSERT_TRUE(WriteBytes(src + L"\\sub\\b.txt", "source b"));
    ASSERT_TRUE(MakeDir(src + L"\\sub\\deeper"));
    ASSERT_TRUE(WriteBytes(src + L"\\sub\\deeper\\c.txt", "source c"));
    ASSERT_TRUE(MakeDir(src + L"\\empty"));
}

TEST(EnsureDirectory, ChecksTheSourceFirstAndCreatesOneLevel)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", missing = dir / L"missing";
    ASSERT_TRUE(MakeDir(src));
    ASSERT_TRUE(MakeDir(dir / L"existing"));
    ASSERT_TRUE(WriteBytes(dir / L"file", "x"));

    EXPECT_EQ(sys::EnsureDirectory(dir / L"existing", missing), 0);  // source test first
    EXPECT_EQ(sys::EnsureDirectory(dir / L"new", missing), 0);
    EXPECT_FALSE(Exists(dir / L"new"));
    EXPECT_EQ(sys::EnsureDirectory(dir / L"existing", src), 1);
    EXPECT_EQ(sys::EnsureDirectory(dir / L"new", src), 1);
    EXPECT_TRUE(IsFolder(dir / L"new"));
    EXPECT_EQ(sys::EnsureDirectory(dir / L"two\\levels", src), 0);
    EXPECT_FALSE(Exists(dir / L"two"));
    EXPECT_EQ(sys::EnsureDirectory(dir / L"file", src), 0);           // a file is in the way
    EXPECT_EQ(sys::EnsureDirectory(dir / L"new", dir / L"file"), 0);  // source is no folder
}

TEST(CopyDirectoryTree, CopiesAWholeTreeIntoAnEmptyFolder)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", dst = dir / L"dst";
    MakeSourceTree(src);
    ASSERT_TRUE(MakeDir(dst));
    ASSERT_EQ(sys::CopyDirectoryTree(dst, src), 1);
    EXPECT_EQ(ReadBytes(dst + L"\\a.txt"), "source a");
    EXPECT_EQ(ReadBytes(dst + L"\\hidden.txt"), "hidden");
    EXPECT_EQ(ReadBytes(dst + L"\\ro.txt"), "read-only");
    EXPECT_TRUE(::GetFileAttributesW((dst + L"\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ReadBytes(dst + L"\\sub\\deeper\\c.txt"), "source c");
    EXPECT_TRUE(IsFolder(dst + L"\\empty"));
    // Copying again changes nothing and still succeeds, read-only files included.
    EXPECT_EQ(sys::CopyDirectoryTree(dst, src), 1);
}

TEST(CopyDirectoryTree, CompletesAndNeverOverwrites)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", dst = dir / L"dst";
    MakeSourceTree(src);
    ASSERT_TRUE(MakeDir(dst));
    ASSERT_TRUE(MakeDir(dst + L"\\sub"));
    ASSERT_TRUE(WriteBytes(dst + L"\\sub\\b.txt", "kept b"));
    ASSERT_TRUE(MakeDir(dst + L"\\a.txt"));  // a folder where the source has a file
    const FILETIME before = WriteTime(dst + L"\\sub\\b.txt");

    EXPECT_EQ(sys::CopyDirectoryTree(dst, src), 1);
    EXPECT_EQ(ReadBytes(dst + L"\\sub\\b.txt"), "kept b");
    const FILETIME after = WriteTime(dst + L"\\sub\\b.txt");
    EXPECT_EQ(::CompareFileTime(&before, &after), 0);
    EXPECT_TRUE(IsFolder(dst + L"\\a.txt"));
    EXPECT_EQ(ReadBytes(dst + L"\\sub\\deeper\\c.txt"), "source c");
    EXPECT_EQ(ReadBytes(dst + L"\\ro.txt"), "read-only");
}

TEST(CopyDirectoryTree, FailsWhereAFolderCannotBeMadeOrListed)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", dst = dir / L"dst";
    MakeSourceTree(src);
    ASSERT_TRUE(MakeDir(dst));
    ASSERT_TRUE(WriteBytes(dst + L"\\sub", "a file where the source has a folder"));
    EXPECT_EQ(sys::CopyDirectoryTree(dst, src), 0);
    EXPECT_EQ(ReadBytes(dst + L"\\sub"), "a file where the source has a folder");

    // No destination: the files would go nowhere, which is no success.
    EXPECT_EQ(sys::CopyDirectoryTree(dir / L"no-dst", src), 0);
    EXPECT_FALSE(Exists(dir / L"no-dst"));

    // A source folder too deep to list would silently be left out: refused.
    const std::wstring deepSrc = dir / L"deep";
    ASSERT_TRUE(MakeDir(deepSrc));
    std::wstring longFolder = deepSrc + L"\\";
    longFolder += std::wstring(256 - longFolder.size(), L'd');
    ASSERT_TRUE(MakeDir(longFolder)) << longFolder.size();
    ASSERT_TRUE(WriteBytes(L"\\\\?\\" + longFolder + L"\\f.txt", "deep"));
    const std::wstring deepDst = dir / L"deepdst";
    ASSERT_TRUE(MakeDir(deepDst));
    EXPECT_EQ(sys::CopyDirectoryTree(deepDst, deepSrc), 0);
}

TEST(CopyDirectoryTree, HasNothingToDoWithoutASource)
{
    ScratchDir dir;
    ASSERT_TRUE(MakeDir(dir / L"dst"));
    ASSERT_TRUE(MakeDir(dir / L"emptysrc"));
    EXPECT_EQ(sys::CopyDirectoryTree(dir / L"dst", dir / L"missing"), 1);
    EXPECT_EQ(sys::CopyDirectoryTree(dir / L"dst", dir / L"emptysrc"), 1);
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((dir / L"dst\\*.*").c_str(), &entry);
    int entries = 0;
    do {
        ++entries;
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    EXPECT_EQ(entries, 2);  // "." and ".." only
}

TEST(CopyFileIfMissing, CopiesOneFileOnlyWhereItsNameIsFree)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", dst = dir / L"dst";
    MakeSourceTree(src);
    ASSERT_TRUE(MakeDir(dst));

    ASSERT_TRUE(sys::CopyFileIfMissing(dst, src, L"ro.txt"));
    EXPECT_EQ(ReadBytes(dst + L"\\ro.txt"), "read-only");
    EXPECT_TRUE(::GetFileAttributesW((dst + L"\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    const FILETIME source = WriteTime(src + L"\\ro.txt"), copy = WriteTime(dst + L"\\ro.txt");
    EXPECT_EQ(::CompareFileTime(&source, &copy), 0);

    // What holds the name already stays as it is, file or folder, and counts as there.
    ASSERT_TRUE(WriteBytes(dst + L"\\a.txt", "kept a"));
    EXPECT_TRUE(sys::CopyFileIfMissing(dst, src, L"a.txt"));
    EXPECT_EQ(ReadBytes(dst + L"\\a.txt"), "kept a");
    ASSERT_TRUE(MakeDir(dst + L"\\hidden.txt"));
    EXPECT_TRUE(sys::CopyFileIfMissing(dst, src, L"hidden.txt"));
    EXPECT_TRUE(IsFolder(dst + L"\\hidden.txt"));

    // No source file, a folder by that name, a missing destination, or a name that is a path.
    EXPECT_FALSE(sys::CopyFileIfMissing(dst, src, L"none.txt"));
    EXPECT_FALSE(sys::CopyFileIfMissing(dst, src, L"sub"));
    EXPECT_FALSE(sys::CopyFileIfMissing(dir / L"missing", src, L"a.txt"));
    for (const wchar_t* name : {L"", L".", L"..", L"sub\\b.txt", L"..\\a.txt", L"a.txt:s"})
        EXPECT_FALSE(sys::CopyFileIfMissing(dst, src, name)) << name;
    EXPECT_FALSE(Exists(dst + L"\\none.txt"));
    EXPECT_FALSE(Exists(dst + L"\\sub"));
    EXPECT_FALSE(Exists(dst + L"\\b.txt"));
}

TEST(DeleteDirectoryTree, RemovesTreesAndStopsAtReadOnlyFiles)
{
    ScratchDir dir;
    MakeSourceTree(dir / L"full");
    EXPECT_EQ(sys::DeleteDirectoryTree(dir / L"full"), 0);  // ro.txt stops it
    EXPECT_TRUE(Exists(dir / L"full\\ro.txt"));
    EXPECT_TRUE(Exists(dir / L"full"));

    ::SetFileAttributesW((dir / L"full\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(sys::DeleteDirectoryTree(dir / L"full"), 1);  // hidden files go too
    EXPECT_FALSE(Exists(dir / L"full"));

    ASSERT_TRUE(MakeDir(dir / L"empty"));
    EXPECT_EQ(sys::DeleteDirectoryTree(dir / L"empty"), 1);
    EXPECT_FALSE(Exists(dir / L"empty"));
    EXPECT_EQ(sys::DeleteDirectoryTree(dir / L"missing"), 0);

    // A read-only file deep down: entries reached before it stay deleted, it and its
    // folders stay.
    ASSERT_TRUE(MakeDir(dir / L"t"));
    ASSERT_TRUE(MakeDir(dir / L"t\\inner"));
    ASSERT_TRUE(WriteBytes(dir / L"t\\inner\\ro.txt", "ro"));
    ::SetFileAttributesW((dir / L"t\\inner\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(sys::DeleteDirectoryTree(dir / L"t"), 0);
    EXPECT_TRUE(Exists(dir / L"t\\inner\\ro.txt"));
    EXPECT_TRUE(::GetFileAttributesW((dir / L"t\\inner\\ro.txt").c_str()) &
                FILE_ATTRIBUTE_READONLY);  // attributes are never changed
}

TEST(TreePaths, RefuseWhatIsNoAbsoluteFolderAndTouchNothing)
{
    ScratchDir dir;
    const std::wstring src = dir / L"src", dst = dir / L"dst", cwd = dir / L"cwd";
    MakeSourceTree(src);
    ASSERT_TRUE(MakeDir(dst));
    ASSERT_TRUE(MakeDir(cwd));
    ASSERT_TRUE(MakeDir(cwd + L"\\rel"));
    ASSERT_TRUE(WriteBytes(cwd + L"\\rel\\keep.txt", "keep"));
    wchar_t previous[MAX_PATH];
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    // Every relative form below would name something inside `cwd`.
    ASSERT_TRUE(::SetCurrentDirectoryW(cwd.c_str()));
    const std::wstring drive = cwd.substr(0, 2);  // "C:"
    const std::wstring refused[] = {
        L"",
        L"rel",
        L"new",
        drive,
        drive + L"rel",
        drive + L"new",
        cwd.substr(2) + L"\\rel",
        drive + L"\\",
        cwd + L"\\rel\\",
        cwd + L"\\rel\\..\\new",
        cwd + L"/rel",
        L"\\\\?\\" + cwd,
    };
    for (const std::wstring& path : refused) {
        EXPECT_EQ(sys::EnsureDirectory(path, src), 0) << path;
        // A drive's root may be the folder that must exist (TreeAtDriveRoot), nothing else.
        if (path != drive + L"\\") {
            EXPECT_EQ(sys::EnsureDirectory(dst + L"\\made", path), 0) << path;
        }
        EXPECT_EQ(sys::CopyDirectoryTree(path, src), 0) << path;
        EXPECT_EQ(sys::CopyDirectoryTree(dst, path), 0) << path;
        EXPECT_EQ(sys::DeleteDirectoryTree(path), 0) << path;
    }
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(ReadBytes(cwd + L"\\rel\\keep.txt"), "keep");
    EXPECT_FALSE(Exists(cwd + L"\\new"));
    EXPECT_FALSE(Exists(cwd + L"\\rel\\a.txt"));
    EXPECT_FALSE(Exists(dst + L"\\made"));
    EXPECT_FALSE(Exists(dst + L"\\a.txt"));
    EXPECT_EQ(ReadBytes(src + L"\\a.txt"), "source a");
}

bool WaitFor(const std::wstring& path, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; ++waited) {
        if (Exists(path)) return true;
        ::Sleep(1);
    }
    return Exists(path);
}

// Makes a link to a folder or file: CreateSymbolicLinkW where it really makes one, else
// (under Wine, whose CreateSymbolicLinkW only reports success) a Unix symlink made by
// /bin/ln, which Wine lists as a directory reparse point for a folder and as a plain file for
// a file. False when neither works.
bool MakeLink(const std::wstring& link, const std::wstring& target, bool folder)
{
    const auto createLink = win::Kernel32().CreateSymbolicLinkW;
    const DWORD unprivileged = 0x2;
    if (createLink) createLink(link.c_str(), target.c_str(), (folder ? 0x1 : 0) | unprivileged);
    if ((::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) && Exists(link))
        return true;
    const std::string unixTarget = UnixName(target), unixLink = UnixName(link);
    if (unixTarget.empty() || unixLink.empty()) return false;
    return StartUnix("/bin/ln -sT \"" + unixTarget + "\" \"" + unixLink + "\"") &&
           WaitFor(link, 30000);
}

// A Wine drive letter is a symbolic link in the prefix's dosdevices folder: the test maps a
// free letter to a scratch folder, so that folder is the root of a real drive, as installation
// media are when Morvane and the wizard sit at E:\. Windows would need DefineDosDeviceW.
class TreeAtDriveRoot : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeDir(m_media));
        wchar_t prefix[MAX_PATH];
        const DWORD length = ::GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
        if (!RunningOnWine() || length == 0 || length >= MAX_PATH)
            GTEST_SKIP() << "needs a Wine prefix to map a drive letter in";
        const std::string unixMedia = UnixName(m_media);
        ASSERT_FALSE(unixMedia.empty());
        for (wchar_t letter = L'M'; letter < L'Y' && m_root.empty(); ++letter) {
            const std::wstring root = std::wstring(1, letter) + L":\\";
            if (::GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES) m_root = root;
        }
        ASSERT_FALSE(m_root.empty()) << "no free drive letter";
        m_link = std::string(prefix, prefix + length) + "/dosdevices/" +
                 static_cast<char>(m_root[0] - L'A' + 'a') + ":";
        ASSERT_TRUE(StartUnix("/bin/ln -sT \"" + unixMedia + "\" \"" + m_link + "\""));
        ASSERT_TRUE(WaitForRoot(true)) << m_link;
    }
    void TearDown() override
    {
        if (m_link.empty()) return;
        StartUnix("/bin/rm -f \"" + m_link + "\"");
        WaitForRoot(false);
    }
    bool WaitForRoot(bool present) const
    {
        for (int waited = 0; waited < 30000; ++waited) {
            if ((::GetFileAttributesW(m_root.c_str()) != INVALID_FILE_ATTRIBUTES) == present)
                return true;
            ::Sleep(1);
        }
        return false;
    }
    ScratchDir m_dir;
    const std::wstring m_media = m_dir / L"media";
    std::wstring m_root;  // "M:\\", the mapped drive's root
    std::string m_link;   // its link in the prefix
};

TEST_F(TreeAtDriveRoot, ReadsFromARootButNeverWritesToOne)
{
    ASSERT_TRUE(WriteBytes(m_media + L"\\KVWizard.exe", "local wizard"));
    ASSERT_TRUE(MakeDir(m_media + L"\\res"));
    ASSERT_TRUE(WriteBytes(m_media + L"\\res\\kavro.ini", "[STARTUP]"));
    ASSERT_EQ(ReadBytes(m_root + L"KVWizard.exe"), "local wizard");  // the drive is mapped
    const std::wstring extracted = m_dir / L"KVNew";

    // Staging with the program's folder at the root: what it reads from there.
    EXPECT_EQ(sys::EnsureDirectory(extracted, m_root), 1);
    EXPECT_TRUE(IsFolder(extracted));
    EXPECT_TRUE(sys::CopyFileIfMissing(extracted, m_root, L"KVWizard.exe"));
    EXPECT_EQ(ReadBytes(extracted + L"\\KVWizard.exe"), "local wizard");
    EXPECT_EQ(sys::EnsureDirectory(extracted + L"\\res", m_root + L"res"), 1);
    EXPECT_EQ(sys::CopyDirectoryTree(extracted + L"\\res", m_root + L"res"), 1);
    EXPECT_EQ(ReadBytes(extracted + L"\\res\\kavro.ini"), "[STARTUP]");
    EXPECT_FALSE(sys::CopyFileIfMissing(extracted, m_root, L"Missing.exe"));
    EXPECT_EQ(sys::EnsureDirectory(m_dir / L"other", m_root.substr(0, 2)), 0);  // "M:" alone

    // A root is never written into, copied whole or deleted.
    ASSERT_TRUE(WriteBytes(extracted + L"\\other.txt", "other"));
    EXPECT_EQ(sys::EnsureDirectory(m_root, extracted), 0);
    EXPECT_FALSE(sys::CopyFileIfMissing(m_root, extracted, L"other.txt"));
    EXPECT_EQ(sys::CopyDirectoryTree(m_root, extracted), 0);
    EXPECT_EQ(sys::CopyDirectoryTree(m_dir / L"whole", m_root), 0);
    EXPECT_EQ(sys::DeleteDirectoryTree(m_root), 0);
    EXPECT_FALSE(Exists(m_media + L"\\other.txt"));
    EXPECT_FALSE(Exists(m_dir / L"whole"));
    EXPECT_EQ(ReadBytes(m_media + L"\\KVWizard.exe"), "local wizard");
    EXPECT_EQ(ReadBytes(m_media + L"\\res\\kavro.ini"), "[STARTUP]");
}

class TreeLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeDir(m_dir / L"outside"));
        ASSERT_TRUE(WriteBytes(m_dir / L"outside\\precious.txt", "keep me"));
        ASSERT_TRUE(MakeDir(m_dir / L"src"));
        ASSERT_TRUE(MakeDir(m_dir / L"src\\sub"));
        ASSERT_TRUE(WriteBytes(m_dir / L"src\\sub\\new.txt", "new"));
        ASSERT_TRUE(MakeDir(m_dir / L"tree"));
        ASSERT_TRUE(MakeDir(m_dir / L"filetree"));
        if (!MakeLink(m_dir / L"tree\\sub", m_dir / L"outside", true) ||
            !MakeLink(m_dir / L"filetree\\precious.txt", m_dir / L"outside\\precious.txt", false))
            GTEST_SKIP() << "this system lets the test make no link";
    }
    // Wine cannot remove the Unix links it was given; rm does, without following them.
    void TearDown() override
    {
        const std::string unixDir = UnixName(m_dir.path());
        if (!unixDir.empty() && StartUnix("/bin/rm -rf \"" + unixDir + "\""))
            for (int waited = 0; waited < 30000 && Exists(m_dir.path()); ++waited) ::Sleep(1);
    }
    bool OutsideUntouched() const
    {
        return ReadBytes(m_dir / L"outside\\precious.txt") == "keep me" &&
               !Exists(m_dir / L"outside\\new.txt") && !Exists(m_dir / L"outside\\child");
    }
    ScratchDir m_dir;
};

TEST_F(TreeLinks, DeleteRemovesTheLinkNeverItsTarget)
{
    // Windows removes a link through a handle opened on the link itself. Wine opens the
    // target whatever the flags say, so there the delete stops with 0 and leaves the link.
    for (const wchar_t* folder : {L"tree", L"filetree", L"tree\\sub"}) {
        const int result = sys::DeleteDirectoryTree(m_dir / folder);
        EXPECT_TRUE(OutsideUntouched()) << folder;
        EXPECT_EQ(result == 1, !Exists(m_dir / folder)) << folder;
    }
}

TEST_F(TreeLinks, CopyAndEnsureNeverGoThroughALink)
{
    EXPECT_EQ(sys::CopyDirectoryTree(m_dir / L"tree", m_dir / L"src"), 0);
    EXPECT_EQ(sys::CopyDirectoryTree(m_dir / L"tree\\sub", m_dir / L"src\\sub"), 0);
    EXPECT_EQ(sys::EnsureDirectory(m_dir / L"tree\\sub", m_dir / L"src"), 0);
    EXPECT_EQ(sys::EnsureDirectory(m_dir / L"tree\\sub\\child", m_dir / L"src"), 0);
    EXPECT_FALSE(sys::CopyFileIfMissing(m_dir / L"tree\\sub", m_dir / L"src\\sub", L"new.txt"));
    EXPECT_TRUE(OutsideUntouched());

    // Links in the source are left out: neither a linked folder nor a linked file is copied.
    ASSERT_TRUE(MakeLink(m_dir / L"src\\linked", m_dir / L"outside", true));
    ASSERT_TRUE(MakeLink(m_dir / L"src\\precious.txt", m_dir / L"outside\\precious.txt", false));
    ASSERT_TRUE(MakeDir(m_dir / L"dst"));
    EXPECT_EQ(sys::CopyDirectoryTree(m_dir / L"dst", m_dir / L"src"), 1);
    EXPECT_EQ(ReadBytes(m_dir / L"dst\\sub\\new.txt"), "new");
    EXPECT_FALSE(Exists(m_dir / L"dst\\linked"));
    EXPECT_FALSE(Exists(m_dir / L"dst\\precious.txt"));
    EXPECT_EQ(sys::CopyDirectoryTree(m_dir / L"dst", m_dir / L"src\\linked"), 0);
    EXPECT_TRUE(OutsideUntouched());
}

// Puts a directory link in place of a folder the way an unelevated program of the user could
// while a walk runs: it renames the folder away through Win32, so the walk's share modes
// apply, and makes a link to `target` under the old name. Under Wine, whose
// CreateSymbolicLinkW makes nothing, a shell started beforehand makes the link when asked
// through a file, which is quicker than starting /bin/ln at the time. The shell takes the file
// only once it holds the path: it may see the file made but not yet written, and a link named
// "" would leave the folder in place while the attack counted it swapped.
class Swapper {
public:
    Swapper(const std::wstring& work, const std::wstring& target) : m_work(work), m_target(target)
    {
        if (!RunningOnWine()) {
            m_ready = MakeLink(work + L"\\probe", target, true);
            return;
        }
        const std::string unixWork = UnixName(work), unixTarget = UnixName(target);
        const std::string script =
            "cd '" + unixWork +
            "' || exit 1\n"
            "touch ready; polls=0\n"
            "while [ ! -e stop ] && [ $polls -lt 20000 ]; do\n"
            "  if [ -s want ]; then\n"
            "    ln -sT '" +
            unixTarget +
            "' \"$(cat want)\" &&\n"
            "      cat want >> links && echo >> links\n"
            "    mv want made\n"
            "  fi\n"
            "  sleep 0.005; polls=$((polls + 1))\n"
            "done\n"
            "[ -e links ] && while read -r link; do rm -f \"$link\"; done < links\n"
            "touch stopped\n";
        m_ready = WriteBytes(work + L"\\swap.sh", script) &&
                  StartUnix("/bin/sh \"" + unixWork + "/swap.sh\"") &&
                  WaitFor(work + L"\\ready", 30000);
    }
    ~Swapper()
    {
        // The shell removes its links, which Wine cannot remove, before the folder goes.
        if (RunningOnWine() && m_ready && WriteBytes(m_work + L"\\stop", ""))
            WaitFor(m_work + L"\\stopped", 10000);
    }
    bool ready() const { return m_ready; }

    // 0 when `folder` was renamed to `aside` and a link now stands in its place; else the
    // error of the rename (or of the link).
    DWORD Swap(const std::wstring& folder, const std::wstring& aside)
    {
        const std::string unixFolder = UnixName(folder);
        if (!::MoveFileExW(folder.c_str(), aside.c_str(), 0)) return ::GetLastError();
        if (!RunningOnWine())
            return MakeLink(folder, m_target, true) ? 0 : ERROR_CANT_RESOLVE_FILENAME;
        ::DeleteFileW((m_work + L"\\made").c_str());
        if (!WriteBytes(m_work + L"\\want", unixFolder) || !WaitFor(m_work + L"\\made", 10000))
            return ERROR_CANT_RESOLVE_FILENAME;
        return 0;
    }

private:
    std::wstring m_work, m_target;
    bool m_ready = false;
};

// Waits for the first file name change in `watched`, the sign that the walk works inside
// it, then swaps `held` (the folder the walk is in) and `ahead` (one it has listed but not
// reached yet) for links out of the tree.
struct Attack {
    Swapper* swapper;
    std::wstring watched, held, heldAside, ahead, aheadAside;
    HANDLE watching;
    volatile LONG walkDone;
    bool noticed;
    DWORD heldError, aheadError;
    bool walkRanOn;
};

DWORD WINAPI RunAttack(void* param)
{
    Attack& attack = *static_cast<Attack*>(param);
    HANDLE watch =
        ::FindFirstChangeNotificationW(attack.watched.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    ::SetEvent(attack.watching);
    if (watch == INVALID_HANDLE_VALUE) return 0;
    attack.noticed = ::WaitForSingleObject(watch, 60000) == WAIT_OBJECT_0;
    ::FindCloseChangeNotification(watch);
    if (!attack.noticed) return 0;
    attack.heldError = attack.swapper->Swap(attack.held, attack.heldAside);
    attack.aheadError = attack.swapper->Swap(attack.ahead, attack.aheadAside);
    attack.walkRanOn = ::InterlockedCompareExchange(&attack.walkDone, 0, 0) == 0;
    return 0;
}

// A walk that the attack above runs against. The walk lists a folder, then works through
// its entries in the order listed: `first` and `second` are the two folders of a tree, in
// that order, so the walk is busy in `first` (it holds many files) while `second` waits.
class TreeSwapRace : public ::testing::Test {
protected:
    static constexpr int kFiles = 400;

    void SetUp() override
    {
        ASSERT_TRUE(MakeDir(m_dir / L"outside"));
        for (int i = 0; i < kFiles; ++i)
            ASSERT_TRUE(WriteBytes(m_dir / L"outside\\" + FileName(i), "outside"));
        ASSERT_TRUE(WriteBytes(m_dir / L"outside\\b.txt", "outside"));
        ASSERT_TRUE(MakeDir(m_dir / L"swapper"));
        m_swapper.reset(new Swapper(m_dir / L"swapper", m_dir / L"outside"));
        if (!m_swapper->ready()) GTEST_SKIP() << "this system lets the test make no link";
    }

    static std::wstring FileName(int i) { return L"f" + std::to_wstring(1000 + i) + L".txt"; }

    // Makes `root`\p and `root`\q and names them in the order the walk will list them.
    void MakeTwoFolders(const std::wstring& root)
    {
        ASSERT_TRUE(MakeDir(root));
        ASSERT_TRUE(MakeDir(root + L"\\p"));
        ASSERT_TRUE(MakeDir(root + L"\\q"));
        HANDLE folder = ::CreateFileW(root.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(folder, INVALID_HANDLE_VALUE);
        alignas(8) unsigned char buffer[4096];
        std::wstring order;
        while (::GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer,
                                              sizeof buffer)) {
            for (unsigned char* at = buffer;;) {
                const auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(at);
                const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
                if (name == L"p" || name == L"q") order += name;
                if (!entry->NextEntryOffset) break;
                at += entry->NextEntryOffset;
            }
        }
        ::CloseHandle(folder);
        ASSERT_EQ(order.size(), 2u);
        m_first = order.substr(0, 1);
        m_second = order.substr(1, 1);
    }

    // Runs `walk` with the attack on: it starts once `watched` changes.
    template <class Walk>
    int RunWithAttack(const std::wstring& watched, const std::wstring& held,
                      const std::wstring& ahead, Walk walk)
    {
        m_attack = Attack{m_swapper.get(),
                          watched,
                          held,
                          m_dir / L"held-aside",
                          ahead,
                          m_dir / L"ahead-aside",
                          ::CreateEventW(nullptr, TRUE, FALSE, nullptr),
                          0,
                          false,
                          0,
                          0,
                          false};
        HANDLE attacker = ::CreateThread(nullptr, 0, RunAttack, &m_attack, 0, nullptr);
        ::WaitForSingleObject(m_attack.watching, 10000);
        const int result = walk();
        ::InterlockedExchange(&m_attack.walkDone, 1);
        ::WaitForSingleObject(attacker, 90000);
        ::CloseHandle(attacker);
        ::CloseHandle(m_attack.watching);
        return result;
    }

    // The folder out of the tree holds what it held, and nothing else.
    void ExpectOutsideUntouched()
    {
        int entries = 0;
        WIN32_FIND_DATAW entry;
        HANDLE listing = ::FindFirstFileW((m_dir / L"outside\\*").c_str(), &entry);
        ASSERT_NE(listing, INVALID_HANDLE_VALUE);
        do {
            entries += entry.cFileName[0] != L'.';
        } while (::FindNextFileW(listing, &entry));
        ::FindClose(listing);
        EXPECT_EQ(entries, kFiles + 1);
        for (int i = 0; i < kFiles; ++i)
            if (ReadBytes(m_dir / L"outside\\" + FileName(i)) != "outside")
                return ADD_FAILURE() << "outside\\" << FileName(i) << " was touched";
        EXPECT_EQ(ReadBytes(m_dir / L"outside\\b.txt"), "outside");
    }

    // The attack ran while the walk did: the folder the walk was in could not be renamed (it
    // holds it without delete sharing), the folder ahead could, and a link stood there while
    // the walk still ran.
    void ExpectTheSwapHappenedMidWalk()
    {
        ASSERT_TRUE(m_attack.noticed) << "the walk changed nothing in the watched folder";
        EXPECT_NE(m_attack.heldError, 0u) << "the folder the walk was in was swapped for a link";
        EXPECT_EQ(m_attack.aheadError, 0u) << "the folder ahead of the walk could not be swapped";
        EXPECT_TRUE(m_attack.walkRanOn) << "the walk ended before the swap: nothing was raced";
    }

    ScratchDir m_dir;
    std::unique_ptr<Swapper> m_swapper;
    std::wstring m_first, m_second;
    Attack m_attack{};
};

TEST_F(TreeSwapRace, DeleteNeverReachesOutOfTheTree)
{
    const std::wstring root = m_dir / L"tree";
    MakeTwoFolders(root);
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(WriteBytes(root + L"\\" + m_first + L"\\" + FileName(i), "tree"));
    ASSERT_TRUE(WriteBytes(root + L"\\" + m_second + L"\\b.txt", "tree"));
    const std::wstring held = root + L"\\" + m_first, ahead = root + L"\\" + m_second;

    const int result =
        RunWithAttack(held, held, ahead, [&] { return sys::DeleteDirectoryTree(root); });
    ExpectTheSwapHappenedMidWalk();
    ExpectOutsideUntouched();
    // Windows deletes the link as a link and goes on; under Wine the walk meets the link's
    // target, refuses it and stops. What was renamed out of the tree is no longer its business.
    EXPECT_EQ(result == 1, !Exists(root));
    EXPECT_FALSE(Exists(held));
    EXPECT_EQ(ReadBytes(m_dir / L"ahead-aside\\b.txt"), "tree");
}

TEST_F(TreeSwapRace, CopyNeverWritesOutOfTheTree)
{
    const std::wstring source = m_dir / L"src", target = m_dir / L"dst";
    MakeTwoFolders(source);
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(WriteBytes(source + L"\\" + m_first + L"\\" + FileName(i), "tree"));
    ASSERT_TRUE(WriteBytes(source + L"\\" + m_second + L"\\b.txt", "tree"));
    ASSERT_TRUE(MakeDir(target));
    const std::wstring held = target + L"\\" + m_first, ahead = target + L"\\" + m_second;
    ASSERT_TRUE(MakeDir(held));
    ASSERT_TRUE(MakeDir(ahead));

    const int result =
        RunWithAttack(held, held, ahead, [&] { return sys::CopyDirectoryTree(target, source); });
    ExpectTheSwapHappenedMidWalk();
    ExpectOutsideUntouched();
    EXPECT_EQ(result, 0);  // the folder ahead is a link now: the copy refuses to fill it
    EXPECT_EQ(ReadBytes(held + L"\\" + FileName(kFiles - 1)), "tree");
    EXPECT_FALSE(Exists(m_dir / L"ahead-aside\\b.txt"));
}

}  // namespace
