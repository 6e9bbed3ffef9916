// The operations of the container on files and memory images.
#include "core/Storage.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <set>

using namespace storage_test;

namespace {

CQNF_String S(const std::string& s) { return CQNF_String(s.c_str()); }

// A fresh read-write container in a temporary folder.
struct Fixture {
    TempDir dir;
    std::string path = dir.File("c.qns");
    CQNF_Storage st;
    Fixture() { EXPECT_TRUE(st.Open(S(path), 2)); }
};

std::set<std::string> Keys(CQNF_Storage& st)
{
    std::set<std::string> keys;
    CQNF_StringArray* all = st.GetAllRecordsArray();
    for (uint32_t i = 0; i < all->GetSize(); ++i)
        keys.insert((*all)[i].GetStr());
    return keys;
}

}  // namespace

TEST(StorageOps, OpeningFilesByPath)
{
    TempDir dir;
    CQNF_Storage st;
    EXPECT_FALSE(st.Open(S(dir.File("missing")), 1));
    EXPECT_EQ(st.GetError(), 32);
    EXPECT_FALSE(st.Open(S(dir.File("missing")), 0));
    EXPECT_EQ(st.GetError(), 32);

    const std::string empty = dir.File("empty");
    WriteFile(empty, {});
    EXPECT_FALSE(st.Open(S(empty), 1));
    EXPECT_EQ(st.GetError(), 1);
    EXPECT_TRUE(ReadFile(empty).empty()) << "a refused open writes nothing";
    ASSERT_TRUE(st.Open(S(empty), 0));
    EXPECT_EQ(ReadFile(empty).size(), 40u);
    ASSERT_TRUE(st.Close());
    EXPECT_TRUE(st.CheckMD5(S(empty)));

    // Garbage is not a container; the file stays as it was.
    const std::string junk = dir.File("junk");
    WriteFile(junk, Bytes(100, 'j'));
    EXPECT_FALSE(st.Open(S(junk), 0));
    EXPECT_EQ(st.GetError(), 113);
    EXPECT_EQ(ReadFile(junk), Bytes(100, 'j'));
}

TEST(StorageOps, FoldersParentsAndTypes)
{
    Fixture f;
    CQNF_Storage& st = f.st;
    EXPECT_FALSE(st.SetRecord("A>B", uint8_t(5)));
    EXPECT_EQ(st.GetError(), 117);
    ASSERT_TRUE(st.AddFolder("A"));
    EXPECT_EQ(st.GetError(), 0);
    ASSERT_TRUE(st.SetRecord("A>B", uint8_t(5)));
    uint8_t u8 = 0;
    EXPECT_TRUE(st.GetRec("A>B", u8));
    EXPECT_EQ(u8, 5);
    uint16_t u16 = 77;
    EXPECT_FALSE(st.GetRec("A>B", u16));
    EXPECT_EQ(st.GetError(), 118);
    EXPECT_EQ(u16, 77) << "a failed read leaves the variable alone";

    EXPECT_FALSE(st.AddFolder("A"));
    EXPECT_EQ(st.GetError(), 116);
    EXPECT_EQ(st.GetRecType("nope"), kQnStorageNoRecord);
    EXPECT_EQ(st.GetError(), 114);
    EXPECT_FALSE(st.GetRec("nope", u8));
    EXPECT_EQ(st.GetError(), 114);
    // A value is not a parent.
    EXPECT_FALSE(st.SetRecord("A>B>C", uint8_t(1)));
    EXPECT_EQ(st.GetError(), 117);
    EXPECT_EQ(st.GetRecType("A"), 0);
    _QNSTORAGEDATA slot{};
    slot.u8 = 9;
    EXPECT_EQ(st.GetRec("A", slot), 0);
    EXPECT_EQ(slot.u8, 0);
}

TEST(StorageOps, KeysWithEmptyNamesAreRefused)
{
    Fixture f;
    ASSERT_TRUE(f.st.AddFolder("A"));
    for (const char* bad : {"", ">A", "A>", "A>>B", ">", "A>B>"}) {
        EXPECT_FALSE(f.st.AddFolder(bad)) << bad;
        EXPECT_EQ(f.st.GetError(), 1) << bad;
        EXPECT_FALSE(f.st.SetRecord(bad, uint32_t(1))) << bad;
    }
    EXPECT_FALSE(f.st.Rename("A", "A>"));
    EXPECT_EQ(f.st.GetError(), 1);
    EXPECT_EQ(f.st.GetTotalRecords(), 1u);
}

