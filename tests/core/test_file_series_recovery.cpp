// What the next series makes of a dead run's staging folder: a journal it
// cannot trust is left for a person while the series goes on, files the
// user changed or deleted after the crash stay as the user left them with
// their old files kept beside, and names as long as the file system takes
// are written, put back and kept beside.
#include "core/FileSeries.h"

#include "core/ErrorWords.h"
#include "core/MD5Digest.h"
#include "core/SafeFile.h"
#include "file_series_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>

using namespace series_test;

namespace {

// The next series, of other.png, into dir: whether it was written, and
// what it said on standard error.
std::pair<bool, std::string> WriteOther(const std::string& dir)
{
    testing::internal::CaptureStderr();
    const bool written = WriteSeries(dir, {"other.png"}, "second ");
    return {written, testing::internal::GetCapturedStderr()};
}

// Changes the first three bytes of the file at path in place, as an editor
// that keeps its size does.
void EditInPlace(const std::string& path, const std::string& three)
{
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::pwrite(fd, three.data(), 3, 0), 3);
    ::close(fd);
}

// Writes a new file over path by a rename, as most editors save.
void SaveByRename(const std::string& path, const std::string& text)
{
    const std::string temp = fs::path(path).parent_path().string() + "/saving";
    Put(temp, text);
    fs::rename(temp, path);
}

}  // namespace

