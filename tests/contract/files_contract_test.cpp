// The files facet as the program calls it, pinned against the emulation and (in the Windows test
// binary) the real file functions, in a scratch folder of each world.
#include <algorithm>
#include <string>
#include <vector>

#include "contract_fixture.h"
#include "platform/sid_text.h"

namespace {

using platform::DWORD;

template <class World>
class FilesContract : public ::testing::Test {
protected:
    void SetUp() override {
        world.MakeFolder(world.WindowsPath("dir"));
        world.MakeFolder(world.WindowsPath("full"));
        world.WriteRaw(world.WindowsPath("full\\inside.txt"), "x");
        world.WriteRaw(world.WindowsPath("a.txt"), "hello");
        world.WriteRaw(world.WindowsPath("B.ini"), "[s]\r\n");
    }
    std::string P(const std::string& relative) { return world.WindowsPath(relative); }
    platform::Files& files() { return world.files(); }
    // Result of a BOOL call and the last error when it failed.
    std::pair<bool, DWORD> Call(bool ok) { return {ok, ok ? 0 : world.LastError()}; }

    World world;
};

TYPED_TEST_SUITE(FilesContract, contract::ContractWorlds, contract::WorldNames);

TYPED_TEST(FilesContract, AttributesTellFilesFromFolders) {
    EXPECT_EQ(this->files().GetFileAttributesA(this->P("a.txt").c_str()) &
                  platform::kFileAttributeDirectory,
              0u);
    EXPECT_NE(this->files().GetFileAttributesA(this->P("dir").c_str()) &
                  platform::kFileAttributeDirectory,
              0u);
    EXPECT_NE(this->files().GetFileAttributesA(this->P("A.TXT").c_str()),
              platform::kInvalidFileAttributes)
        << "names match without regard to case";
    struct Missing {
        const char* relative;
        DWORD error;
    };
    for (const Missing& m : {Missing{"nope.txt", 2}, Missing{"nodir\\nope.txt", 3}}) {
        EXPECT_EQ(this->files().GetFileAttributesA(this->P(m.relative).c_str()),
                  platform::kInvalidFileAttributes);
        EXPECT_EQ(this->world.LastError(), m.error) << m.relative;
    }
}

// Plain files and folders are no reparse points, whoever owns them; a missing path is the
// usual pair of errors. (A reparse point itself is made only in the emulated world: making a
// link on Windows needs a privilege the tests do not assume.)
TYPED_TEST(FilesContract, PlainPathsAreNoReparsePoints) {
    struct Case {
        const char* relative;
        DWORD error;
    };
    for (const Case& c : {Case{"a.txt", 0}, Case{"dir", 0}, Case{"dir\\", 0}, Case{"nope.txt", 2},
                          Case{"nodir\\nope.txt", 3}}) {
        bool reparsePoint = true;
        bool adminOwned = true;
        EXPECT_EQ(this->files().GetReparsePointOwner(this->P(c.relative).c_str(), &reparsePoint,
                                                     &adminOwned),
                  c.error)
            << c.relative;
        EXPECT_FALSE(reparsePoint) << c.relative;
        EXPECT_FALSE(adminOwned) << c.relative;
    }
}

// What the scratch folder holds belongs to the test's own account (the emulated machine's
// files to SYSTEM): a trusted owner, and nobody else may change it. A missing path is the usual
// pair of errors.
TYPED_TEST(FilesContract, OwnFilesAreTrustedAndMissingPathsAreErrors) {
    struct Case {
        const char* relative;
        DWORD error;
    };
    for (const Case& c :
         {Case{"a.txt", 0}, Case{"dir", 0}, Case{"nope.txt", 2}, Case{"nodir\\nope.txt", 3}}) {
        platform::FileSecurity security{"x", c.error != 0, true, {}};
        EXPECT_EQ(this->files().GetOwnerAndRights(this->P(c.relative).c_str(), &security), c.error)
            << c.relative;
        EXPECT_EQ(security.ownerTrusted, c.error == 0) << c.relative;
        EXPECT_FALSE(security.othersMayChange) << c.relative;
        EXPECT_EQ(security.ownerName, "") << c.relative << ": a trusted owner is not looked up";
    }
}

// Which ACEs let others change a file: an allowing one of an untrusted group with a right to
// write, append or delete (generic ones included), or a NULL DACL; not one that is inherit-only,
// nor CREATOR OWNER's, nor a read-only one for everybody. Wine keeps of a DACL it is given only
// what the file's Unix mode can hold (everybody's write right) and answers from that mode.
TYPED_TEST(FilesContract, RightsOfOthersToChangeAFile) {
    struct Case {
        const char* name;
        const char* sddl;
        const char* emulatedAccounts;
        bool othersMayChange;
        const char* wineNote;
    };
    constexpr const char* kKept = "Wine keeps of a DACL only what the Unix mode holds";
    const Case cases[] = {
        {"users may append", "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x100004;;;BU)",
         "Administrators,Users", true, kKept},
        {"everybody generic write", "D:P(A;;FA;;;SY)(A;;GW;;;WD)", "SYSTEM,Everyone", true,
         nullptr},
        {"users may delete", "D:P(A;;FA;;;BA)(A;;0x10000;;;AU)", "Authenticated Users", true,
         kKept},
        {"null DACL", "D:NO_ACCESS_CONTROL", "Everyone", true, kKept},
        {"inherit-only, creator owner, read for everybody",
         "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;OICIIO;FA;;;BU)(A;;FA;;;CO)(A;;0x1200a9;;;WD)",
         "SYSTEM,Administrators", false, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = this->P("acl" + std::to_string(n++) + ".txt");
        this->world.WriteRaw(path, "x");
        ASSERT_TRUE(this->world.SetRights(path, c.sddl, c.emulatedAccounts)) << c.name;
        platform::FileSecurity security;
        EXPECT_EQ(this->files().GetOwnerAndRights(path.c_str(), &security), 0u) << c.name;
        EXPECT_TRUE(security.ownerTrusted) << c.name;
        EXPECT_EQ(security.othersMayChange,
                  contract::WineAnswer(this->world, c.name, c.othersMayChange, false, c.wineNote))
            << c.name;
    }
}

// A folder the program makes for itself takes nothing from the folder above it, which here lets
// the Users change everything below it: the new folder's own DACL (SYSTEM and the Administrators
// full control, the Users read and execute, each inherited below; or the program's account and
// the Administrators alone) is read back, protected, and nobody else may change the folder or
// what is made in it. A plain folder made beside it inherits the Users' right.
TYPED_TEST(FilesContract, ProtectedFoldersTakeNothingFromAbove) {
    const std::string open = this->P("open");
    this->world.MakeFolder(open);
    ASSERT_TRUE(this->world.SetRights(open, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)",
                                      "Administrators,Users"));
    auto& f = this->files();  // the facets as the rights left them
    constexpr const char* kKept = "Wine keeps of a DACL only what the Unix mode holds";
    // The owner, SYSTEM and everybody, as the Unix mode of the folder allows them.
    constexpr const char* kWineRights =
        "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)";
    const struct {
        const char* name;
        platform::FolderDacl dacl;
        const char* sddl;
        const char* accounts;
    } cases[] = {
        {"log", platform::FolderDacl::kSystemAdministratorsUsersRead,
         "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", "SYSTEM,Administrators"},
        {"capture", platform::FolderDacl::kOwnAccountAndAdministrators, nullptr,
         "SYSTEM,Administrators"},
    };
    for (const auto& c : cases) {
        const std::string folder = open + "\\" + c.name;
        EXPECT_EQ(this->Call(f.CreateProtectedDirectoryA(folder.c_str(), c.dacl)),
                  std::make_pair(true, DWORD{0}))
            << c.name;
        const std::string rights = this->world.RightsText(folder);
        if (rights.rfind("D:", 0) != 0) {
            EXPECT_EQ(rights, c.accounts) << c.name;
        } else if (contract::ExpectsWineAnswer(this->world.OnWine(), c.name, kKept)) {
            EXPECT_EQ(rights, kWineRights) << c.name;
        } else if (c.sddl) {
            EXPECT_EQ(rights, c.sddl) << c.name;
        } else {
            // The program's own account is the test's, whose SID differs from machine to machine.
            EXPECT_EQ(rights.rfind("D:P(", 0), 0u) << rights;
            EXPECT_NE(rights.find("(A;OICI;FA;;;BA)"), std::string::npos) << rights;
            EXPECT_EQ(rights.find(";BU)"), std::string::npos) << rights;
        }
        this->world.WriteRaw(folder + "\\inside.txt", "x");
        for (const std::string& path : {folder, folder + "\\inside.txt"}) {
            platform::FileSecurity security;
            EXPECT_EQ(f.GetOwnerAndRights(path.c_str(), &security), 0u) << path;
            EXPECT_TRUE(security.ownerTrusted) << path;
            EXPECT_FALSE(security.othersMayChange) << path;
        }
        EXPECT_EQ(this->Call(f.CreateProtectedDirectoryA(folder.c_str(), c.dacl)),
                  std::make_pair(false, DWORD{183}))
            << c.name << ": never one that is there";
    }
    const std::string plain = open + "\\plain";
    ASSERT_TRUE(f.CreateDirectoryA(plain.c_str()));
    platform::FileSecurity security;
    EXPECT_EQ(f.GetOwnerAndRights(plain.c_str(), &security), 0u);
    EXPECT_EQ(security.othersMayChange,
              contract::WineAnswer(this->world, "inherited rights", true, false, kKept));
}

// A log is appended only to a plain file with one name: a second name (a hard link) of the file
// leaves both names unwritten (GetFileInformationByHandle, nNumberOfLinks), until it goes.
TYPED_TEST(FilesContract, AppendsOnlyToAFileWithOneName) {
    auto& f = this->files();
    ASSERT_TRUE(this->world.MakeHardLink(this->P("a.txt"), this->P("second.txt")));
    for (const char* name : {"second.txt", "a.txt"}) {
        EXPECT_EQ(this->Call(f.AppendToFile(this->P(name).c_str(), "x")),
                  std::make_pair(false, DWORD{1920}))
            << name;
    }
    EXPECT_EQ(this->world.ReadRaw(this->P("a.txt")), "hello");
    ASSERT_TRUE(f.DeleteFileA(this->P("second.txt").c_str()));
    EXPECT_EQ(this->Call(f.AppendToFile(this->P("a.txt").c_str(), "!")),
              std::make_pair(true, DWORD{0}));
    EXPECT_EQ(this->world.ReadRaw(this->P("a.txt")), "hello!");
}

// A file held for a start or a load may be read (and so run or mapped) but not written,
// renamed, replaced or deleted until the handle is closed; a missing path is the usual pair.
TYPED_TEST(FilesContract, AHeldFileCannotBeChangedUntilReleased) {
    const std::string held = this->P("a.txt");
    platform::HANDLE handle = 0;
    ASSERT_EQ(this->files().OpenFileToHold(held.c_str(), &handle), 0u);
    ASSERT_NE(handle, 0u);
    std::string content;
    EXPECT_TRUE(this->files().ReadWholeFile(held.c_str(), &content));
    EXPECT_EQ(content, "hello");
    constexpr DWORD kSharing = platform::kErrorSharingViolation;
    const std::string other = this->P("B.ini");
    EXPECT_EQ(this->Call(this->files().DeleteFileA(held.c_str())), std::make_pair(false, kSharing));
    EXPECT_EQ(this->Call(this->files().MoveFileA(held.c_str(), this->P("moved.txt").c_str())),
              std::make_pair(false, kSharing));
    EXPECT_EQ(this->Call(this->files().MoveFileExA(other.c_str(), held.c_str(),
                                                   platform::kMovefileReplaceExisting)),
              std::make_pair(false, DWORD{5}))
        << "a replace over an open file is refused for its access";
    EXPECT_EQ(this->Call(this->files().MoveFileExA(other.c_str(), held.c_str(), 0)),
              std::make_pair(false, DWORD{183}));
    EXPECT_EQ(this->Call(this->files().CopyFileA(other.c_str(), held.c_str(), false)),
              std::make_pair(false, kSharing));
    EXPECT_EQ(this->Call(this->files().AppendToFile(held.c_str(), "x")),
              std::make_pair(false, kSharing));
    EXPECT_TRUE(this->world.CloseFileHandle(handle));
    EXPECT_EQ(this->Call(this->files().DeleteFileA(held.c_str())), std::make_pair(true, DWORD{0}));
    for (const auto& [relative, error] :
         {std::pair<const char*, DWORD>{"nope.txt", 2}, {"nodir\\nope.txt", 3}}) {
        handle = 1;
        EXPECT_EQ(this->files().OpenFileToHold(this->P(relative).c_str(), &handle), error);
        EXPECT_EQ(handle, 0u) << relative;
    }
}

// Accounts looked up by name give their SIDs, compared by EqualSid: SYSTEM is S-1-5-18 in every
// language, one name gives the same SID twice and another name another one; no account has an
// empty or unknown name.
TYPED_TEST(FilesContract, AccountsLookedUpByNameCompareBySid) {
    platform::Sid system;
    platform::Sid again;
    platform::Sid administrators;
    ASSERT_EQ(this->files().LookupAccountNameA("SYSTEM", &system), 0u);
    ASSERT_EQ(this->files().LookupAccountNameA("system", &again), 0u);
    ASSERT_EQ(this->files().LookupAccountNameA("Administrators", &administrators), 0u);
    EXPECT_EQ(platform::SidText(system), "S-1-5-18");
    EXPECT_EQ(platform::SidText(administrators), "S-1-5-32-544");
    EXPECT_TRUE(this->files().EqualSid(system, again));
    EXPECT_FALSE(this->files().EqualSid(system, administrators));
    EXPECT_FALSE(this->files().EqualSid(system, platform::Sid{}));
    for (const char* name : {"", "no-such-account-rs-7731"}) {
        platform::Sid none{1, 2, 3};
        EXPECT_EQ(this->files().LookupAccountNameA(name, &none),
                  static_cast<DWORD>(platform::kErrorNoneMapped))
            << name;
        EXPECT_TRUE(none.empty()) << name;
    }
    // The owner that GetOwnerAndRights reads is a SID of its own: SYSTEM's for the emulated
    // machine's files, the test's own account's (or the Administrators') on Windows.
    platform::FileSecurity security;
    ASSERT_EQ(this->files().GetOwnerAndRights(this->P("a.txt").c_str(), &security), 0u);
    EXPECT_EQ(platform::SidText(security.owner).rfind("S-1-5-", 0), 0u)
        << platform::SidText(security.owner);
}

TYPED_TEST(FilesContract, SizesAndWholeReads) {
    std::uint64_t size = 0;
    EXPECT_TRUE(this->files().GetFileSizeEx(this->P("a.txt").c_str(), &size));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(this->Call(this->files().GetFileSizeEx(this->P("nope").c_str(), &size)),
              std::make_pair(false, DWORD{2}));
    std::string content;
    EXPECT_TRUE(this->files().ReadWholeFile(this->P("a.txt").c_str(), &content));
    EXPECT_EQ(content, "hello");
    EXPECT_EQ(this->Call(this->files().ReadWholeFile(this->P("nope").c_str(), &content)),
              std::make_pair(false, DWORD{2}));
}

TYPED_TEST(FilesContract, FolderCalls) {
    struct Case {
        const char* name;
        bool (platform::Files::*call)(const char*);
        const char* relative;
        bool ok;
        DWORD error;
    };
    const Case cases[] = {
        {"create new", &platform::Files::CreateDirectoryA, "new", true, 0},
        {"create existing", &platform::Files::CreateDirectoryA, "dir", false, 183},
        {"create without parent", &platform::Files::CreateDirectoryA, "no\\new", false, 3},
        {"remove empty", &platform::Files::RemoveDirectoryA, "dir", true, 0},
        {"remove full", &platform::Files::RemoveDirectoryA, "full", false, 145},
        {"remove missing", &platform::Files::RemoveDirectoryA, "gone", false, 2},
        {"delete file", &platform::Files::DeleteFileA, "a.txt", true, 0},
        {"delete missing", &platform::Files::DeleteFileA, "gone.txt", false, 2},
        {"delete in missing folder", &platform::Files::DeleteFileA, "gone\\x.txt", false, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(this->Call((this->files().*c.call)(this->P(c.relative).c_str())),
                  std::make_pair(c.ok, c.error))
            << c.name;
    }
}

TYPED_TEST(FilesContract, MakeSureDirectoryPathExistsStopsAtTheLastBackslash) {
    EXPECT_TRUE(this->files().MakeSureDirectoryPathExists(this->P("m1\\m2\\file.txt").c_str()));
    EXPECT_NE(this->files().GetFileAttributesA(this->P("m1\\m2").c_str()),
              platform::kInvalidFileAttributes);
    EXPECT_EQ(this->files().GetFileAttributesA(this->P("m1\\m2\\file.txt").c_str()),
              platform::kInvalidFileAttributes);
    EXPECT_TRUE(this->files().MakeSureDirectoryPathExists(this->P("m1\\m2\\").c_str()))
        << "exists already";
    EXPECT_FALSE(this->files().MakeSureDirectoryPathExists(this->P("a.txt\\sub\\").c_str()))
        << "a file in the way";
}

TYPED_TEST(FilesContract, CopyAndMove) {
    auto& f = this->files();
    EXPECT_EQ(this->Call(f.CopyFileA(this->P("a.txt").c_str(), this->P("c.txt").c_str(), true)),
              std::make_pair(true, DWORD{0}));
    EXPECT_EQ(this->world.ReadRaw(this->P("c.txt")), "hello");
    EXPECT_EQ(this->Call(f.CopyFileA(this->P("B.ini").c_str(), this->P("c.txt").c_str(), true)),
              std::make_pair(false, DWORD{80}));
    EXPECT_TRUE(f.CopyFileA(this->P("B.ini").c_str(), this->P("c.txt").c_str(), false));
    EXPECT_EQ(this->world.ReadRaw(this->P("c.txt")), "[s]\r\n");
    EXPECT_EQ(this->Call(f.CopyFileA(this->P("nope").c_str(), this->P("d.txt").c_str(), false)),
              std::make_pair(false, DWORD{2}));
    EXPECT_FALSE(f.CopyFileA(this->P("a.txt").c_str(), this->P("nodir\\d.txt").c_str(), false));

    EXPECT_EQ(this->Call(f.MoveFileA(this->P("c.txt").c_str(), this->P("a.txt").c_str())),
              std::make_pair(false, DWORD{183}));
    EXPECT_TRUE(f.MoveFileA(this->P("c.txt").c_str(), this->P("dir\\moved.txt").c_str()));
    EXPECT_TRUE(f.MoveFileA(this->P("dir").c_str(), this->P("dir2").c_str())) << "folders move too";
    EXPECT_EQ(this->world.ReadRaw(this->P("dir2\\moved.txt")), "[s]\r\n");
    EXPECT_EQ(this->Call(f.MoveFileA(this->P("nope").c_str(), this->P("x").c_str())),
              std::make_pair(false, DWORD{2}));

    // A new file is never one that exists; a replacing move takes the existing name's place.
    EXPECT_EQ(this->Call(f.WriteNewFile(this->P("a.txt").c_str(), "x")),
              std::make_pair(false, DWORD{80}));
    EXPECT_EQ(this->world.ReadRaw(this->P("a.txt")), "hello");
    EXPECT_EQ(this->Call(f.WriteNewFile(this->P("nodir\\x.txt").c_str(), "x")),
              std::make_pair(false, DWORD{3}));
    EXPECT_TRUE(f.WriteNewFile(this->P("n.txt").c_str(), std::string("a\0b\r\n", 5)));
    EXPECT_EQ(this->world.ReadRaw(this->P("n.txt")), std::string("a\0b\r\n", 5));
    EXPECT_EQ(this->Call(f.MoveFileExA(this->P("n.txt").c_str(), this->P("a.txt").c_str(), 0)),
              std::make_pair(false, DWORD{183}));
    EXPECT_EQ(this->Call(f.MoveFileExA(this->P("n.txt").c_str(), this->P("dir2").c_str(),
                                       platform::kMovefileReplaceExisting)),
              std::make_pair(false, DWORD{5}))
        << "a folder is not replaced";
    EXPECT_TRUE(
        f.MoveFileExA(this->P("n.txt").c_str(), this->P("a.txt").c_str(),
                      platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough));
    EXPECT_EQ(this->world.ReadRaw(this->P("a.txt")), std::string("a\0b\r\n", 5));
    EXPECT_EQ(this->files().GetFileAttributesA(this->P("n.txt").c_str()),
              platform::kInvalidFileAttributes);
}

TYPED_TEST(FilesContract, CopyKeepsTheLastWriteTime) {
    std::vector<platform::FindData> before, after;
    ASSERT_TRUE(this->files().FindFiles(this->P("a.txt").c_str(), &before));
    ASSERT_TRUE(
        this->files().CopyFileA(this->P("a.txt").c_str(), this->P("copy.txt").c_str(), false));
    ASSERT_TRUE(this->files().FindFiles(this->P("copy.txt").c_str(), &after));
    EXPECT_EQ(before.at(0).lastWriteTime / 10000000, after.at(0).lastWriteTime / 10000000);
}

TYPED_TEST(FilesContract, FindFiles) {
    std::vector<platform::FindData> found;
    ASSERT_TRUE(this->files().FindFiles(this->P("*").c_str(), &found));
    std::vector<std::string> names;
    for (const auto& f : found) names.push_back(f.fileName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "B.ini", "a.txt", "dir", "full"}));
    ASSERT_TRUE(this->files().FindFiles(this->P("a.txt").c_str(), &found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].size, 5u);
    ASSERT_TRUE(this->files().FindFiles(this->P("*.INI").c_str(), &found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].fileName, "B.ini") << "names come back as stored";
    EXPECT_EQ(this->Call(this->files().FindFiles(this->P("none*").c_str(), &found)),
              std::make_pair(false, DWORD{2}));
    EXPECT_EQ(this->Call(this->files().FindFiles(this->P("nodir\\*").c_str(), &found)),
              std::make_pair(false, DWORD{3}));
}

