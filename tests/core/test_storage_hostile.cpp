// Containers nobody should trust: truncated, corrupted, crafted. Every one
// opens as an error or as a container whose every record can be read.
#include "core/Storage.h"
#include "core/ZipBlock.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include <sys/resource.h>

using namespace storage_test;

namespace {

CQNF_String S(const std::string& s) { return CQNF_String(s.c_str()); }

const uint32_t kRoot = 0xFFFFFFFF;

unsigned short OpenError(const Bytes& img)
{
    CQNF_Storage st;
    return st.Open(img.data(), img.size()) ? 0 : st.GetError();
}

std::map<std::string, uint32_t> IndexOf(CQNF_Storage& st)
{
    std::map<std::string, uint32_t> keys;
    CQNF_StringArray* all = st.GetAllRecordsArray();
    for (uint32_t i = 0; i < all->GetSize(); ++i)
        keys[(*all)[i].GetStr()] = (*all)[i].GetTag();
    return keys;
}

Bytes Sample()
{
    return Build({{0, kRoot, 1, "Prefs", {}},
                  {1, 1, 2, "Zoom", {3}},
                  {4, 1, 3, "Name", PayloadText("knife")},
                  {0, 1, 4, "Sub", {}},
                  {5, 4, 5, "Blob", {0, 0, 0, 2, 0xAB, 0xCD}},
                  {2, kRoot, 6, "W", {0, 9}}},
                 6);
}

}  // namespace

TEST(StorageHostile, EveryTruncationIsRefused)
{
    const Bytes img = Sample();
    ASSERT_EQ(OpenError(img), 0);
    for (size_t n = 0; n < img.size(); ++n)
        EXPECT_EQ(OpenError(Bytes(img.begin(), img.begin() + n)), 113) << n;
}

TEST(StorageHostile, EverySingleByteCorruptionOpensCleanlyOrNotAtAll)
{
    const Bytes img = Sample();
    ASSERT_EQ(OpenError(img), 0);
    int opened = 0;
    for (size_t i = 0; i < img.size(); ++i) {
        for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(img[i] ^ 0x01), uint8_t(img[i] ^ 0x80), uint8_t('>')}) {
            Bytes bad = img;
            bad[i] = v;
            CQNF_Storage st;
            if (st.Open(bad.data(), bad.size())) {
                ReadEverything(st);
                ++opened;
            } else {
                EXPECT_EQ(st.GetError(), 113) << i << " " << int(v);
            }
        }
    }
    EXPECT_GT(opened, 0) << "payload and stamp bytes are free to change";
}

TEST(StorageHostile, RecordExtentsAreChecked)
{
    // A length running past the records, below the head, or a name longer
    // than its record.
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, "a", {1}, 1000}}, 1)), 113);
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, "a", {1}, 5}}, 1)), 113);
    Bytes img = Build({{1, kRoot, 1, "a", {1}}}, 1);
    img[32 + 14] = 30;  // name length
    EXPECT_EQ(OpenError(img), 113);
    // Payloads that do not fit: a u32 in two bytes, a string count past its record.
    EXPECT_EQ(OpenError(Build({{3, kRoot, 1, "a", {1, 2}}}, 1)), 113);
    EXPECT_EQ(OpenError(Build({{6, kRoot, 1, "a", {1, 2, 3, 4}}}, 1)), 113);
    Bytes longCount = PayloadText("xy");
    longCount[3] = 200;
    EXPECT_EQ(OpenError(Build({{4, kRoot, 1, "a", longCount}}, 1)), 113);
    EXPECT_EQ(OpenError(Build({{5, kRoot, 1, "a", {0, 0}}}, 1)), 113);
    // A count of records larger than the records present, or smaller (bytes
    // left before the trailer), or absurdly large.
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, "a", {1}}}, 1, 2)), 113);
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, "a", {1}}, {1, kRoot, 2, "b", {1}}}, 2, 1)), 113);
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, "a", {1}}}, 1, 0xFFFFFFFF)), 113);
    // A removed record needs only a sane extent; its name may be anything.
    ASSERT_EQ(OpenError(Build({{0x63, kRoot, 1, "", {}}, {1, kRoot, 2, "b", {1}}}, 2)), 0);
    EXPECT_EQ(OpenError(Build({{0x63, kRoot, 1, "", {}, 3}}, 1)), 113);
}

