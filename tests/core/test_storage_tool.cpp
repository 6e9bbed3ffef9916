// The storage sub-commands of tessolo-tool, run as a person would run them.
#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/wait.h>

using namespace storage_test;

namespace {

const std::string kTool = std::string(TESSOLO_BINARY_DIR) + "/tools/tessolo-tool";

// Runs a command line; returns its exit code and what it printed.
int Shell(const std::string& cmd, std::string* out = nullptr)
{
    FILE* p = ::popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!p)
        return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    const int status = ::pclose(p);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

class StorageTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(kTool)) << kTool << " was not built";
    }
    std::string Tool(const std::string& args) { return Q(kTool) + " " + args; }
    TempDir dir;
};

}  // namespace

TEST_F(StorageTool, PutCreatesAStampedContainerThatLsAndGetRead)
{
    const std::string f = dir.File("c.qns");
    ASSERT_EQ(Shell(Tool("storage put " + Q(f) + " 'Prefs>Sub>Zoom' 2 640")), 0);
    ASSERT_EQ(Shell(Tool("storage put " + Q(f) + " 'Prefs>Name' 4 'two words'")), 0);
    ASSERT_EQ(Shell(Tool("storage put " + Q(f) + " Ratio 6 0.25")), 0);
    ASSERT_EQ(Shell("printf 'a\\000b' | " + Tool("storage put " + Q(f) + " Blob 5 -")), 0);
    ASSERT_EQ(Shell(Tool("storage put " + Q(f) + " 'Prefs>Sub>Zoom' 2 700")), 0);

    EXPECT_EQ(Shell(Tool("storage check " + Q(f))), 0);
    const Bytes img = ReadFile(f);
    uint8_t digest[16];
    CQNF_MD5Digest::Compute(img.data() + 24, img.size() - 24, digest);
    EXPECT_EQ(Bytes(img.begin() + 8, img.begin() + 24), Bytes(digest, digest + 16));

    std::string out;
    ASSERT_EQ(Shell(Tool("storage ls " + Q(f)), &out), 0);
    EXPECT_EQ(out,
              "key\ttype\tbytes\n"
              "Prefs\t0\t0\n"
              "Prefs>Sub\t0\t0\n"
              "Prefs>Sub>Zoom\t2\t2\n"
              "Prefs>Name\t4\t10\n"
              "Ratio\t6\t8\n"
              "Blob\t5\t3\n");
    ASSERT_EQ(Shell(Tool("storage get " + Q(f) + " 'Prefs>Sub>Zoom'"), &out), 0);
    EXPECT_EQ(out, "700\n");
    ASSERT_EQ(Shell(Tool("storage get " + Q(f) + " 'Prefs>Name'"), &out), 0);
    EXPECT_EQ(out, "two words\n");
    ASSERT_EQ(Shell(Tool("storage get " + Q(f) + " Ratio"), &out), 0);
    EXPECT_EQ(out, "0.25\n");
    ASSERT_EQ(Shell(Tool("storage get " + Q(f) + " Blob"), &out), 0);
    EXPECT_EQ(out, std::string("a\0b", 3));

    // Through a dangling link the container is made where the link points;
    // the link stays.
    const std::string link = dir.File("link.qns"), target = dir.File("made.qns");
    std::filesystem::create_symlink(target, link);
    ASSERT_EQ(Shell(Tool("storage put " + Q(link) + " K 1 7")), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    ASSERT_EQ(Shell(Tool("storage get " + Q(target) + " K"), &out), 0);
    EXPECT_EQ(out, "7\n");
}

TEST_F(StorageTool, BadInputFailsWithoutTouchingTheFile)
{
    const std::string f = dir.File("c.qns");
    ASSERT_EQ(Shell(Tool("storage put " + Q(f) + " K 1 7")), 0);
    ASSERT_EQ(Shell(Tool("storage put " + Q(f) + " 'F>a' 4 kept")), 0);
    ASSERT_EQ(Shell(Tool("storage put " + Q(f) + " 'F>b' 3 5")), 0);
    const Bytes before = ReadFile(f);
    // A wrong command line exits 2, as in every program; a refused change 1.
    EXPECT_EQ(Shell(Tool("storage put " + Q(f) + " K 1 256")), 2);
    EXPECT_EQ(Shell(Tool("storage put " + Q(f) + " K 7 1")), 2);
    EXPECT_EQ(Shell(Tool("storage put " + Q(f) + " 'K>X' 1 1")), 1);
    // A value put over a folder would take the records below it along.
    for (const char* type : {"1 1", "4 x", "6 0.5"})
        EXPECT_EQ(Shell(Tool("storage put " + Q(f) + " F " + type)), 1) << type;
    EXPECT_EQ(Shell(Tool("storage put " + Q(f) + " 'A>' 1 1")), 2);
    EXPECT_EQ(Shell(Tool("storage get " + Q(f) + " missing")), 1);
    EXPECT_EQ(Shell(Tool("storage ls")), 2);
    EXPECT_EQ(ReadFile(f), before);

    // Damage that breaks the frame, damage to the stamp alone, and a record
    // cut off from its parent (hidden from the index, but still there): no
    // command reads such a container as if it were whole.
    const struct {
        const char* what;
        size_t offset;
    } damages[] = {{"trailer", before.size() - 1}, {"stamp", 8}, {"first record's parent", 36}};
    for (const auto& d : damages) {
        SCOPED_TRACE(d.what);
        Bytes bad = before;
        bad[d.offset] ^= 1;
        WriteFile(f, bad);
        for (const char* command : {"check ", "ls ", "get "})
            EXPECT_EQ(Shell(Tool(std::string("storage ") + command + Q(f) + (*command == 'g' ? " 'F>a'" : ""))), 1)
                << command;
        EXPECT_EQ(Shell(Tool("storage put " + Q(f) + " K 1 8")), 1);
        EXPECT_EQ(ReadFile(f), bad) << "a corrupt container is left alone";
    }
}

TEST_F(StorageTool, Md5AndZipBlocks)
{
    const std::string in = dir.File("in.bin"), z = dir.File("in.z"), back = dir.File("back.bin");
    Bytes data(100000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * i % 251);
    WriteFile(in, data);
    std::string ours, theirs;
    ASSERT_EQ(Shell(Tool("md5 " + Q(in)), &ours), 0);
    ASSERT_EQ(Shell("md5sum " + Q(in), &theirs), 0);
    EXPECT_EQ(ours, theirs);
    uint8_t digest[16];
    CQNF_MD5Digest::Compute(data.data(), data.size(), digest);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    EXPECT_EQ(ours.substr(0, 32), hex);

    ASSERT_EQ(Shell(Tool("zip " + Q(in) + " " + Q(z))), 0);
    const Bytes block = ReadFile(z);
    ASSERT_GE(block.size(), 16u);
    EXPECT_EQ(std::string(block.begin(), block.begin() + 8), "QNCV2-01");
    ASSERT_EQ(Shell(Tool("unzip " + Q(z) + " " + Q(back))), 0);
    EXPECT_EQ(ReadFile(back), data);
    EXPECT_EQ(Shell(Tool("unzip " + Q(in) + " " + Q(back))), 1);
    EXPECT_EQ(Shell(Tool("md5 " + Q(dir.File("missing")))), 1);
}

TEST_F(StorageTool, WhatIsNoContainerFailsWithAPlainReason)
{
    const std::string empty = dir.File("empty.qns"), folder = dir.File("folder");
    WriteFile(empty, {});
    std::filesystem::create_directory(folder);
    struct Case {
        std::string file;
        std::string says;
    };
    for (const Case& c : {Case{empty, "not a storage container"}, Case{"/dev/zero", "not a regular file"},
                          Case{folder, "is a folder"}}) {
        for (const char* sub : {"check", "ls", "get", "put"}) {
            SCOPED_TRACE(c.file + " " + sub);
            const std::string more = std::string(sub) == "get" ? " K" : std::string(sub) == "put" ? " K 1 1" : "";
            std::string out;
            // Standard error joins the output here.
            const int code = Shell("{ " + Tool(std::string("storage ") + sub + " " + Q(c.file) + more) + " 2>&1; }", &out);
            if (c.file == empty && std::string(sub) == "put") {
                EXPECT_EQ(code, 0) << "an empty file becomes a container";
                WriteFile(empty, {});
                continue;
            }
            EXPECT_EQ(code, 1);
            EXPECT_NE(out.find(c.says), std::string::npos) << out;
            EXPECT_EQ(out.find("Success"), std::string::npos) << out;
            EXPECT_EQ(out.find("stamp OK"), std::string::npos) << out;
        }
    }
}

TEST_F(StorageTool, PutIntoADamagedContainerNeedsRepair)
{
    const std::string f = dir.File("c.qns");
    ASSERT_EQ(Shell(Tool("storage put " + Q(f) + " Text 4 hello")), 0);
    // The container still parses, but its content no longer matches its stamp.
    Bytes bad = ReadFile(f);
    const size_t at = std::string(bad.begin(), bad.end()).find("hello");
    ASSERT_NE(at, std::string::npos);
    bad[at] = 'j';
    WriteFile(f, bad);
    std::string out;
    EXPECT_EQ(Shell("{ " + Tool("storage put " + Q(f) + " K 1 1") + " 2>&1; }", &out), 1);
    EXPECT_NE(out.find("--repair"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(f), bad) << "the damage is not stamped away";

    ASSERT_EQ(Shell(Tool("storage put --repair " + Q(f) + " K 1 1")), 0);
    EXPECT_EQ(Shell(Tool("storage check " + Q(f))), 0);
    ASSERT_EQ(Shell(Tool("storage get " + Q(f) + " Text"), &out), 0);
    EXPECT_EQ(out, "jello\n");
}

TEST_F(StorageTool, PutsRunningAtOnceKeepEveryKey)
{
    const std::string f = dir.File("c.qns");
    // Eight at once, the first of them making the file.
    std::string script;
    for (int i = 0; i < 8; ++i)
        script += Tool("storage put " + Q(f) + " 'P>k" + std::to_string(i) + "' 3 " + std::to_string(i)) + " & ";
    ASSERT_EQ(Shell("{ " + script + "wait; }"), 0);
    std::string out;
    ASSERT_EQ(Shell(Tool("storage ls " + Q(f)), &out), 0);
    for (int i = 0; i < 8; ++i)
        EXPECT_NE(out.find("P>k" + std::to_string(i) + "\t3\t4\n"), std::string::npos) << out;
    EXPECT_EQ(Shell(Tool("storage check " + Q(f))), 0);
}

// A put whose write fails (the file size limit stands in for a full disk)
// leaves the file as it was: a missing one missing, whether nothing could
// be written or only the value could not, and a container byte for byte.
TEST_F(StorageTool, APutThatCannotWriteLeavesTheFileAsItWas)
{
    const std::string blob = dir.File("blob"), kept = dir.File("kept.qns");
    WriteFile(blob, Bytes(4000, 0x5a));
    ASSERT_EQ(Shell(Tool("storage put " + Q(kept) + " 'F>K' 4 kept")), 0);
    const Bytes before = ReadFile(kept);
    // 0: not even an empty container can be written; 1 (512 bytes): it can,
    // the value cannot.
    for (const char* limit : {"0", "1"}) {
        SCOPED_TRACE(std::string("ulimit -f ") + limit);
        const std::string limited = std::string("trap '' XFSZ; ulimit -f ") + limit + "; ";
        const std::string fresh = dir.File(std::string("new") + limit + ".qns");
        std::string out;
        EXPECT_EQ(Shell("{ " + limited + Tool("storage put " + Q(fresh) + " Big 5 - < " + Q(blob)) + " 2>&1; }", &out),
                  1);
        EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
        EXPECT_FALSE(std::filesystem::exists(fresh)) << "a missing container stays missing";
        EXPECT_EQ(Shell(limited + Tool("storage put " + Q(kept) + " Big 5 - < " + Q(blob))), 1);
        EXPECT_EQ(ReadFile(kept), before);
    }
    // The same put with room makes the container.
    ASSERT_EQ(Shell(Tool("storage put " + Q(dir.File("new.qns")) + " Big 5 - < " + Q(blob))), 0);
    EXPECT_EQ(Shell(Tool("storage check " + Q(dir.File("new.qns")))), 0);
}

// Stamped containers whose records cannot be reached from the root: a
// folder that is its own parent, folders that hold each other, a record
// whose parent folder is missing. check names each break and fails; ls
// lists what it reaches and fails, saying records are left out.
TEST_F(StorageTool, RecordsCutOffFromTheFolderTreeAreReported)
{
    const uint32_t root = 0xFFFFFFFF;
    const std::vector<Raw> sound = {{0, root, 1, "A", {}}, {3, 1, 0, "v", Payload32(7)}};
    const struct {
        const char* what;
        std::vector<Raw> records;
        std::vector<std::string> says;
    } cases[] = {
        {"its own parent", {{0, 2, 2, "Loop", {}}, {3, 2, 0, "inside", Payload32(1)}},
         {"folder \"Loop\" (id 2) is its own parent", "it and the 1 record below it are cut off"}},
        {"a circle", {{0, 4, 3, "P", {}}, {0, 3, 4, "Q", {}}, {3, 4, 0, "x", Payload32(1)}},
         {"folders \"P\" (id 3) and \"Q\" (id 4)", "circle", "they and the 1 record below them are cut off"}},
        {"a missing parent", {{4, 9, 0, "stray", PayloadText("s")}},
         {"record \"stray\" names folder id 9 as its parent", "it is cut off"}},
    };
    const std::string f = dir.File("c.qns");
    WriteFile(f, Build(sound, 1));
    std::string out;
    ASSERT_EQ(Shell(Tool("storage check " + Q(f)), &out), 0);
    EXPECT_NE(out.find("stamp OK"), std::string::npos) << out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Raw> records = sound;
        records.insert(records.end(), c.records.begin(), c.records.end());
        WriteFile(f, Build(records, 4));
        EXPECT_EQ(Shell("{ " + Tool("storage check " + Q(f)) + " 2>&1; }", &out), 1);
        EXPECT_EQ(out.find("stamp OK"), std::string::npos) << out;
        for (const std::string& s : c.says)
            EXPECT_NE(out.find(s), std::string::npos) << out;
        EXPECT_EQ(Shell("{ " + Tool("storage ls " + Q(f)) + " 2>/dev/null; }", &out), 1);
        EXPECT_EQ(out, "key\ttype\tbytes\nA\t0\t0\nA>v\t3\t4\n");
        EXPECT_EQ(Shell("{ " + Tool("storage ls " + Q(f)) + " 2>&1 >/dev/null; }", &out), 1);
        EXPECT_NE(out.find("cut off from the folder tree"), std::string::npos) << out;
    }
}