TEST(StorageOps, StringsShrinkInPlaceAndGrowByAppending)
{
    Fixture f;
    CQNF_Storage& st = f.st;
    ASSERT_TRUE(st.SetRecord("T", S("abc")));
    const size_t size1 = ReadFile(f.path).size();
    ASSERT_TRUE(st.SetRecord("T", S("ab")));
    Bytes file = ReadFile(f.path);
    EXPECT_EQ(file.size(), size1) << "rewritten in place";
    EXPECT_EQ(Get32(file, 24), 1u);
    EXPECT_EQ(Get32(file, 32), 1u + 15 + 4) << "the length field keeps its old value";
    CQNF_String s;
    ASSERT_TRUE(st.GetRec("T", s));
    EXPECT_EQ(s, "ab");

    ASSERT_TRUE(st.SetRecord("T", S("abcdef")));
    file = ReadFile(f.path);
    EXPECT_EQ(file.size(), size1 + 4 + 1 + 15 + 7) << "grows by the new record only";
    EXPECT_EQ(file[32 + 4], 0x63) << "the old record is marked removed";
    EXPECT_EQ(Get32(file, 24), 2u);
    ASSERT_TRUE(st.GetRec("T", s));
    EXPECT_EQ(s, "abcdef");

    // Another type replaces the record.
    ASSERT_TRUE(st.SetRecord("T", uint8_t(3)));
    EXPECT_EQ(st.GetRecType("T"), 1);
    EXPECT_FALSE(st.GetRec("T", s));
    EXPECT_EQ(st.GetError(), 118);
    // Values of fixed size are overwritten in place.
    const size_t size2 = ReadFile(f.path).size();
    ASSERT_TRUE(st.SetRecord("T", uint8_t(4)));
    EXPECT_EQ(ReadFile(f.path).size(), size2);
    uint8_t v = 0;
    EXPECT_TRUE(st.GetRec("T", v));
    EXPECT_EQ(v, 4);
}

TEST(StorageOps, BinaryRecordsAndTheBufferReader)
{
    Fixture f;
    CQNF_Storage& st = f.st;
    const unsigned char data[5] = {1, 0, 2, 0, 3};
    ASSERT_TRUE(st.SetRecord("Bin", data, 5));
    CQNF_Mem mem;
    ASSERT_TRUE(st.GetRec("Bin", mem));
    ASSERT_EQ(mem.GetSize(), 5u);
    EXPECT_EQ(std::memcmp(mem.GetPtr(), data, 5), 0);

    uint32_t size = 0;
    ASSERT_TRUE(st.GetRec("Bin", nullptr, size));
    EXPECT_EQ(size, 5u);
    unsigned char small[3] = {9, 9, 9};
    size = 3;
    EXPECT_FALSE(st.GetRec("Bin", small, size)) << "the buffer is too small for the record";
    EXPECT_EQ(st.GetError(), 1);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(small[0], 9);
    unsigned char big[8] = {};
    size = 8;
    ASSERT_TRUE(st.GetRec("Bin", big, size));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::memcmp(big, data, 5), 0);

    // The general reader: the count with a null buffer, then the bytes.
    _QNSTORAGEDATA slot{};
    EXPECT_EQ(st.GetRec("Bin", slot), 5);
    EXPECT_EQ(slot.u32, 5u);
    unsigned char out[5] = {};
    slot.ptr = out;
    EXPECT_EQ(st.GetRec("Bin", slot), 5);
    EXPECT_EQ(std::memcmp(out, data, 5), 0);

    // Empty binaries, and strings through the buffer reader (with their 0).
    ASSERT_TRUE(st.SetRecord("Empty", data, 0));
    ASSERT_TRUE(st.GetRec("Empty", mem));
    EXPECT_EQ(mem.GetSize(), 0u);
    ASSERT_TRUE(st.SetRecord("Str", S("xy")));
    size = 0;
    ASSERT_TRUE(st.GetRec("Str", nullptr, size));
    EXPECT_EQ(size, 3u);
    EXPECT_FALSE(st.GetRec("Str", mem));
    EXPECT_EQ(st.GetError(), 118);
    EXPECT_FALSE(st.SetRecord("Null", nullptr, 4));
    EXPECT_EQ(st.GetError(), 1);
    _QNSTORAGEDATA any{};
    EXPECT_FALSE(st.SetRecord("Bad", 7, any, 0));
    EXPECT_EQ(st.GetError(), 1);
}