TEST(StorageHostile, NamesThatCannotFormAKeyAreRefused)
{
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, "", {1}}}, 1)), 113);
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, "a>b", {1}}}, 1)), 113);
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, std::string("a\0b", 3), {1}}}, 1)), 113);
    // Two live records of one key: no lookup could tell them apart.
    EXPECT_EQ(OpenError(Build({{1, kRoot, 1, "a", {1}}, {1, kRoot, 2, "a", {2}}}, 2)), 113);
    // The same name in different folders is fine.
    EXPECT_EQ(OpenError(Build({{0, kRoot, 1, "F", {}}, {1, kRoot, 2, "a", {1}}, {1, 1, 3, "a", {2}}}, 3)), 0);
}

TEST(StorageHostile, FolderIdsCannotMakeCycles)
{
    // Two live folders with one id: each would hold the other's children.
    EXPECT_EQ(OpenError(Build({{0, kRoot, 1, "A", {}}, {0, 1, 1, "B", {}}}, 1)), 113);
    EXPECT_EQ(OpenError(Build({{0, kRoot, 1, "A", {}}, {0, kRoot, 1, "B", {}}}, 1)), 113);
    // A folder with the root's id would contain the root.
    EXPECT_EQ(OpenError(Build({{0, kRoot, kRoot, "A", {}}}, 1)), 113);

    // Circles the root never reaches are simply not part of the tree.
    const Bytes img = Build({{0, 2, 1, "A", {}},
                             {0, 1, 2, "B", {}},
                             {0, 3, 3, "Self", {}},
                             {1, 3, 4, "inSelf", {1}},
                             {1, 77, 5, "orphan", {1}},
                             {1, kRoot, 6, "ok", {1}}},
                            6);
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(img.data(), img.size())) << st.GetError();
    EXPECT_EQ(IndexOf(st), (std::map<std::string, uint32_t>{{"ok", WalkIndex(img).at("ok")}}));
    // A removed folder with a shared id is no conflict, and its old children
    // are gone with it.
    const Bytes removed = Build({{0x63, kRoot, 1, "Old", {}}, {0, kRoot, 1, "New", {}}, {1, 1, 2, "k", {1}}}, 2);
    ASSERT_TRUE(st.Open(removed.data(), removed.size()));
    EXPECT_EQ(IndexOf(st), WalkIndex(removed));
}

TEST(StorageHostile, DeepFoldersNeedNoRecursionAndKeysAreBounded)
{
    std::vector<Raw> recs;
    const uint32_t depth = 5000;
    for (uint32_t i = 1; i <= depth; ++i)
        recs.push_back({0, i == 1 ? kRoot : i - 1, i, "f", {}});
    recs.push_back({1, depth, depth + 1, "v", {42}});
    const Bytes img = Build(recs, depth + 1);
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(img.data(), img.size())) << st.GetError();
    std::string key;
    for (uint32_t i = 0; i < depth; ++i)
        key += "f>";
    key += "v";
    uint8_t v = 0;
    EXPECT_TRUE(st.GetRec(S(key), v));
    EXPECT_EQ(v, 42);

    // Past the longest key: refused rather than built.
    std::vector<Raw> deeper;
    const std::string name(300, 'n');
    for (uint32_t i = 1; i <= 300; ++i)
        deeper.push_back({0, i == 1 ? kRoot : i - 1, i, name, {}});
    EXPECT_EQ(OpenError(Build(deeper, 300)), 113);
}