// Journals no series may act on, planted or copied into a folder, damaged
// or of an older version: each names a file outside the folder (by an
// absolute path or by ".."), or a file of the folder while it lies in a
// staging folder other than the one it was written in or on another disk,
// or does not match its seal; or the staging folder is a link to a dead
// run's elsewhere. A journal true in every byte, naming the victim through
// a link or a file of the folder, that another user could have written:
// in a staging folder of another user or one others may write, or itself
// another user's or a second name of a file. A dead run's staging folder,
// without a journal, that holds an old file. The planted old file would go over the
// file named. The next series into the folder (whose name holds a line
// end) says so in one line naming the staging folder, escaped, and goes
// on: nothing else changes inside the folder or outside it, and the
// staging folder stays as it was, for a person.
TEST(FileSeries, AJournalItCannotTrustIsLeftForAPersonAndTheSeriesGoesOn)
{
    TempDir top;
    const std::string victim = top.File("victim.txt");
    Put(victim, "precious");
    auto st = [](const std::string& path) {
        struct stat s {};
        ::stat(path.c_str(), &s);
        return s;
    };
    // A journal true to the folder and staging folder, naming p_1.png's file
    // as file; change may make it false.
    auto journalFor = [&](const std::string& folder, const std::string& staging, const std::string& file,
                          const std::function<void(CQNF_FileSeries::Journal&)>& change) {
        CQNF_FileSeries::Journal j;
        j.folderDevice = st(folder).st_dev;
        j.folderInode = st(folder).st_ino;
        j.stagingDevice = st(staging).st_dev;
        j.stagingInode = st(staging).st_ino;
        j.stagingName = fs::path(staging).filename().string();
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        struct statfs fsSt {};
        ::fstatfs(fd, &fsSt);
        ::close(fd);
        int parts[2];
        std::memcpy(parts, &fsSt.f_fsid, sizeof parts);
        j.fileSystem = uint64_t(uint32_t(parts[0])) << 32 | uint32_t(parts[1]);
        // The file it names, as it is now: a run had placed it.
        const std::string named = file[0] == '/' ? file : folder + "/" + file;
        const Bytes bytes = ReadFile(named);
        uint8_t digest[CQNF_MD5Digest::kDigestSize];
        CQNF_MD5Digest::Compute(bytes.data(), bytes.size(), digest);
        CQNF_FileSeries::JournalEntry e;
        e.index = 1;
        e.inode = st(named).st_ino;
        e.size = st(named).st_size;
        for (const uint8_t b : digest)
            e.digest += "0123456789abcdef"[b >> 4], e.digest += "0123456789abcdef"[b & 15];
        e.name = "p_1.png";
        e.file = file;
        j.entries.push_back(e);
        if (change)
            change(j);
        return CQNF_FileSeries::JournalBytes(j);
    };
    using Make = std::function<std::string(const std::string& folder, const std::string& staging)>;
    using Change = std::function<void(const std::string& staging)>;
    const bool root = ::geteuid() == 0;
    const auto sound = [&](auto& f, auto& s) { return journalFor(f, s, "p_1.png", {}); };
    const auto throughLink = [&](auto& f, auto& s) {
        fs::remove(f + "/p_1.png");
        fs::create_symlink(victim, f + "/p_1.png");
        return journalFor(f, s, victim, {});
    };
    const auto chown = [](const std::string& path) { ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0) << path; };
    const struct {
        const char* what;
        Make journal;
        const char* why;
        bool linked;  // the staging folder is a link to one beside the victim
        Change change = {};  // what is done to the staging folder after
        bool asRoot = false;  // only root may do it
        bool ownName = false;  // named as a series names its staging folders
    } cases[] = {
        {"an absolute path", [&](auto& f, auto& s) { return journalFor(f, s, victim, {}); }, "names", false},
        {"a path out of the folder", [&](auto& f, auto& s) { return journalFor(f, s, "../victim.txt", {}); }, "names",
         false},
        {"a staging folder it was not written in",
         [&](auto& f, auto& s) {
             return journalFor(f, s, "p_1.png", [&](auto& j) { j.stagingInode = st(f).st_ino; });
         },
         "copied or moved here", false},
        {"another disk",
         [&](auto& f, auto& s) { return journalFor(f, s, "p_1.png", [](auto& j) { j.fileSystem += 1; }); },
         "on another disk", false},
        {"cut short",
         [&](auto& f, auto& s) {
             const std::string text = journalFor(f, s, "p_1.png", {});
             return text.substr(0, text.size() - 7);
         },
         "is damaged", false},
        {"a byte of a name changed",
         [&](auto& f, auto& s) {
             std::string text = journalFor(f, s, "p_1.png", {});
             text[text.find("p_1.png")] = 'q';
             return text;
         },
         "is damaged", false},
        {"an older version",
         [&](auto& f, auto&) {
             return "tessolo series journal 4\n0 0 0 0 0 1\n" + std::to_string(st(f + "/p_1.png").st_ino) +
                    " 0 0 " + std::string(32, '0') + " p_1.png" + '\0' + "p_1.png" + '\0';
         },
         "older version", false},
        {"a link to a dead run's staging folder elsewhere",
         [&](auto& f, auto& s) { return journalFor(f, s, victim, {}); }, "symbolic link", true},
        {"another user's staging folder, through a link", throughLink, "belongs to user 65534", false,
         [&](auto& s) {
             for (const auto& e : fs::directory_iterator(s))
                 chown(e.path().string());
             chown(s);
         },
         true},
        {"another user's staging folder", sound, "belongs to user 65534", false, chown, true},
        {"a staging folder others may write", throughLink, "may be written by other users", false,
         [](auto& s) { fs::permissions(s, fs::perms::group_write | fs::perms::others_write, fs::perm_options::add); }},
        {"another user's journal", throughLink, "journal of an interrupted series belongs to user 65534", false,
         [&](auto& s) { chown(s + "/journal"); }, true},
        {"a journal others may write", sound, "journal of an interrupted series may be written by other users", false,
         [](auto& s) { fs::permissions(s + "/journal", fs::perms::others_write, fs::perm_options::add); }},
        {"a journal of two names", sound, "has other names", false,
         [&](auto& s) { fs::create_hard_link(s + "/journal", s + "/../journal-too"); }},
        {"no journal", sound, "has no journal, but holds old files", false,
         [](auto& s) { fs::remove(s + "/journal"); }, false, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.asRoot && !root)
            continue;  // files of another user are made by root alone
        const std::string folder = top.File("sha\nred" + std::to_string(++n));
        fs::create_directory(folder);
        Put(folder + "/p_1.png", "old p_1");
        Put(folder + "/p_2.png", "old p_2");
        // A folder of an older version's name is known as a series' by its
        // journal alone.
        const std::string name =
            c.ownName ? DeadRunsStagingFolders(folder, 1).at(0) : ".series-Plt" + std::to_string(100 + n);
        const std::string staging = c.linked ? top.File(name) : folder + "/" + name;
        fs::create_directory(staging);
        fs::permissions(staging, fs::perms::owner_all);
        if (c.linked)
            fs::create_symlink(staging, folder + "/" + name);
        Put(staging + "/1.old", "planted");
        Put(staging + "/journal", c.journal(folder, staging));
        if (c.change)
            c.change(staging);
        auto inFolder = Contents(folder);
        const auto inStaging = Contents(staging);

        EXPECT_EQ(CQNF_FileSeries::Refusal(folder, 0).Detail(), "");
        for (int again = 0; again < 2; ++again) {
            const auto [written, said] = WriteOther(folder);
            EXPECT_TRUE(written);
            const auto lines = LinesOf(said);
            ASSERT_EQ(lines.size(), 1u) << said;
            EXPECT_NE(lines[0].find(top.File("sha\\x0ared" + std::to_string(n)) + "/" + name + ": "), std::string::npos)
                << said;
            EXPECT_NE(lines[0].find(c.why), std::string::npos) << said;
            EXPECT_NE(lines[0].find("left as it is"), std::string::npos) << said;
            inFolder["other.png"] = "second other.png";
            EXPECT_EQ(Contents(folder), inFolder);
            EXPECT_EQ(Contents(staging), inStaging);
            EXPECT_EQ(ReadFile(victim), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
        }
    }
}

