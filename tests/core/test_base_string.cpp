#include "core/String.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Str(const CQNF_String& s) { return std::string(s.GetStr(), s.GetLength()); }
uint32_t Capacity(const CQNF_String& s) { return s.GetMem().GetSize(); }

}  // namespace

TEST(BaseString, CompareSortsTheOtherWayRoundFromStrcmp)
{
    CQNF_String abc("abc"), abd("abd"), ab("ab");
    EXPECT_EQ(abc.Compare(abd), 1);
    EXPECT_EQ(abd.Compare(abc), -1);
    EXPECT_EQ(ab.Compare(abc), 1);
    EXPECT_EQ(abc.Compare(ab), -1);
    EXPECT_EQ(abc.Compare("abc"), 0);
    EXPECT_EQ(CQNF_String("").Compare(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(CQNF_String("a").Compare('a'), 0);
    EXPECT_EQ(CQNF_String("").Compare(char(0)), 0);

    EXPECT_TRUE(abc < abd);
    EXPECT_TRUE(abd > abc);
    EXPECT_TRUE(ab <= abc);
    EXPECT_TRUE(abc >= "abc");
    EXPECT_TRUE("abb" < abc);
    EXPECT_TRUE(abc == "abc");
    EXPECT_TRUE("abc" == abc);
    EXPECT_TRUE(abc != "abC");
    EXPECT_TRUE(CQNF_String("b") == 'b');
    EXPECT_TRUE('a' < CQNF_String("b"));

    // Bytes compare unsigned: above 0x7F sorts after every ASCII character.
    EXPECT_EQ(CQNF_String("\xE9").Compare("z"), -1);
    EXPECT_EQ(CQNF_String("~").Compare("\x80"), 1);
}

TEST(BaseString, CompareNoCaseFoldsOnlyWhereBytesDiffer)
{
    EXPECT_EQ(CQNF_String("Key").CompareNoCase("KEY"), 0);
    EXPECT_EQ(CQNF_String("key").CompareNoCase('K'), -1);  // longer sorts last
    // '_' (0x5F) lies between 'Z' and 'a'.
    EXPECT_EQ(CQNF_String("_").Compare("a"), 1);
    EXPECT_EQ(CQNF_String("_").CompareNoCase("a"), -1);
    EXPECT_EQ(CQNF_String("\xE9").CompareNoCase("\xC9"), -1);  // no folding outside ASCII
}

TEST(BaseString, CapacityGrowsByTheShortfallButAtLeastTwenty)
{
    CQNF_String s;
    EXPECT_EQ(Capacity(s), 20u);
    s.Append(std::string(50, 'x').c_str());
    EXPECT_EQ(Capacity(s), 51u);

    CQNF_String t;
    t += std::string(30, 'y').c_str();
    EXPECT_EQ(Capacity(t), 40u);

    CQNF_String u(std::string(19, 'z').c_str());
    EXPECT_EQ(Capacity(u), 20u);
    u += 'z';
    EXPECT_EQ(Capacity(u), 40u);
    EXPECT_EQ(u.GetLength(), 20u);

    CQNF_String h;
    h.Append(CQNF_String(std::string(25, 'h').c_str()), 100);  // the hint wins
    EXPECT_EQ(Capacity(h), 120u);
    ASSERT_TRUE(h.Compact());
    EXPECT_EQ(Capacity(h), 26u);
    EXPECT_EQ(Str(h), std::string(25, 'h'));

    // Assignment from text takes a fresh minimal buffer; a copy takes the capacity.
    CQNF_String big(std::string(60, 'b').c_str());
    CQNF_String copy(big);
    copy = big;
    EXPECT_EQ(Capacity(copy), Capacity(big));
    big = "short";
    EXPECT_EQ(Capacity(big), 20u);
}

TEST(BaseString, SelfReferenceNeverReadsFreedBytes)
{
    CQNF_String s("0123456789abcdefghi");  // 19 characters: the next append must grow
    s += s;
    EXPECT_EQ(Str(s), "0123456789abcdefghi0123456789abcdefghi");
    s.Append(s, 0);
    EXPECT_EQ(s.GetLength(), 76u);
    s.Append(s.GetStr() + 70);  // a pointer into the buffer that growing moves
    EXPECT_EQ(s.GetLength(), 82u);
    EXPECT_EQ(Str(s).substr(76), "defghi");

    CQNF_String a("abc");
    a.SetTag(9);
    const CQNF_String& self = a;
    a = self;
    EXPECT_EQ(Str(a), "abc");
    EXPECT_EQ(a.GetTag(), 9u);
    a = a.GetStr() + 1;
    EXPECT_EQ(Str(a), "bc");

    CQNF_String f("value");
    f.Format("[%s|%s]", f.GetStr(), f.GetStr());
    EXPECT_EQ(Str(f), "[value|value]");

    CQNF_String i("ab");
    i.InsertAt(1, i);
    EXPECT_EQ(Str(i), "aabb");

    CQNF_String m("xyz");
    m.SetFromMem(m.GetMem(), 2);
    EXPECT_EQ(Str(m), "xy");

    CQNF_String x("AB");
    x.BufferHEX(x.GetStr(), 2);
    EXPECT_EQ(Str(x), "4142");
}

TEST(BaseString, OversizedRequestsFailWithTheBuffersNumber)
{
    CQNF_String s("keep");
    EXPECT_EQ(s.Space(0xFFFFFFFFu), nullptr);  // n + 1 must not wrap to 0
    EXPECT_EQ(s.GetError(), qnerr::NoMemory);
    EXPECT_EQ(Str(s), "keep");  // a failed growth loses nothing

    char probe[1] = {0};
    CQNF_String h;
    EXPECT_EQ(h.BufferHEX(probe, 0x80000000u), nullptr);  // 2n must not wrap
    EXPECT_EQ(h.GetError(), qnerr::NoMemory);

    CQNF_String p("x");
    EXPECT_EQ(p.InsertAt(0xFFFFFFFFu, "yz"), nullptr);
    EXPECT_EQ(p.GetError(), qnerr::NoMemory);
    EXPECT_EQ(Str(p), "x");
}

TEST(BaseString, PiecesCountFromEitherEnd)
{
    CQNF_String s("abcdef");
    EXPECT_EQ(Str(s.Mid(1, 2, 1)), "bc");
    EXPECT_EQ(Str(s.Mid(1, 2, 0)), "de");
    EXPECT_EQ(Str(s.Mid(4, 100, 1)), "ef");
    EXPECT_EQ(Str(s.Mid(4, 100, 0)), "ab");
    EXPECT_EQ(Str(s.Mid(6, 3, 1)), "");
    EXPECT_FALSE(s.IsError());
    EXPECT_EQ(Str(s.Left(2)), "ab");
    EXPECT_EQ(Str(s.Right(2)), "ef");
    EXPECT_EQ(Str(CQNF_String("abc").Right(10)), "abc");

    CQNF_String past = s.Mid(7, 1, 1);
    EXPECT_EQ(past.GetLength(), 0u);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
}

TEST(BaseString, EditingInPlace)
{
    CQNF_String s("ab");
    s.InsertAt(5, "X");
    EXPECT_EQ(Str(s), "ab   X");
    CQNF_String t("ab");
    t.InsertAt(1, 'X');
    EXPECT_EQ(Str(t), "aXb");
    t.InsertAt(0, char(0));
    EXPECT_EQ(Str(t), "aXb");
    t.InsertAt(3, CQNF_String("!"));
    EXPECT_EQ(Str(t), "aXb!");

    CQNF_String d("abcdef");
    d.DeleteFrom(2, 100);
    EXPECT_EQ(Str(d), "ab");
    d.DeleteFrom(2, 1);
    d.DeleteFrom(0, 0);
    EXPECT_EQ(Str(d), "ab");
    CQNF_String mid("abcdef");
    mid.DeleteFrom(1, 2);
    EXPECT_EQ(Str(mid), "adef");
    EXPECT_EQ(mid.GetStr()[4], 0);

    CQNF_String trim("  a b  ");
    trim.TrimBoth();
    EXPECT_EQ(Str(trim), "a b");
    CQNF_String tabs("\ta \t");
    tabs.TrimBoth();
    EXPECT_EQ(Str(tabs), "\ta \t");
    CQNF_String blanks("    ");
    blanks.TrimRight();
    EXPECT_EQ(Str(blanks), "");

    CQNF_String c("aZ_\xE9z");
    c.MakeUpper();
    EXPECT_EQ(Str(c), "AZ_\xE9Z");
    c.MakeLower();
    EXPECT_EQ(Str(c), "az_\xE9z");
    c.Reverse();
    EXPECT_EQ(Str(c), "z\xE9_za");

    CQNF_String sp("abc");
    sp.Space(3);
    EXPECT_EQ(Str(sp), "   ");
}

TEST(BaseString, FindForwardAndBackward)
{
    CQNF_String s("a>b>c");
    EXPECT_EQ(s.Find(">", 0, 1), 1);
    EXPECT_EQ(s.Find('>', 2, 1), 3);
    EXPECT_EQ(s.Find(">", 4, 1), -1);
    EXPECT_EQ(s.Find(">", 0, 0), 1);  // characters after the last '>'
    EXPECT_EQ(s.Find(">", 2, 0), 3);  // skips the '>' that ends within 2 of the end
    EXPECT_EQ(s.Find(">", 4, 0), -1);
    EXPECT_EQ(s.Find(CQNF_String("b>c"), 0, 0), 0);
    EXPECT_EQ(s.Find("", 2, 1), 2);
    EXPECT_EQ(s.Find("", 2, 0), 2);
    EXPECT_EQ(s.Find("x", 0, 1), -1);
    EXPECT_EQ(s.Find(">", 5, 1), -1);
    EXPECT_EQ(s.Find(">", -1, 1), -1);
    EXPECT_EQ(CQNF_String("").Find("", 0, 1), -1);
    EXPECT_EQ(CQNF_String("aaa").Find("aa", 0, 0), 0);
}

TEST(BaseString, FormatHexAndBytesFromBlocks)
{
    CQNF_String s;
    s.Format("%s=%d;", "a-rather-long-key-name", 123456);
    EXPECT_EQ(Str(s), "a-rather-long-key-name=123456;");
    s.Format("%s", "");
    EXPECT_EQ(Str(s), "");
    EXPECT_EQ(s.GetStr()[0], 0);

    const unsigned char bytes[] = {0x00, 0xAB, 0x5F};
    CQNF_String h;
    h.BufferHEX(bytes, 3);
    EXPECT_EQ(Str(h), "00AB5F");
    CQNF_Mem block(3);
    block.Copy(0, bytes, 3);
    h.BufferHEX(block, 2);
    EXPECT_EQ(Str(h), "00AB");
    h.BufferHEX(block, 0);
    EXPECT_EQ(Str(h), "00AB5F");
    EXPECT_EQ(CQNF_String::HEXDigit(15), 'F');
    EXPECT_EQ(CQNF_String::HEXDigit(16), 0);

    CQNF_Mem m(5);
    m.Copy(0, "ab\0cd", 5);
    CQNF_String f;
    f.SetFromMem(m);
    EXPECT_EQ(Str(f), "ab");
    f.SetFromMem(&m, 1);
    EXPECT_EQ(Str(f), "a");
    CQNF_Mem noNul(3);
    noNul.Copy(0, "xyz", 3);
    f.SetFromMem(noNul);
    EXPECT_EQ(Str(f), "xyz");
    f.SetFromMem(static_cast<const CQNF_Mem*>(nullptr));
    EXPECT_EQ(Str(f), "");
}

TEST(BaseString, TagTravelsWithCopiesOnly)
{
    CQNF_String s("name");
    s.SetTag(0xDEADBEEF);
    CQNF_String copy(s);
    EXPECT_EQ(copy.GetTag(), 0xDEADBEEFu);
    CQNF_String assigned;
    assigned = s;
    EXPECT_EQ(assigned.GetTag(), 0xDEADBEEFu);
    EXPECT_EQ((s + "x").GetTag(), 0xDEADBEEFu);  // a copy of the left operand
    EXPECT_EQ(("x" + s).GetTag(), 0u);
    EXPECT_EQ(CQNF_String("name").GetTag(), 0u);
    assigned = "other";
    assigned.Append("!");
    assigned.MakeUpper();
    EXPECT_EQ(assigned.GetTag(), 0xDEADBEEFu);  // text assignment and edits keep it
}

TEST(BaseString, IndexAndConcatenation)
{
    CQNF_String s("abc");
    EXPECT_EQ(s[0], 'a');
    EXPECT_EQ(s[2u], 'c');
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(s[-1], 0);
    EXPECT_EQ(s[size_t(1) << 40], 0);
    EXPECT_EQ(CQNF_String("\xFF")[0], -1);  // characters read as signed bytes

    EXPECT_EQ(Str(s + CQNF_String("d") + 'e' + "f"), "abcdef");
    EXPECT_EQ(Str('x' + s), "xabc");
    EXPECT_EQ(Str(s + char(0)), "abc");
    CQNF_String one;
    one = 'q';
    EXPECT_EQ(Str(one), "q");
    one = char(0);
    EXPECT_EQ(Str(one), "");
    CQNF_String fromNull(static_cast<const char*>(nullptr));
    EXPECT_EQ(Str(fromNull), "");
    EXPECT_STREQ(static_cast<const char*>(s), "abc");
}

TEST(BaseTextNumbers, WholeTextMustBeTheNumberWithinRange)
{
    int64_t v = 7;
    EXPECT_TRUE(qnParseInteger("-100", -100, 100, v));
    EXPECT_EQ(v, -100);
    EXPECT_TRUE(qnParseInteger("0", -1, 1, v));
    EXPECT_EQ(v, 0);
    for (const char* bad : {"", "-", " 5", "5 ", "+5", "5x", "--5", "101", "-101", "1e2"}) {
        v = 7;
        EXPECT_FALSE(qnParseInteger(bad, -100, 100, v)) << bad;
        EXPECT_EQ(v, 7) << bad;
    }
    // The ends of 64 bits, and one beyond.
    EXPECT_TRUE(qnParseInteger("-9223372036854775808", INT64_MIN, INT64_MAX, v));
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_TRUE(qnParseInteger("9223372036854775807", INT64_MIN, INT64_MAX, v));
    EXPECT_EQ(v, INT64_MAX);
    EXPECT_FALSE(qnParseInteger("9223372036854775808", INT64_MIN, INT64_MAX, v));
    EXPECT_FALSE(qnParseInteger("-9223372036854775809", INT64_MIN, INT64_MAX, v));

    // C's prefixes only when asked for.
    EXPECT_TRUE(qnParseInteger("0x1F", 0, 100, v, 0));
    EXPECT_EQ(v, 31);
    EXPECT_TRUE(qnParseInteger("-010", -100, 100, v, 0));
    EXPECT_EQ(v, -8);
    EXPECT_FALSE(qnParseInteger("0x1F", 0, 100, v));
    EXPECT_FALSE(qnParseInteger("0x", 0, 100, v, 0));
    EXPECT_FALSE(qnParseInteger("08", 0, 100, v, 0));
    EXPECT_TRUE(qnParseInteger("08", 0, 100, v));
    EXPECT_EQ(v, 8);

    uint64_t u = 0;
    EXPECT_TRUE(qnParseUnsigned("18446744073709551615", UINT64_MAX, u));
    EXPECT_EQ(u, UINT64_MAX);
    EXPECT_FALSE(qnParseUnsigned("18446744073709551616", UINT64_MAX, u));
    EXPECT_FALSE(qnParseUnsigned("-1", UINT64_MAX, u));
    EXPECT_FALSE(qnParseUnsigned("256", 255, u));
}

TEST(BaseTextNumbers, DimensionsAreTwoNumbersJoinedByAnX)
{
    uint32_t a = 0, b = 0;
    EXPECT_TRUE(qnParseDimensions("8x6", 1, 101, a, b));
    EXPECT_EQ(a, 8u);
    EXPECT_EQ(b, 6u);
    EXPECT_TRUE(qnParseDimensions("101X1", 1, 101, a, b));
    EXPECT_EQ(a, 101u);
    for (const char* bad : {"8", "8x", "x6", "0x6", "8x102", "8x6x2", "8 x 6", "-1x6", "8x6 "})
        EXPECT_FALSE(qnParseDimensions(bad, 1, 101, a, b)) << bad;
}