// Where a search fails: a folder that cannot be opened before the name is looked at, an empty
// name in one that can (kernel32 file tests, test_FindFirstFileA: "C:\\", "C:\\foo\\" and
// "C:\\foo\\bar.txt" with foo absent), and a file's name taken for a folder, which is no
// directory name (ERROR_DIRECTORY).
TYPED_TEST(FilesContract, SearchesThatFail) {
    const struct {
        const char* name;
        std::string pattern;
        DWORD error;
        DWORD wineError = 0;
        const char* wineNote = nullptr;
    } cases[] = {
        {"drive root with a trailing backslash", "C:\\", 2},
        {"missing folder with a trailing backslash", this->P("nodir\\"), 3, 2,
         "Wine answers ERROR_FILE_NOT_FOUND"},
        {"name in a missing folder", this->P("nodir\\bar.txt"), 3},
        {"inside a plain file", this->P("a.txt\\*"), 267, 123, "Wine answers ERROR_INVALID_NAME"},
    };
    for (const auto& c : cases) {
        std::vector<platform::FindData> found(1);
        this->world.SetLastError(0xDEAD);
        EXPECT_FALSE(this->files().FindFiles(c.pattern.c_str(), &found)) << c.name;
        EXPECT_EQ(this->world.LastError(),
                  contract::WineAnswer(this->world, c.name, c.error, c.wineError, c.wineNote))
            << c.name;
        EXPECT_TRUE(found.empty()) << c.name;
    }
}