// A run killed once its files are all in place leaves a journal; each
// change of one byte of it, anywhere, is refused in the words a damaged
// journal gets, touching nothing, while the next series is written. The
// journal as it was then puts the old set back.
TEST(FileSeries, EveryOneByteChangeOfAJournalIsRefusedTouchingNothing)
{
    TempDir dir;
    const std::vector<std::string> names = Names(3);
    const auto before = PutOldFiles(dir.Path(), names);
    ASSERT_TRUE(KilledInCommit(dir.Path(), dir.Path(), names, names.size()));
    const std::string staging = StagingFolder(dir.Path());
    const std::string journal = staging + "/journal";
    const Bytes original = ReadFile(journal);
    ASSERT_FALSE(original.empty());
    auto left = Contents(dir.Path());
    left["other.png"] = "second other.png";
    const auto inStaging = Contents(staging);
    const int fd = ::open(journal.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    size_t refused = 0;
    for (size_t at = 0; at < original.size(); ++at) {
        for (const uint8_t flip : {uint8_t(0x01), uint8_t(0x20)}) {
            const uint8_t changed = original[at] ^ flip;
            ASSERT_EQ(::pwrite(fd, &changed, 1, off_t(at)), 1);
            const auto [written, said] = WriteOther(dir.Path());
            ASSERT_EQ(::pwrite(fd, &original[at], 1, off_t(at)), 1);
            // The version's digit made another is read as an older version's.
            const bool damaged = said.find(": the journal of an interrupted series is damaged; it is left as it is") !=
                                     std::string::npos ||
                                 (at == 23 && said.find("older version") != std::string::npos);
            refused += written && LinesOf(said).size() == 1 && damaged;
            ASSERT_EQ(Contents(dir.Path()), left) << "byte " << at << " ^ " << int(flip) << ": " << said;
            ASSERT_EQ(Contents(staging), inStaging) << "byte " << at;
        }
    }
    ::close(fd);
    EXPECT_EQ(refused, 2 * original.size());
    ASSERT_TRUE(WriteSeries(dir.Path(), {"other.png"}, "second "));
    EXPECT_EQ(Judge(Contents(dir.Path()), before, names, "new ", {"other.png"}), Holds::OldSet);
    EXPECT_EQ(StagingFolder(dir.Path()), "");
}

namespace {

// A series' name of 255 bytes, the most a name may have, with characters
// of two bytes that a name cut short must not split.
std::string LongName(size_t k)
{
    std::string name = "p";
    for (int c = 0; c < 123; ++c)
        name += "\xc3\xa9";
    const std::string rest = "_" + std::to_string(k) + ".png";
    return name + std::string(255 - name.size() - rest.size(), 'x') + rest;
}

// The name a file called name is kept beside under, with ending after it:
// where that would be longer than 255 bytes, its middle goes, cut between
// characters, and its last bytes (its number) stay.
std::string KeptName(const std::string& name, const std::string& ending)
{
    if (name.size() + ending.size() <= 255)
        return name + ending;
    const std::string tail = name.substr(name.size() - 16);  // "xxxxxxxxx_1.png"
    size_t head = 255 - ending.size() - tail.size();
    while ((uint8_t(name[head]) & 0xC0) == 0x80)
        --head;
    return name.substr(0, head) + tail + ending;
}

}  // namespace

// Names of 255 bytes are written, also over old files: nothing the series
// names for itself is longer.
TEST(FileSeries, NamesAsLongAsTheFileSystemTakesAreWritten)
{
    TempDir dir;
    std::vector<std::string> names;
    for (size_t k = 1; k <= 12; ++k)
        names.push_back(LongName(k));
    EXPECT_EQ(CQNF_FileSeries::Refusal(dir.Path(), 255).Detail(), "");
    EXPECT_NE(CQNF_FileSeries::Refusal(dir.Path(), 256).Detail(), "");
    const auto before = PutOldFiles(dir.Path(), names);
    std::string failure;
    CQNF_FileSeries series;
    ASSERT_TRUE(WriteSeries(series, dir.Path(), names, "new ", failure)) << failure;
    EXPECT_EQ(Judge(Contents(dir.Path()), before, names, "new ", {}), Holds::NewSet);
}

// A run killed in its commit after placing four of its six files; the
// user then edits two it placed in place, deletes one it placed over an
// old file, saves one it never placed (an old file) anew and deletes the
// other. The next series, of another name, puts back only what is still
// as the dead run left it: the edited and the deleted files stay as the
// user left them, the old file of each that had one is kept beside it
// (under a name of its own, never over the user's file of the first name
// tried), the file the run never replaced is the user's as any file is,
// and one line for each kept file says where, the folder's name escaped.
// A next series of the same names, which replaces the changed files, keeps
// each beside its new file first. With names of 255 bytes the kept names
// are cut to fit, and the folder holds no staging folder after.
TEST(FileSeries, AFileChangedOrDeletedAfterAKilledCommitStaysWithItsOldFileBeside)
{
    for (const int form : {0, 1, 2, 3}) {
        const bool sameName = form % 2 == 1, longNames = form >= 2;
        SCOPED_TRACE(std::string(longNames ? "names of 255 bytes" : "short names") +
                     (sameName ? ", a next series of the same names" : ", a next series of another name"));
        std::vector<std::string> names = Names(6);
        if (longNames)
            for (size_t k = 0; k < names.size(); ++k)
                names[k] = LongName(k + 1);
        const std::vector<std::string> second = sameName ? names : std::vector<std::string>{"other.png"};
        auto kept = [&](size_t k, const std::string& ending) { return KeptName(names[k], ending); };
        TempDir top;
        const std::string dir = top.File("o\nut");
        fs::create_directory(dir);
        const auto file = [&](const std::string& name) { return dir + "/" + name; };
        const auto shown = [&](const std::string& name) { return top.File("o\\x0aut/") + name; };
        PutOldFiles(dir, names);
        Put(file(names[4]), "old " + names[4]);
        Put(file(names[5]), "old " + names[5]);
        Put(file(kept(0, ".before-crash")), "the user's own");
        Put(file(kept(0, ".changed-after-crash")), "the user's own too");
        auto expected = Contents(dir);
        ASSERT_TRUE(KilledInCommit(dir, dir, names, 4)) << "the run was not killed in its commit";
        EditInPlace(file(names[0]), "NEW");
        fs::remove(file(names[1]));
        EditInPlace(file(names[3]), "NEW");
        SaveByRename(file(names[4]), "the user's " + names[4]);
        fs::remove(file(names[5]));

        testing::internal::CaptureStderr();
        const bool written = WriteSeries(dir, second, "second ");
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(written);
        expected[names[0]] = "NEW " + names[0];
        expected[kept(0, ".before-crash-2")] = "old " + names[0];
        expected.erase(names[1]);
        expected[kept(1, ".before-crash")] = "old " + names[1];
        expected[names[3]] = "NEW " + names[3];
        expected[names[4]] = "the user's " + names[4];
        expected.erase(names[5]);
        expected[kept(5, ".before-crash")] = "old " + names[5];
        if (sameName) {
            expected[kept(0, ".changed-after-crash-2")] = "NEW " + names[0];
            expected[kept(3, ".changed-after-crash")] = "NEW " + names[3];
        }
        for (const std::string& name : second)
            expected[name] = "second " + name;
        EXPECT_EQ(Contents(dir), expected);
        EXPECT_EQ(StagingFolder(dir), "");
        const auto lines = LinesOf(said);
        ASSERT_EQ(lines.size(), sameName ? 4u : 3u) << said;
        const std::string& last = lines.back();
        EXPECT_NE(lines[0].find(shown(names[0]) + " was changed"), std::string::npos) << said;
        EXPECT_NE(lines[0].find(shown(kept(0, ".before-crash-2"))), std::string::npos) << said;
        EXPECT_NE(lines[1].find(shown(names[1]) + " was deleted"), std::string::npos) << said;
        EXPECT_NE(lines[1].find("kept as " + shown(kept(1, ".before-crash"))), std::string::npos) << said;
        EXPECT_NE(last.find(shown(names[5]) + " was deleted"), std::string::npos) << said;
        EXPECT_NE(last.find("kept as " + shown(kept(5, ".before-crash"))), std::string::npos) << said;
        if (!sameName) {
            EXPECT_NE(lines[0].find("it stays as it is"), std::string::npos) << said;
            EXPECT_NE(lines[1].find("it stays deleted"), std::string::npos) << said;
            EXPECT_NE(last.find("it stays deleted"), std::string::npos) << said;
            continue;
        }
        EXPECT_EQ(lines[0].find("stays"), std::string::npos) << said;
        EXPECT_NE(lines[0].find("kept as " + shown(kept(0, ".changed-after-crash-2"))), std::string::npos) << said;
        EXPECT_NE(lines[0].find(shown(names[0]) + " now holds the new file"), std::string::npos) << said;
        EXPECT_NE(lines[1].find(shown(names[1]) + " now holds the new file"), std::string::npos) << said;
        EXPECT_NE(lines[2].find(shown(names[3]) + " was changed"), std::string::npos) << said;
        EXPECT_NE(lines[2].find("kept as " + shown(kept(3, ".changed-after-crash"))), std::string::npos) << said;
        EXPECT_EQ(lines[2].find("before-crash"), std::string::npos) << said;
        EXPECT_NE(last.find(shown(names[5]) + " now holds the new file"), std::string::npos) << said;
    }
}

// A file of the series that is a link to another disk, where no rename
// reaches: the series is refused in plain words before the work and again
// at its commit, and nothing changes.
TEST(FileSeries, ALinkToAnotherDiskIsRefusedBeforeAnyWork)
{
    TempDir top;
    fs::create_directory(top.File("ser"));
    fs::create_directory(top.File("other"));
    const std::string ser = top.File("ser");
    const std::optional<std::string> said = InOwnMounts([&] {
        if (::mount("tmpfs", top.File("other").c_str(), "tmpfs", 0, "size=64k") != 0)
            return std::string("cannot mount: ") + std::strerror(errno);
        std::string failed;
        for (const bool exists : {true, false}) {
            fs::remove(top.File("other/end.png"));
            if (exists)
                Put(top.File("other/end.png"), "old end");
            fs::remove(ser + "/p_2.png");
            fs::create_symlink("../other/end.png", ser + "/p_2.png");
            const auto before = Contents(ser), away = Contents(top.File("other"));
            const std::string early = CQNF_FileSeries::Refusal(ser, 0, "p_", ".png").Detail();
            if (early != ser + "/p_2.png: is a link to another disk, and a series is written all or none only on "
                            "one disk")
                failed += "before the work: \"" + early + "\"\n";
            CQNF_FileSeries series;
            std::string failure;
            if (WriteSeries(series, ser, Names(3), "new ", failure) || failure.find("another disk") == std::string::npos)
                failed += "the commit: \"" + failure + "\"\n";
            if (Contents(ser) != before || Contents(top.File("other")) != away)
                failed += "the files changed\n";
        }
        ::umount(top.File("other").c_str());
        return failed;
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own";
    EXPECT_EQ(*said, "");
}

// A run killed in its commit on a disk that is then mounted again under
// another device number, as a USB disk plugged in again is: the next series
// there puts the old files back and succeeds, and nothing refuses it before
// the work. A copy of the dead run's staging folder in another folder of
// that disk is still refused, for being copied, and left as it is while the
// series there goes on.
TEST(FileSeries, ARunKilledInItsCommitIsPutBackAfterItsDiskIsMountedAgain)
{
    TempDir top;
    for (const char* folder : {"lower", "upper", "work", "disk", "hold"})
        fs::create_directory(top.File(folder));
    const std::string disk = top.File("disk"), hold = top.File("hold");
    const std::vector<std::string> names = Names(5);
    const std::vector<std::string> second = {"other.png"};
    const std::string noOverlay = "no overlay file system here";
    const std::optional<std::string> said = InOwnMounts([&] {
        // The disk: an overlay, which gets a device number at each mount
        // while its files stay in the folders under it.
        auto mountDisk = [&] {
            const std::string options = "lowerdir=" + top.File("lower") + ",upperdir=" + top.File("upper") +
                                        ",workdir=" + top.File("work");
            return ::mount("overlay", disk.c_str(), "overlay", 0, options.c_str()) == 0 ||
                   ::mount("overlay", disk.c_str(), "overlay", 0, (options + ",userxattr").c_str()) == 0;
        };
        if (!mountDisk())
            return noOverlay;
        const std::string ser = disk + "/ser", copy = disk + "/copy";
        for (const std::string& folder : {ser, copy})
            fs::create_directory(folder);
        const auto before = PutOldFiles(ser, names);
        PutOldFiles(copy, names);
        if (!KilledInCommit(disk, ser, names, 2))
            return std::string("the run was not killed in its commit");
        const std::string staging = StagingFolder(ser);
        fs::copy(staging, copy + "/" + fs::path(staging).filename().string(), fs::copy_options::recursive);
        struct stat was, now;
        ::stat(ser.c_str(), &was);
        // Meanwhile the disk's device number goes to another file system.
        // On a busy machine other mounts come and go too, and the number may
        // come back free: another file system takes it, until it does not.
        int holders = 0;
        do {
            if (::umount(disk.c_str()) != 0 || ::mount("tmpfs", hold.c_str(), "tmpfs", 0, "size=16k") != 0 ||
                !mountDisk())
                return std::string("cannot mount the disk again: ") + std::strerror(errno);
            ++holders;
            ::stat(ser.c_str(), &now);
        } while (now.st_dev == was.st_dev && holders < 16);
        std::string failed;
        if (now.st_dev == was.st_dev || now.st_ino != was.st_ino)
            failed += "the disk came back under the same device number, or changed\n";
        if (const std::string early = CQNF_FileSeries::Refusal(ser, 0).Detail(); !early.empty())
            failed += "refused before the work: " + early + "\n";
        CQNF_FileSeries series;
        std::string failure;
        if (!WriteSeries(series, ser, second, "second ", failure))
            failed += "the next series failed: " + failure + "\n";
        else if (Judge(Contents(ser), before, names, "new ", second) != Holds::OldSet)
            failed += "the folder holds neither the old set nor the new\n";
        const std::string copied = copy + "/" + fs::path(staging).filename().string();
        const auto inCopy = Contents(copied);
        testing::internal::CaptureStderr();
        const bool written = WriteSeries(copy, second, "second ");
        const std::string line = testing::internal::GetCapturedStderr();
        if (!written || line.find(copied + ": the journal of an interrupted series was written in another folder "
                                           "(copied or moved here)") == std::string::npos ||
            Contents(copied) != inCopy)
            failed += "the copy: \"" + line + "\"\n";
        ::umount(disk.c_str());
        while (holders-- > 0)
            ::umount(hold.c_str());
        return failed;
    });
    if (!said || *said == noOverlay)
        GTEST_SKIP() << "this system gives a process no mounts of its own, or no overlay file system";
    EXPECT_EQ(*said, "");
}


namespace {

// In a child process: the hook that kills it as its journal's temporary
// file gets its name, before the journal is whole.
// In a child process: the file whose hidden temporary name it dies at.
const char* g_dieAtNamed = "journal";

void DieAtNamed(const std::string& temp)
{
    if (fs::path(temp).filename().string().rfind("." + std::string(g_dieAtNamed) + ".", 0) == 0)
        ::raise(SIGKILL);
}

}  // namespace

// A run killed at any step of its commit, on the test's own disk and on a
// vfat image through FUSE (which cannot rename without replacing nor give a
// file a second name): as it writes its journal, once that is on disk,
// after each target it replaces, on vfat also between moving each old file
// aside and moving its new file in, once its staging folder is marked
// finished, once its journal is gone, and once its old files are too; once
// it placed its first file,
// which the user then deletes; and as it writes the mark it puts into its
// staging folder first, before its commit. The vfat disk is also unmounted
// and mounted again before the next series, as a stick pulled out is, and
// then gives every file another inode number. The next series, of another
// name, puts back a series that was not finished (the old set), keeps a
// finished one (the new set), and leaves no staging folder, saying nothing
// but where the deleted file's old file is kept beside it. Nothing any run
// wrote on the vfat disk is lost there either: its check finds it clean.
TEST(FileSeries, ARunKilledAtAnyStepOfItsCommitIsPutBackOrKeptWhole)
{
    TempDir top;
    const std::string disk = top.File("disk"), image = top.File("vfat.img");
    fs::create_directory(disk);
    const std::vector<std::string> names = Names(4);
    const std::vector<std::string> second = {"other.png"};
    struct Step {
        bool aside;  // killed once the old file of target at is moved aside
        size_t at;   // else the commit hook's count, one more (0: as the journal is named)
        bool deleted = false;  // the first file is deleted after the kill
        bool marking = false;  // killed as the staging folder's mark is named, in Begin
    };
    std::vector<Step> steps;
    for (size_t at = 0; at <= names.size() + 4; ++at)
        steps.push_back({false, at});
    for (size_t at = 0; at < 3; ++at)
        steps.push_back({true, at});
    steps.push_back({false, 2, true});
    steps.push_back({false, 0, false, true});
    const std::optional<std::string> said = InOwnMounts([&] {
        std::string failed;
        for (const int round : {0, 1, 2}) {
            const bool fuse = round > 0, remount = round == 2;
            const std::string kind = !fuse ? "own disk" : remount ? "vfat through FUSE, mounted again" : "vfat through FUSE";
            if (fuse && round == 1) {
                fs::remove_all(disk);
                fs::create_directory(disk);
                if (const std::string why = MountFusefat(image, disk); !why.empty())
                    return failed + why;
            }
            for (const Step& step : steps) {
                // The test's own disk gives the old files a second name: none
                // is moved aside there.
                if (step.aside && !fuse)
                    continue;
                const std::string at = kind + ", killed " +
                                       (step.marking ? "as its mark was written"
                                                     : (step.aside ? "with old file " : "at step ") +
                                                           std::to_string(step.at) + (step.aside ? " aside" : "")) +
                                       (step.deleted ? ", its first file deleted" : "") + ": ";
                const std::string ser = disk + "/ser" + std::to_string(round) +
                                        (step.aside ? "a" : step.deleted ? "d" : step.marking ? "m" : "s") +
                                        std::to_string(step.at);
                fs::create_directory(ser);
                PutOldFiles(ser, names);
                // As written: a FUSE disk may not give back at once what was
                // just written to it.
                std::map<std::string, std::string> before{{"notes.txt", "not in the series"}};
                for (size_t k = 0; k < 3; ++k)
                    before[names[k]] = "old " + names[k];
                const pid_t pid = ::fork();
                if (pid == 0) {
                    if (step.aside) {
                        g_killWhenPlaced = step.at;
                        CQNF_FileSeries::SetAsideHook(KillWhenPlaced);
                    } else if (step.at == 0) {
                        g_dieAtNamed = step.marking ? "mark" : "journal";
                        qnSafeFileForceNamedTemp(true);
                        qnSafeFileSetNamedHook(DieAtNamed);
                    } else {
                        g_killWhenPlaced = step.at - 1;
                        CQNF_FileSeries::SetCommitHook(KillWhenPlaced);
                    }
                    ::_exit(WriteSeries(ser, names, "new ") ? 0 : 1);
                }
                int status = 0;
                if (::waitpid(pid, &status, 0) != pid || !WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
                    failed += at + "the run was not killed\n";
                    continue;
                }
                const bool finished = !step.aside && step.at > names.size() + 1;
                if (StagingFolder(ser).empty())
                    failed += at + "the run left no staging folder\n";
                if (remount && (::umount(disk.c_str()) != 0 || !MountFusefat(image, disk, false).empty()))
                    return failed + at + "cannot mount the disk again\n";
                std::string kept;
                if (step.deleted) {
                    fs::remove(ser + "/" + names[0]);
                    before.erase(names[0]);
                    before[names[0] + ".before-crash"] = "old " + names[0];
                    kept = ser + "/" + names[0] + " was deleted after a series that was writing it was interrupted: it "
                                                  "stays deleted, and the file it replaced is kept as " +
                           ser + "/" + names[0] + ".before-crash\n";
                }
                const auto [written, line] = WriteOther(ser);
                if (!written || line != (kept.empty() ? kept : program_invocation_short_name + (": " + kept)))
                    failed += at + "the next series failed or spoke: " + line + "\n";
                if (Judge(Contents(ser), before, names, "new ", second) != (finished ? Holds::NewSet : Holds::OldSet)) {
                    failed += at + "the folder does not hold the " + (finished ? "new" : "old") + " set:";
                    for (const auto& [name, text] : Contents(ser))
                        failed += " " + name + "=" + text;
                    failed += "\n";
                }
                if (Contents(ser)[second[0]] != "second " + second[0])
                    failed += at + "the next series is not in place\n";
            }
        }
        if (::umount(disk.c_str()) != 0)
            return failed + "cannot unmount the vfat disk: " + std::strerror(errno) + "\n";
        // Every staging folder went with the space its files took.
        return failed + VfatNotClean(image);
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own";
    EXPECT_EQ(*said, "");
}

// A series stopped by SIGTERM while it stages, on a FAT stick through FUSE
// (whose renamed folders lose what they hold): the folder keeps its old
// set, and the staging folder goes with the space its files took.
TEST(FileSeries, ASeriesStoppedOnAVfatStickLeavesNoSpaceTaken)
{
    TempDir top;
    const std::string disk = top.File("disk"), image = top.File("vfat.img");
    fs::create_directory(disk);
    const std::vector<std::string> names = Names(4);
    const std::optional<std::string> said = InOwnMounts([&] {
        if (const std::string why = MountFusefat(image, disk); !why.empty())
            return why;
        const auto before = PutOldFiles(disk, names);
        std::string failed;
        const pid_t pid = ::fork();
        if (pid == 0) {
            CQNF_FileSeries series;
            bool ok = series.Begin(disk);
            for (size_t k = 0; ok && k < names.size(); ++k) {
                Put(series.StagedPath(names[k]), "new " + names[k] + std::string(40000, 'x'));
                series.Add(names[k]);
            }
            ::raise(SIGTERM);
            ::_exit(3);
        }
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid || !WIFSIGNALED(status) || WTERMSIG(status) != SIGTERM)
            failed += "the series did not end as SIGTERM ends a program\n";
        if (Judge(Contents(disk), before, names, "new ", {}) != Holds::OldSet)
            failed += "the folder does not hold its old set\n";
        if (::umount(disk.c_str()) != 0)
            return failed + "cannot unmount the vfat disk: " + std::strerror(errno) + "\n";
        return failed + VfatNotClean(image);
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own";
    EXPECT_EQ(*said, "");
}

// A run killed in its commit whose old file cannot go back: its target is
// a mount point now, which no rename replaces. The next series fails,
// naming the file, the reason and where its old file is kept, and writes
// nothing; once the target can be replaced again, the series after puts
// the old set back. The dead run's journal is of the older form, which
// knows placed files by their inodes, in a staging folder of an older
// version's name: both are still read, and the folder goes.
TEST(FileSeries, AnOldFileThatCannotGoBackFailsTheNextSeriesUntilItCan)
{
    TempDir dir;
    const std::vector<std::string> names = Names(3);
    const std::vector<std::string> second = {"other.png"};
    const std::optional<std::string> said = InOwnMounts([&] {
        const auto before = PutOldFiles(dir.Path(), names);
        if (!KilledInCommit(dir.Path(), dir.Path(), names, 2))
            return std::string("the run was not killed in its commit");
        // As an older version named it.
        const std::string staging = dir.File(".series-Older1");
        fs::rename(StagingFolder(dir.Path()), staging);
        const Bytes bytes = ReadFile(staging + "/journal");
        CQNF_FileSeries::Journal journal;
        std::string why;
        if (!CQNF_FileSeries::ParseJournal(bytes.data(), bytes.size(), journal, why))
            return "the journal does not read: " + why;
        journal.version = 5;
        for (CQNF_FileSeries::JournalEntry& e : journal.entries) {
            struct stat st {};
            const std::string staged = staging + "/" + std::to_string(e.index);
            ::stat(fs::exists(staged) ? staged.c_str() : (dir.Path() + "/" + e.file).c_str(), &st);
            e.inode = st.st_ino;
        }
        struct stat folderSt {};
        ::stat(dir.Path().c_str(), &folderSt);
        journal.folderDevice = folderSt.st_dev;
        Put(staging + "/journal", CQNF_FileSeries::JournalBytes(journal));
        const std::string target = dir.File(names[0]);
        if (::mount(target.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return std::string("cannot bind a file: ") + std::strerror(errno);
        std::string failed;
        const auto inStaging = Contents(staging);
        CQNF_FileSeries series;
        std::string failure;
        if (WriteSeries(series, dir.Path(), second, "second ", failure) ||
            failure != target + ": cannot be put back as it was before an interrupted series (" +
                           qnSystemWords(EBUSY) + "); its old file is kept as " + staging + "/1.old")
            failed += "the next series: \"" + failure + "\"\n";
        if (Contents(staging)["1.old"] != inStaging.at("1.old") || !fs::exists(staging + "/journal") ||
            fs::exists(dir.File(second[0])))
            failed += "the old file or the journal went, or the series was written\n";
        ::umount(target.c_str());
        if (!WriteSeries(series, dir.Path(), second, "second ", failure))
            failed += "the series after: " + failure + "\n";
        if (Judge(Contents(dir.Path()), before, names, "new ", second) != Holds::OldSet || !StagingFolder(dir.Path()).empty())
            failed += "the old set is not back\n";
        return failed;
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own";
    EXPECT_EQ(*said, "");
}