TEST(StorageHostile, OnePassIndexEqualsTheRecordWalk)
{
    // Random trees with removed records, orphans and moved folders, through
    // the writer and by hand, against the walk written out in the test.
    std::mt19937 rng(20240607);
    int compared = 0;
    for (int round = 0; round < 60; ++round) {
        std::vector<Raw> recs;
        std::vector<uint32_t> folders = {kRoot};
        uint32_t id = 0;
        const int n = 5 + int(rng() % 60);
        for (int i = 0; i < n; ++i) {
            ++id;
            const uint32_t parent =
                rng() % 10 == 0 ? 1000 + uint32_t(rng() % 5) : folders[rng() % folders.size()];
            // Unique names, but for a few that may clash.
            std::string name = "dup";
            if (rng() % 8 != 0)
                name = std::to_string(i) + "n";
            const bool folder = rng() % 3 == 0;
            Raw r{uint8_t(folder ? 0 : 3), parent, id, name, folder ? Bytes{} : Payload32(id)};
            if (rng() % 6 == 0)
                r.type = 0x63;
            else if (folder)
                folders.push_back(id);
            recs.push_back(r);
        }
        const Bytes img = Build(recs, id);
        const auto walked = WalkIndex(img);
        CQNF_Storage st;
        if (!st.Open(img.data(), img.size())) {
            // Only a key twice in the tree can make a well-formed one fail.
            EXPECT_EQ(st.GetError(), 113);
            continue;
        }
        EXPECT_EQ(IndexOf(st), walked) << "round " << round;
        ++compared;
    }
    EXPECT_GT(compared, 20);

    TempDir dir;
    const std::string path = dir.File("w.qns");
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(S(path), 2));
    std::vector<std::string> folders = {""};
    for (int i = 0; i < 300; ++i) {
        const std::string parent = folders[rng() % folders.size()];
        const std::string key = (parent.empty() ? "" : parent + ">") + "k" + std::to_string(rng() % 40);
        switch (rng() % 6) {
        case 0:
            if (st.AddFolder(S(key)))
                folders.push_back(key);
            break;
        case 1:
            st.KillRec(S(key));
            break;
        case 2:
            st.Rename(S(key), S((parent.empty() ? "" : parent + ">") + "r" + std::to_string(i)));
            break;
        case 3:
            st.SetRecord(S(key), S(std::string(rng() % 20, 'x')));
            break;
        default:
            st.SetRecord(S(key), uint32_t(i));
            break;
        }
    }
    ASSERT_TRUE(st.Close());
    const Bytes img = ReadFile(path);
    ASSERT_TRUE(st.Open(img.data(), img.size())) << st.GetError();
    EXPECT_EQ(IndexOf(st), WalkIndex(img));
    ReadEverything(st);
}

TEST(StorageHostile, AHeaderThatLagsBehindItsIdsGetsNoDuplicateFolder)
{
    // Last id 0 although ids 1 and 2 exist, and a record waits for a parent
    // 5 nobody has: new ids continue past all of them.
    TempDir dir;
    const std::string path = dir.File("lag.qns");
    WriteFile(path, Build({{0, kRoot, 1, "A", {}}, {0, kRoot, 2, "B", {}}, {1, 5, 3, "stray", {1}}}, 0));
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(S(path), 0));
    ASSERT_TRUE(st.AddFolder("C"));
    ASSERT_TRUE(st.AddFolder("D"));
    ASSERT_TRUE(st.AddFolder("E"));
    ASSERT_TRUE(st.SetRecord("C>x", uint8_t(1)));
    ASSERT_TRUE(st.Close());
    ASSERT_TRUE(st.Open(S(path), 1)) << st.GetError();
    CQNF_StringArray kids;
    for (const char* folder : {"A", "D", "E"}) {
        ASSERT_TRUE(st.GetAllRecords(folder, kids));
        EXPECT_EQ(kids.GetSize(), 0u) << folder;
    }
    uint8_t v = 0;
    EXPECT_TRUE(st.GetRec("C>x", v));
}

TEST(StorageHostile, StringRecordsWithoutTerminator)
{
    Bytes zero = {0, 0, 0, 0};
    Bytes noNul = {0, 0, 0, 3, 'a', 'b', 'c'};
    Bytes inner = {0, 0, 0, 4, 'a', 0, 'c', 0};
    const Bytes img = Build({{4, kRoot, 1, "zero", zero}, {4, kRoot, 2, "nonul", noNul}, {4, kRoot, 3, "inner", inner}}, 3);
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(img.data(), img.size()));
    CQNF_String s("keep");
    EXPECT_FALSE(st.GetRec("zero", s));
    EXPECT_EQ(st.GetError(), 113);
    EXPECT_EQ(s, "keep");
    ASSERT_TRUE(st.GetRec("nonul", s));
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(s.GetLength(), 2u);
    ASSERT_TRUE(st.GetRec("inner", s));
    EXPECT_EQ(s, "a");
    EXPECT_EQ(s.GetLength(), 1u);
}