// A search that listed its last entry leaves the last error of the FindNextFileA that found no
// more, ERROR_NO_MORE_FILES; NUL is found in every folder as an empty file (kernel32 file tests,
// test_FindFirstFileA: "c:\\nul", test_FindNextFileA).
TYPED_TEST(FilesContract, FinishedSearches) {
    const struct {
        std::string pattern;
        const char* name;
        std::uint64_t size;
    } cases[] = {
        {this->P("a.txt"), "a.txt", 5},
        {"C:\\nul", "nul", 0},
        {this->P("dir\\nul"), "nul", 0},
    };
    for (const auto& c : cases) {
        std::vector<platform::FindData> found;
        this->world.SetLastError(0xDEAD);
        ASSERT_TRUE(this->files().FindFiles(c.pattern.c_str(), &found)) << c.pattern;
        EXPECT_EQ(this->world.LastError(), DWORD{18}) << c.pattern;
        ASSERT_EQ(found.size(), 1u) << c.pattern;
        EXPECT_EQ(found[0].fileName, c.name);
        EXPECT_EQ(found[0].attributes, platform::kFileAttributeArchive) << c.pattern;
        EXPECT_EQ(found[0].size, c.size) << c.pattern;
    }
    EXPECT_TRUE(this->world.ListRaw(this->P("dir")).empty());
}