TEST(StorageOps, KillRecRemovesTheSubtreeOnly)
{
    Fixture f;
    CQNF_Storage& st = f.st;
    ASSERT_TRUE(st.AddFolder("A"));
    ASSERT_TRUE(st.SetRecord("A>B", uint32_t(1)));
    ASSERT_TRUE(st.AddFolder("A>F"));
    ASSERT_TRUE(st.SetRecord("A>F>G", uint32_t(2)));
    ASSERT_TRUE(st.SetRecord("AB", uint32_t(3)));
    ASSERT_TRUE(st.SetRecord("A!", uint32_t(4)));
    ASSERT_TRUE(st.KillRec("A"));
    EXPECT_EQ(Keys(st), (std::set<std::string>{"AB", "A!"}));
    EXPECT_FALSE(st.KillRec("A"));
    EXPECT_EQ(st.GetError(), 114);
    // A new folder of the old name starts empty.
    ASSERT_TRUE(st.AddFolder("A"));
    CQNF_StringArray kids;
    ASSERT_TRUE(st.GetAllRecords("A", kids));
    EXPECT_EQ(kids.GetSize(), 0u);
}

TEST(StorageOps, RenameMovesAFolderWithItsChildren)
{
    Fixture f;
    CQNF_Storage& st = f.st;
    ASSERT_TRUE(st.AddFolder("A"));
    ASSERT_TRUE(st.SetRecord("A>B", S("value")));
    ASSERT_TRUE(st.AddFolder("A>Sub"));
    ASSERT_TRUE(st.SetRecord("A>Sub>X", 2.5));
    ASSERT_TRUE(st.Rename("A", "C"));
    EXPECT_EQ(Keys(st), (std::set<std::string>{"C", "C>B", "C>Sub", "C>Sub>X"}));
    CQNF_String s;
    ASSERT_TRUE(st.GetRec("C>B", s));
    EXPECT_EQ(s, "value");
    double d = 0;
    EXPECT_TRUE(st.GetRec("C>Sub>X", d));
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(st.GetRecType("A"), kQnStorageNoRecord);

    // Into another folder, keeping the value; the moved record keeps its id.
    ASSERT_TRUE(st.AddFolder("D"));
    ASSERT_TRUE(st.Rename("C>Sub>X", "D>Y"));
    EXPECT_TRUE(st.GetRec("D>Y", d));
    EXPECT_EQ(d, 2.5);
    EXPECT_TRUE(st.Rename("D>Y", "D>Y")) << "the same key: nothing to do";

    EXPECT_FALSE(st.Rename("missing", "Z"));
    EXPECT_EQ(st.GetError(), 114);
    EXPECT_FALSE(st.Rename("C", "D"));
    EXPECT_EQ(st.GetError(), 1) << "target exists";
    EXPECT_FALSE(st.Rename("C>B", "Q>B"));
    EXPECT_EQ(st.GetError(), 1) << "new parent missing";
    EXPECT_FALSE(st.Rename("D", "C>B>D"));
    EXPECT_EQ(st.GetError(), 1) << "new parent not a folder";
    // A folder cannot move below itself: its subtree would be lost.
    EXPECT_FALSE(st.Rename("C", "C>Sub>C"));
    EXPECT_EQ(st.GetError(), 1);
    EXPECT_EQ(Keys(st), (std::set<std::string>{"C", "C>B", "C>Sub", "D", "D>Y"}));
    ASSERT_TRUE(st.Rename("C", "CC")) << "a name that only begins like the old one";
    ASSERT_TRUE(st.Close());

    // What was written reads the same from the file.
    CQNF_Storage again;
    ASSERT_TRUE(again.Open(S(f.path), 1));
    EXPECT_EQ(Keys(again), (std::set<std::string>{"CC", "CC>B", "CC>Sub", "D", "D>Y"}));
}