// ------------------------------------------------------------ indexed variant

namespace {

struct Entry {
    std::string key;
    uint32_t offset;
};

Bytes Indexed(const std::vector<Raw>& recs, uint32_t lastId, const std::vector<Entry>& entries)
{
    Bytes plain = Build(recs, lastId);
    plain.resize(plain.size() - 8);  // the trailer goes behind the index
    plain[7] = 'S';
    Bytes raw;
    for (const Entry& e : entries) {
        Put16(raw, uint16_t(e.key.size()));
        raw.insert(raw.end(), e.key.begin(), e.key.end());
        Put32(raw, e.offset);
    }
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(raw.data(), raw.size());
    EXPECT_TRUE(zip.Process());
    const CQNF_Mem* block = zip.GetDestBlock();
    plain.insert(plain.end(), block->GetPtr(), block->GetPtr() + block->GetSize());
    Put32(plain, block->GetSize());
    const char* t = "QNCPSv40";
    plain.insert(plain.end(), t, t + 8);
    StampImage(plain);
    return plain;
}

const std::vector<Raw> kTree = {{0, kRoot, 1, "UI", {}}, {5, 1, 2, "Img", {0, 0, 0, 1, 7}}, {1, kRoot, 3, "Flag", {1}}};
// Offsets of the three records above: 32, 32 + 4 + 13, and behind that.
const uint32_t kUI = 32, kImg = 32 + 4 + 13, kFlag = kImg + 4 + 11 + 3 + 5;

unsigned short OpenIndexedError(const Bytes& img, CQNF_Storage& st, const TempDir& dir)
{
    const std::string path = dir.File("res.qns4");
    WriteFile(path, img);
    return st.Open(CQNF_String(path.c_str()), 1) ? 0 : st.GetError();
}

}  // namespace

TEST(StorageIndexed, ReadsTheStoredIndex)
{
    TempDir dir;
    const Bytes img = Indexed(kTree, 3, {{"Flag", kFlag}, {"UI", kUI}, {"UI>Img", kImg}});
    CQNF_Storage st;
    ASSERT_EQ(OpenIndexedError(img, st, dir), 0);
    uint8_t flag = 0;
    EXPECT_TRUE(st.GetRec("Flag", flag));
    EXPECT_EQ(flag, 1);
    CQNF_Mem m;
    EXPECT_TRUE(st.GetRec("UI>Img", m));
    EXPECT_EQ(m.GetSize(), 1u);
    CQNF_StringArray kids;
    ASSERT_TRUE(st.GetAllRecords("UI", kids));
    EXPECT_EQ(kids.GetSize(), 1u);
    // Read-only whatever the mode: appending would bury the stored index.
    const std::string path = dir.File("res.qns4");
    ASSERT_TRUE(st.Open(CQNF_String(path.c_str()), 0));
    EXPECT_FALSE(st.SetRecord("Flag", uint8_t(2)));
    EXPECT_EQ(st.GetError(), 115);
    st.Close();
    EXPECT_EQ(ReadFile(path), img);
    // Memory images refuse the variant.
    EXPECT_FALSE(st.Open(img.data(), img.size()));
    EXPECT_EQ(st.GetError(), 113);

    // An index that leaves a record out holds only what it lists; one out of
    // order is still searched right.
    ASSERT_EQ(OpenIndexedError(Indexed(kTree, 3, {{"UI>Img", kImg}, {"UI", kUI}}), st, dir), 0);
    EXPECT_EQ(st.GetTotalRecords(), 2u);
    EXPECT_TRUE(st.GetRec("UI>Img", m));
    EXPECT_EQ(st.GetRecType("Flag"), kQnStorageNoRecord);
}