TYPED_TEST(FilesContract, AppendCreatesThenAppends) {
    EXPECT_TRUE(this->files().AppendToFile(this->P("log.txt").c_str(), "one\r\n"));
    EXPECT_TRUE(this->files().AppendToFile(this->P("log.txt").c_str(), "two\r\n"));
    EXPECT_EQ(this->world.ReadRaw(this->P("log.txt")), "one\r\ntwo\r\n");
    EXPECT_EQ(this->Call(this->files().AppendToFile(this->P("nodir\\log.txt").c_str(), "x")),
              std::make_pair(false, DWORD{3}));
    EXPECT_EQ(this->Call(this->files().AppendToFile(this->P("dir").c_str(), "x")),
              std::make_pair(false, DWORD{5}));
}

// Characters no Windows file name may hold: control characters, * ? | and the DOS wildcards
// < > ". The file system refuses them with ERROR_INVALID_NAME and nothing is created. (Microsoft,
// "Naming Files, Paths, and Namespaces"; kernel32 directory tests: CreateDirectoryW with ? or *.)
TYPED_TEST(FilesContract, NamesWindowsRefuse) {
    for (const char* relative : {"a*b", "a?b", "a<b", "a>b", "a|b", "a\"b", "a\tb", "a\x01b",
                                 "a\037b.txt", "dir\\x|y.txt"}) {
        const std::string name = contract::Escaped(relative);
        const std::string path = this->P(relative);
        EXPECT_EQ(this->Call(this->files().CreateDirectoryA(path.c_str())),
                  std::make_pair(false, DWORD{123}))
            << "CreateDirectoryA " << name;
        EXPECT_EQ(this->Call(this->files().AppendToFile(path.c_str(), "x")),
                  std::make_pair(false, DWORD{123}))
            << "AppendToFile " << name;
        EXPECT_EQ(this->files().GetFileAttributesA(path.c_str()), platform::kInvalidFileAttributes)
            << name;
        EXPECT_EQ(this->world.LastError(), DWORD{123}) << "GetFileAttributesA " << name;
        std::string content;
        EXPECT_EQ(this->Call(this->files().ReadWholeFile(path.c_str(), &content)),
                  std::make_pair(false, DWORD{123}))
            << "ReadWholeFile " << name;
        EXPECT_EQ(
            this->Call(this->files().CopyFileA(this->P("a.txt").c_str(), path.c_str(), false)),
            std::make_pair(false, DWORD{123}))
            << "CopyFileA " << name;
    }
    EXPECT_EQ(this->world.ListRaw(this->P("")),
              (std::vector<std::string>{"B.ini", "a.txt", "dir", "full"}))
        << "nothing was created";
    EXPECT_TRUE(this->world.ListRaw(this->P("dir")).empty());
    // A wildcard in the folder part of a search pattern is refused too; in its last part it
    // is the pattern.
    std::vector<platform::FindData> found;
    EXPECT_EQ(this->Call(this->files().FindFiles(this->P("f*l\\*").c_str(), &found)),
              std::make_pair(false, DWORD{123}));
}