TEST(StorageOps, GetAllRecordsListsChildrenInFileOrder)
{
    Fixture f;
    CQNF_Storage& st = f.st;
    ASSERT_TRUE(st.SetRecord("z", uint32_t(1)));
    ASSERT_TRUE(st.AddFolder("Folder"));
    ASSERT_TRUE(st.SetRecord("a", S("s")));
    ASSERT_TRUE(st.SetRecord("Folder>in", 1.0));
    CQNF_StringArray names;
    names.Add(CQNF_String("stale"));
    ASSERT_TRUE(st.GetAllRecords("", names));
    ASSERT_EQ(names.GetSize(), 3u);
    EXPECT_EQ(names[0], "z");
    EXPECT_EQ(names[0].GetTag(), 3u);
    EXPECT_EQ(names[1], "Folder");
    EXPECT_EQ(names[1].GetTag(), 0u);
    EXPECT_EQ(names[2], "a");
    EXPECT_EQ(names[2].GetTag(), 4u);
    // Bytes compare unsigned: a name beginning with 0xC3 sorts after "z".
    ASSERT_TRUE(st.SetRecord("\xC3\xA9t\xC3\xA9", uint8_t(1)));
    ASSERT_TRUE(st.GetAllRecords("Folder", names));
    ASSERT_EQ(names.GetSize(), 1u);
    EXPECT_EQ(names[0], "in");
    EXPECT_EQ(names[0].GetTag(), 6u);
    EXPECT_FALSE(st.GetAllRecords("z", names));
    EXPECT_EQ(st.GetError(), 117);
    EXPECT_FALSE(st.GetAllRecords("none", names));
    EXPECT_EQ(st.GetError(), 117);

    // The key index: sorted byte-wise, tagged with record offsets.
    CQNF_StringArray* all = st.GetAllRecordsArray();
    ASSERT_EQ(all->GetSize(), 5u);
    EXPECT_EQ((*all)[0], "Folder");
    EXPECT_EQ((*all)[1], "Folder>in");
    EXPECT_EQ((*all)[2], "a");
    EXPECT_EQ((*all)[3], "z");
    EXPECT_EQ((*all)[3].GetTag(), 32u);
    EXPECT_EQ((*all)[4], "\xC3\xA9t\xC3\xA9");
    for (uint32_t i = 1; i < all->GetSize(); ++i)
        EXPECT_EQ((*all)[i - 1].Compare((*all)[i]), 1) << "the framework's own order";
    EXPECT_EQ(st.GetTotalRecords(), 5u);
    uint8_t v = 0;
    EXPECT_TRUE(st.GetRec("\xC3\xA9t\xC3\xA9", v));
}

TEST(StorageOps, MemoryImagesAreReadOnly)
{
    Fixture f;
    ASSERT_TRUE(f.st.AddFolder("P"));
    ASSERT_TRUE(f.st.SetRecord("P>v", uint16_t(300)));
    ASSERT_TRUE(f.st.Close());
    const Bytes img = ReadFile(f.path);

    CQNF_Storage mem;
    ASSERT_TRUE(mem.Open(img.data(), img.size()));
    uint16_t v = 0;
    EXPECT_TRUE(mem.GetRec("P>v", v));
    EXPECT_EQ(v, 300);
    EXPECT_EQ(mem.GetPhysicalSize(), img.size());
    EXPECT_FALSE(mem.SetRecord("P>v", uint16_t(1)));
    EXPECT_EQ(mem.GetError(), 115);
    EXPECT_FALSE(mem.AddFolder("Q"));
    EXPECT_EQ(mem.GetError(), 115);
    EXPECT_FALSE(mem.KillRec("P"));
    EXPECT_EQ(mem.GetError(), 115);
    EXPECT_FALSE(mem.Rename("P", "R"));
    EXPECT_EQ(mem.GetError(), 115);

    CQNF_Mem block;
    block.alloc(img.size());
    std::memcpy(block.GetPtr(), img.data(), img.size());
    ASSERT_TRUE(mem.Open(&block));
    EXPECT_TRUE(mem.GetRec("P>v", v));
    EXPECT_FALSE(mem.Open(static_cast<const CQNF_Mem*>(nullptr)));

    Bytes indexed = img;
    indexed[7] = 'S';
    EXPECT_FALSE(mem.Open(indexed.data(), indexed.size()));
    EXPECT_EQ(mem.GetError(), 113);
    EXPECT_FALSE(mem.Open(img.data(), 39));
    EXPECT_EQ(mem.GetError(), 113);
    // Read-only by path too.
    CQNF_Storage ro;
    ASSERT_TRUE(ro.Open(S(f.path), 1));
    EXPECT_FALSE(ro.AddFolder("Q"));
    EXPECT_EQ(ro.GetError(), 115);
    // Nothing open at all.
    CQNF_Storage none;
    EXPECT_FALSE(none.AddFolder("Q"));
    EXPECT_EQ(none.GetError(), 2);
}