TEST(StorageIndexed, EntriesMustNameTheirRecords)
{
    TempDir dir;
    CQNF_Storage st;
    // Offsets that are not the record of the key (or no record at all), keys
    // the records do not give, keys twice, empty or too long keys.
    EXPECT_EQ(OpenIndexedError(Indexed(kTree, 3, {{"Flag", kImg}}), st, dir), 113);
    EXPECT_EQ(OpenIndexedError(Indexed(kTree, 3, {{"Flag", kFlag + 1}}), st, dir), 113);
    EXPECT_EQ(OpenIndexedError(Indexed(kTree, 3, {{"Img", kImg}}), st, dir), 113);
    EXPECT_EQ(OpenIndexedError(Indexed(kTree, 3, {{"Flag", kFlag}, {"Flag", kFlag}}), st, dir), 113);
    EXPECT_EQ(OpenIndexedError(Indexed(kTree, 3, {{"", kFlag}}), st, dir), 113);
    EXPECT_EQ(OpenIndexedError(Indexed(kTree, 3, {{std::string(1000, 'k'), kFlag}}), st, dir), 113);
    // A broken index block, or a size field pointing anywhere.
    Bytes img = Indexed(kTree, 3, {{"Flag", kFlag}});
    Bytes broken = img;
    broken[broken.size() - 14] ^= 0xFF;
    EXPECT_NE(OpenIndexedError(broken, st, dir), 0);
    for (uint32_t s : {0u, 1u, 0xFFFFFFFFu, uint32_t(img.size())}) {
        Bytes bad = img;
        bad[bad.size() - 12] = uint8_t(s >> 24);
        bad[bad.size() - 11] = uint8_t(s >> 16);
        bad[bad.size() - 10] = uint8_t(s >> 8);
        bad[bad.size() - 9] = uint8_t(s);
        EXPECT_NE(OpenIndexedError(bad, st, dir), 0) << s;
    }
    // Every truncation.
    for (size_t n = 0; n < img.size(); ++n)
        EXPECT_NE(OpenIndexedError(Bytes(img.begin(), img.begin() + n), st, dir), 0) << n;
}

TEST(StorageHostile, LargeFilesThatAreNoContainerAreRefusedUnread)
{
    // Three gigabytes (holes, costing no disk) behind a beginning that is,
    // or looks like, a container's: each refused by its frame, read only in
    // a few small pieces, by every road that opens a file.
    const uint64_t large = uint64_t(3) << 30;
    const Bytes sample = Sample();
    Bytes badLength = sample;
    badLength[qnstorage::kRecordsOffset] ^= 0x40;  // the first record's length
    Bytes indexed = sample;
    std::memcpy(indexed.data(), "QNCPSv4S", 8);
    struct Case {
        const char* what;
        Bytes head;    // written at the start
        bool trailer;  // the magic written again at the end
    };
    const std::vector<Case> cases = {
        {"the magic, then nothing", Bytes(sample.begin(), sample.begin() + 8), false},
        {"a container's beginning and end around nothing", Bytes(sample.begin(), sample.end() - 8), true},
        {"a record length past the records", Bytes(badLength.begin(), badLength.end() - 8), true},
        {"the indexed variant's beginning", Bytes(indexed.begin(), indexed.end() - 8), true},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.File("large");
        WriteFile(path, c.head);
        std::filesystem::resize_file(path, large);
        if (c.trailer) {
            std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
            f.seekp(std::streamoff(large - 8));
            f.write("QNCPSv40", 8);
        }
        rusage ru{};
        ::getrusage(RUSAGE_SELF, &ru);
        const long before = ru.ru_maxrss;
        for (unsigned short mode : {qnstorage::kOpenReadOnly, qnstorage::kOpenUpdate}) {
            CQNF_Storage st;
            EXPECT_FALSE(st.Open(S(path), mode)) << mode;
            EXPECT_EQ(st.GetError(), qnerr::StorageFormat) << mode;
        }
        ::getrusage(RUSAGE_SELF, &ru);
        EXPECT_LT(ru.ru_maxrss - before, 64L * 1024) << "KiB taken";
        EXPECT_EQ(std::filesystem::file_size(path), large);
    }
}