// Windows drops the trailing dots and spaces of a path's last part, and one trailing dot of a
// folder part before it. (kernel32 directory tests: CreateDirectoryA of "name." and "name  "
// make "name"; "name./x" is made in "name".) That a folder part keeps any more of them, so that
// "name../x" and "name /x" fail with ERROR_PATH_NOT_FOUND on NT, is not pinned here: the
// emulated world of the Windows test binary lies on Windows' own files, whose names it meets
// through the same rules.
TYPED_TEST(FilesContract, TrailingDotsAndSpacesOfAPathPart) {
    auto& f = this->files();
    EXPECT_TRUE(f.CreateDirectoryA(this->P("trail.").c_str()));
    EXPECT_TRUE(f.CreateDirectoryA(this->P("spaced  ").c_str()));
    EXPECT_EQ(this->Call(f.CreateDirectoryA(this->P("dir. .").c_str())),
              std::make_pair(false, DWORD{183}))
        << "dir. . is dir";
    EXPECT_TRUE(f.AppendToFile(this->P("log.txt. .").c_str(), "one"));
    EXPECT_TRUE(f.AppendToFile(this->P("dir.\\in.txt").c_str(), "two"));
    EXPECT_EQ(
        this->world.ListRaw(this->P("")),
        (std::vector<std::string>{"B.ini", "a.txt", "dir", "full", "log.txt", "spaced", "trail"}));
    EXPECT_EQ(this->world.ReadRaw(this->P("log.txt")), "one");
    EXPECT_EQ(this->world.ReadRaw(this->P("dir\\in.txt")), "two");
    EXPECT_NE(f.GetFileAttributesA(this->P("a.txt . ").c_str()), platform::kInvalidFileAttributes);
    std::string content;
    EXPECT_TRUE(f.ReadWholeFile(this->P("a.txt.").c_str(), &content));
    EXPECT_EQ(content, "hello");
    for (const char* relative : {"dir.\\..\\nodir.\\x.txt", "nodir. .\\x.txt"}) {
        EXPECT_EQ(this->Call(f.AppendToFile(this->P(relative).c_str(), "x")),
                  std::make_pair(false, DWORD{3}))
            << relative;
    }
}

