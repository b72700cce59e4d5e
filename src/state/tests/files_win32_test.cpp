#include "base/win32_world.h"

#include <gtest/gtest.h>

#include "base/win32_world.h"
#include "state/files.h"
#include "state/log_trim.h"
#include "win32_test_dir.h"

namespace wd {
namespace {

using fakes::get_file;
using fakes::list_names;
using fakes::put_file;
using fakes::ScratchDir;

Win32World disk;

std::wstring temp_name(const std::wstring& name, std::uint64_t sequence) {
    return L"." + name + L".tmp." + std::to_wstring(::GetCurrentProcessId()) + L"." +
           std::to_wstring(sequence);
}

TEST(WriteAtomic, ReplacesWholeAndLeavesNoTemporaryFile) {
    ScratchDir dir(L"replace");
    EXPECT_EQ(disk.write_atomic(dir.path(L"recoveries.txt"), "1"), 0u);
    EXPECT_EQ(get_file(dir.wide(L"recoveries.txt")), "1");
    EXPECT_EQ(disk.write_atomic(dir.path(L"recoveries.txt"), "42"), 0u);
    EXPECT_EQ(get_file(dir.wide(L"recoveries.txt")), "42");
    EXPECT_EQ(disk.write_atomic(dir.path(L"empty"), ""), 0u);
    EXPECT_EQ(get_file(dir.wide(L"empty")), "");
    EXPECT_EQ(list_names(dir.wide()), (std::set<std::wstring>{L"recoveries.txt", L"empty"}));
}

TEST(WriteAtomic, SequenceAdvancesOnFailureTooAndNamesTheTemporaryFile) {
    ScratchDir dir(L"sequence");
    const std::uint64_t first = win32::peek_replacement_sequence();
    // Fails: the folder does not exist. Still takes `first`.
    EXPECT_NE(disk.write_atomic(dir.path(L"missing\\x.txt"), "a"), 0u);
    // A folder squatting on the next temporary name makes the second replacement fail,
    // which shows the name it used: .x.txt.tmp.<pid>.<first + 1>.
    ASSERT_TRUE(::CreateDirectoryW(dir.wide(temp_name(L"x.txt", first + 1)).c_str(), nullptr));
    ASSERT_TRUE(put_file(dir.wide(L"x.txt"), "old"));
    EXPECT_NE(disk.write_atomic(dir.path(L"x.txt"), "new"), 0u);
    EXPECT_EQ(get_file(dir.wide(L"x.txt")), "old");
    EXPECT_EQ(disk.write_atomic(dir.path(L"x.txt"), "new"), 0u);
    EXPECT_EQ(get_file(dir.wide(L"x.txt")), "new");
    EXPECT_EQ(win32::peek_replacement_sequence(), first + 3);
}

TEST(WriteAtomic, FailedRenameKeepsTheOldContentAndRemovesTheTemporaryFile) {
    ScratchDir dir(L"held");
    ASSERT_TRUE(put_file(dir.wide(L"watchdog.lock"), "4120"));
    {
        // Held open without delete sharing: neither rename can replace it.
        win32::UniqueFile held(::CreateFileW(dir.wide(L"watchdog.lock").c_str(), GENERIC_READ,
                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(disk.write_atomic(dir.path(L"watchdog.lock"), "77"),
                  static_cast<OsError>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(get_file(dir.wide(L"watchdog.lock")), "4120");
    EXPECT_EQ(list_names(dir.wide()), std::set<std::wstring>{L"watchdog.lock"});
}

TEST(WriteAtomic, MissingFolderFailsAndCreatesNothing) {
    ScratchDir dir(L"nofolder");
    EXPECT_EQ(disk.write_atomic(dir.path(L"gone\\last-crash.json"), "{}"),
              static_cast<OsError>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(list_names(dir.wide()).empty());
}

TEST(WriteAtomic, TargetNameWithAnUnpairedSurrogateIsHitExactly) {
    ScratchDir dir(L"surrogate");
    Path target = dir.path() + u"\\a";
    target.push_back(char16_t(0xD800));
    target += u".txt";
    const OsError error = disk.write_atomic(target, "x");
    if (error != 0) GTEST_SKIP() << "this file system cannot name an unpaired surrogate";
    EXPECT_EQ(disk.read_bytes(target, 10), "x");
    EXPECT_EQ(list_names(dir.wide()).size(), 1u);
}

TEST(WriteAtomic, PathWithAnEmbeddedNulIsRefusedNotShortened) {
    ScratchDir dir(L"nul");
    Path target = dir.path(L"real.txt");
    target.push_back(u'\0');
    target += u"ignored";
    EXPECT_NE(disk.write_atomic(target, "x"), 0u);
    EXPECT_TRUE(list_names(dir.wide()).empty());
}

TEST(ReadBytes, EveryFailureIsAbsentAndAnEmptyFileIsEmpty) {
    ScratchDir dir(L"read");
    Win32World world;
    ASSERT_TRUE(put_file(dir.wide(L"ff-fe"), "\xFF\xFE"));
    ASSERT_TRUE(put_file(dir.wide(L"empty"), ""));
    ASSERT_TRUE(put_file(dir.wide(L"big"), std::string(MAX_READ_BYTES + 1, ' ')));
    ASSERT_TRUE(::CreateDirectoryW(dir.wide(L"folder").c_str(), nullptr));

    EXPECT_EQ(read_text(world, dir.path(L"missing")), std::nullopt);
    EXPECT_EQ(read_text(world, dir.path(L"nowhere\\missing")), std::nullopt);
    EXPECT_EQ(read_text(world, dir.path(L"folder")), std::nullopt);
    EXPECT_EQ(read_text(world, dir.path(L"ff-fe")), std::nullopt);
    EXPECT_EQ(read_file_bytes(world, dir.path(L"ff-fe")), "\xFF\xFE");
    EXPECT_EQ(read_text(world, dir.path(L"empty")), "");
    EXPECT_EQ(read_file_bytes(world, dir.path(L"big")), std::nullopt);
}

TEST(ReadBytes, ReadsAFileThatAnotherProcessHoldsOpenForWriting) {
    ScratchDir dir(L"shared");
    win32::UniqueFile writer(::CreateFileW(dir.wide(L"liveness.json").c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(writer.get(), "{}", 2, &written, nullptr));
    EXPECT_EQ(disk.read_bytes(dir.path(L"liveness.json"), 100), "{}");
}

TEST(Append, CreatesThenAppendsWhileOthersHoldTheFileOpen) {
    ScratchDir dir(L"append");
    EXPECT_EQ(disk.append(dir.path(L"watchdog.log"), "[1] a\n"), 0u);
    win32::UniqueFile reader(::CreateFileW(dir.wide(L"watchdog.log").c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    EXPECT_EQ(disk.append(dir.path(L"watchdog.log"), "[2] b\n"), 0u);
    EXPECT_EQ(get_file(dir.wide(L"watchdog.log")), "[1] a\n[2] b\n");
    EXPECT_EQ(disk.append(dir.path(L"nowhere\\watchdog.log"), "x"), ERROR_PATH_NOT_FOUND);
    reader.reset();
    EXPECT_EQ(disk.delete_file(dir.path(L"watchdog.log")), 0u);
    EXPECT_EQ(disk.delete_file(dir.path(L"watchdog.log")), ERROR_FILE_NOT_FOUND);
}

TEST(CreateDirs, CreatesEveryMissingAncestorAndAcceptsAnExistingFolder) {
    ScratchDir dir(L"dirs");
    EXPECT_EQ(disk.create_dirs(dir.path(L"a\\b\\c")), 0u);
    EXPECT_EQ(disk.create_dirs(dir.path(L"a\\b\\c")), 0u);
    EXPECT_EQ(list_names(dir.wide(L"a\\b")), std::set<std::wstring>{L"c"});
    ASSERT_TRUE(put_file(dir.wide(L"file"), "x"));
    EXPECT_EQ(disk.create_dirs(dir.path(L"file")), ERROR_ALREADY_EXISTS);
    EXPECT_NE(disk.create_dirs(dir.path(L"file\\below")), 0u);
}

TEST(FileSizeAndRange, ReportTheRealFile) {
    ScratchDir dir(L"range");
    ASSERT_TRUE(put_file(dir.wide(L"f"), "0123456789"));
    EXPECT_EQ(disk.file_size(dir.path(L"f")), 10u);
    EXPECT_EQ(disk.file_size(dir.path(L"none")), std::nullopt);
    EXPECT_EQ(disk.read_range(dir.path(L"f"), 4, 3), "456");
    EXPECT_EQ(disk.read_range(dir.path(L"f"), 8, 100), "89");
    EXPECT_EQ(disk.read_range(dir.path(L"f"), 20, 100), "");
}

TEST(PathKindAndListing, SeeFilesFoldersAndNothingElse) {
    ScratchDir dir(L"kinds");
    ASSERT_TRUE(put_file(dir.wide(L"b.exe"), "MZ"));
    ASSERT_TRUE(put_file(dir.wide(L"A.exe"), "MZ"));
    ASSERT_TRUE(::CreateDirectoryW(dir.wide(L"tools.exe").c_str(), nullptr));
    EXPECT_EQ(disk.path_kind(dir.path(L"b.exe")), PathKind::File);
    EXPECT_EQ(disk.path_kind(dir.path(L"tools.exe")), PathKind::Folder);
    EXPECT_EQ(disk.path_kind(dir.path(L"none.exe")), PathKind::Missing);
    Path with_nul = dir.path(L"b.exe");
    with_nul += std::u16string(1, u'\0') + u"x";
    EXPECT_EQ(disk.path_kind(with_nul), PathKind::Missing);

    const auto names = disk.list_folder(dir.path());
    ASSERT_TRUE(names);
    EXPECT_EQ(std::set<std::u16string>(names->begin(), names->end()),
              (std::set<std::u16string>{u"A.exe", u"b.exe", u"tools.exe"}));
    EXPECT_EQ(disk.list_folder(dir.path(L"none")), std::nullopt);
}

TEST(LogTrimOnDisk, ThresholdAndCutOnARealFile) {
    ScratchDir dir(L"trim");
    Win32World world;
    const std::string at_threshold(LOG_TRIM_THRESHOLD_BYTES, 'x');
    ASSERT_TRUE(put_file(dir.wide(L"a.log"), at_threshold));
    trim_log(world, dir.path(L"a.log"));
    EXPECT_TRUE(get_file(dir.wide(L"a.log")) == at_threshold);

    std::string past(LOG_TRIM_THRESHOLD_BYTES + 1, 'x');
    past[200'000] = '\n';
    ASSERT_TRUE(put_file(dir.wide(L"b.log"), past));
    trim_log(world, dir.path(L"b.log"));
    EXPECT_TRUE(get_file(dir.wide(L"b.log")) == past.substr(200'001));

    std::string no_lf(LOG_TRIM_THRESHOLD_BYTES + 1, 'y');
    ASSERT_TRUE(put_file(dir.wide(L"c.log"), no_lf));
    trim_log(world, dir.path(L"c.log"));
    EXPECT_EQ(get_file(dir.wide(L"c.log"))->size(), no_lf.size() - no_lf.size() / 2);
    EXPECT_EQ(list_names(dir.wide()), (std::set<std::wstring>{L"a.log", L"b.log", L"c.log"}));
}

// A world whose first tail copy lets another trim of the same file run first, as a second
// watchdog logging its one line would.
class OverlappedTrim : public Win32World {
  public:
    OsError replace_with_tail(const Path& path, std::uint64_t offset,
                              std::uint64_t expected_size) override {
        if (!overlapped_) {
            overlapped_ = true;
            trim_log(*this, path);
        }
        return Win32World::replace_with_tail(path, offset, expected_size);
    }

  private:
    bool overlapped_ = false;
};

TEST(LogTrimOnDisk, TwoOverlappingTrimsLeaveTheNewerHalfNotAnEmptyFile) {
    ScratchDir dir(L"trimtwice");
    OverlappedTrim world;
    std::string big;
    for (int i = 0; big.size() < LOG_TRIM_THRESHOLD_BYTES + 13; ++i) {
        big += "[1765000000000] player exited (code " + std::to_string(i) + ")\n";
    }
    const std::size_t cut = big.find('\n', big.size() / 2) + 1;
    ASSERT_TRUE(put_file(dir.wide(L"w.log"), big));
    trim_log(world, dir.path(L"w.log"));
    EXPECT_TRUE(get_file(dir.wide(L"w.log")) == big.substr(cut));
    EXPECT_EQ(list_names(dir.wide()), std::set<std::wstring>{L"w.log"});
}

TEST(LogTrimOnDisk, ALogThatCannotBeReplacedIsLeftWhole) {
    ScratchDir dir(L"trimheld");
    Win32World world;
    std::string big(LOG_TRIM_THRESHOLD_BYTES + 10, 'z');
    big[150'000] = '\n';
    ASSERT_TRUE(put_file(dir.wide(L"r.log"), big));
    {
        win32::UniqueFile held(::CreateFileW(dir.wide(L"r.log").c_str(), GENERIC_READ,
                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        trim_log(world, dir.path(L"r.log"));
    }
    EXPECT_TRUE(get_file(dir.wide(L"r.log")) == big);
    EXPECT_EQ(list_names(dir.wide()), std::set<std::wstring>{L"r.log"});
}

}  // namespace
}  // namespace wd