TEST(StorageOps, CheckMD5)
{
    Fixture f;
    ASSERT_TRUE(f.st.SetRecord("k", uint32_t(123456)));
    ASSERT_TRUE(f.st.Close());
    Bytes img = ReadFile(f.path);
    CQNF_Storage st;
    EXPECT_TRUE(st.CheckMD5(img.data(), img.size()));
    EXPECT_TRUE(st.CheckMD5(S(f.path)));
    for (size_t i = 24; i < img.size(); ++i) {
        Bytes bad = img;
        bad[i] ^= 0x01;
        EXPECT_FALSE(st.CheckMD5(bad.data(), bad.size())) << i;
        EXPECT_EQ(st.GetError(), 112);
    }
    Bytes magic = img;
    magic[0] = 'X';
    EXPECT_FALSE(st.CheckMD5(magic.data(), magic.size())) << "no magic, no container";
    EXPECT_EQ(st.GetError(), 113);
    EXPECT_FALSE(st.CheckMD5(img.data(), 24));
    EXPECT_EQ(st.GetError(), 113);
    EXPECT_FALSE(st.CheckMD5(S(f.dir.File("missing"))));
    EXPECT_EQ(st.GetError(), 32);
    const std::string empty = f.dir.File("empty");
    WriteFile(empty, {});
    EXPECT_TRUE(st.CheckMD5(S(empty)));

    // An open file, checked from where the caller placed it.
    CQNF_StdFile file;
    ASSERT_TRUE(file.Open(S(f.path), 1));
    EXPECT_TRUE(st.CheckMD5(&file));
    file.SetPos(1);
    EXPECT_FALSE(st.CheckMD5(&file));
}

TEST(StorageOps, EveryWriteReopensToTheSameKeysAndValues)
{
    Fixture f;
    CQNF_Storage& st = f.st;
    auto reopenedKeys = [&] {
        CQNF_Storage other;
        EXPECT_TRUE(other.Open(S(f.path), 1)) << other.GetError();
        return Keys(other);
    };
    ASSERT_TRUE(st.AddFolder("Preferences"));
    EXPECT_EQ(reopenedKeys(), Keys(st));
    ASSERT_TRUE(st.SetRecord("Preferences>OnLoadZoom", uint8_t(1)));
    EXPECT_EQ(reopenedKeys(), Keys(st));
    ASSERT_TRUE(st.AddFolder("Windows Positions"));
    ASSERT_TRUE(st.AddFolder("Windows Positions>MAIN"));
    ASSERT_TRUE(st.SetRecord("Windows Positions>MAIN>Left", uint32_t(10)));
    ASSERT_TRUE(st.SetRecord("Windows Positions>MAIN>Left", S("text now")));
    EXPECT_EQ(reopenedKeys(), Keys(st));
    ASSERT_TRUE(st.Rename("Windows Positions>MAIN", "Windows Positions>CUTTER"));
    EXPECT_EQ(reopenedKeys(), Keys(st));
    ASSERT_TRUE(st.KillRec("Preferences"));
    EXPECT_EQ(reopenedKeys(), Keys(st));
    ASSERT_TRUE(st.Close());

    CQNF_Storage back;
    ASSERT_TRUE(back.Open(S(f.path), 0));
    CQNF_String s;
    ASSERT_TRUE(back.GetRec("Windows Positions>CUTTER>Left", s));
    EXPECT_EQ(s, "text now");
    EXPECT_FALSE(back.IsChanged());
    ASSERT_TRUE(back.SetRecord("Windows Positions>CUTTER>Top", uint32_t(5)));
    EXPECT_TRUE(back.IsChanged());
}