// NUL names the null device in every folder: writes to it succeed and leave no file, and it
// reads as empty. (Microsoft, "Naming Files, Paths, and Namespaces": reserved device names.)
TYPED_TEST(FilesContract, TheNulDevice) {
    for (const char* relative : {"dir\\NUL", "dir\\nul", "dir\\Nul."}) {
        EXPECT_EQ(this->Call(this->files().AppendToFile(this->P(relative).c_str(), "lost")),
                  std::make_pair(true, DWORD{0}))
            << relative;
        std::string content = "left";
        EXPECT_EQ(this->Call(this->files().ReadWholeFile(this->P(relative).c_str(), &content)),
                  std::make_pair(true, DWORD{0}))
            << relative;
        EXPECT_EQ(content, "") << relative;
    }
    EXPECT_TRUE(this->world.ListRaw(this->P("dir")).empty());
}

TYPED_TEST(FilesContract, ReadOnlyFiles) {
    if (!this->world.MakeReadOnly(this->P("a.txt"))) {
        GTEST_SKIP() << "this host ignores the read-only attribute for writing (Wine as root)";
    }
    EXPECT_NE(this->files().GetFileAttributesA(this->P("a.txt").c_str()) &
                  platform::kFileAttributeReadonly,
              0u);
    EXPECT_EQ(this->Call(this->files().AppendToFile(this->P("a.txt").c_str(), "x")),
              std::make_pair(false, DWORD{5}));
    EXPECT_EQ(this->Call(this->files().DeleteFileA(this->P("a.txt").c_str())),
              std::make_pair(false, DWORD{5}));
    EXPECT_TRUE(
        this->files().SetFileAttributesA(this->P("a.txt").c_str(), platform::kFileAttributeNormal));
    EXPECT_TRUE(this->files().DeleteFileA(this->P("a.txt").c_str()));
}

}  // namespace
