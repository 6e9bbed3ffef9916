#include "core/Array.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

template <class A>
auto Values(const A& a)
{
    std::vector<decltype(a[0])> v;
    for (uint32_t i = 0; i < a.GetSize(); ++i)
        v.push_back(a[i]);
    return v;
}

std::vector<std::string> Texts(const CQNF_StringArray& a)
{
    std::vector<std::string> v;
    for (uint32_t i = 0; i < a.GetSize(); ++i)
        v.emplace_back(a[i].GetStr());
    return v;
}

// Orders ids by a key table, as the windows' id arrays order pieces.
class KeyedIds : public CQNF_DWordArray {
public:
    explicit KeyedIds(std::vector<int> keys) : m_keys(std::move(keys)) {}
    int CompareElements(const void* a, const void* b) override
    {
        const int ka = m_keys[*static_cast<const uint32_t*>(a)];
        const int kb = m_keys[*static_cast<const uint32_t*>(b)];
        return ka < kb ? -1 : (ka > kb ? 1 : 0);
    }

private:
    std::vector<int> m_keys;
};

}  // namespace

TEST(BaseArray, GrowsTenSlotsAtATimeAndCompacts)
{
    CQNF_DWordArray a;
    EXPECT_EQ(a.GetCapacity(), 0u);
    EXPECT_EQ(a.Add(100), 0);
    EXPECT_EQ(a.GetCapacity(), 10u);
    for (uint32_t i = 1; i < 11; ++i)
        EXPECT_EQ(a.Add(100 + i), int32_t(i));
    EXPECT_EQ(a.GetCapacity(), 20u);
    ASSERT_TRUE(a.Compact());
    EXPECT_EQ(a.GetCapacity(), 11u);
    EXPECT_EQ(a[10], 110u);
    a.Empty();
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_EQ(a.GetCapacity(), 0u);
    EXPECT_EQ(a.GetElementSize(), 4u);
}

TEST(BaseArray, ReadsCheckTheCapacityNotTheCount)
{
    CQNF_DWordArray a;
    ASSERT_TRUE(a.SetAt(25, 7));
    EXPECT_EQ(a.GetCapacity(), 35u);
    EXPECT_EQ(a.GetSize(), 26u);
    for (uint32_t i = 0; i < 25; ++i)
        EXPECT_EQ(a[i], 0u);
    uint32_t v = 99;
    EXPECT_TRUE(a.GetAt(30, v));
    EXPECT_EQ(v, 0u);
    v = 99;
    EXPECT_FALSE(a.GetAt(35, v));
    EXPECT_EQ(v, 99u);
    EXPECT_EQ(a[-1], 0u);  // a negative index is out of range, not a wrap into the buffer

    // Writing inside the capacity but past the count extends the count only.
    ASSERT_TRUE(a.SetAt(30, 8));
    EXPECT_EQ(a.GetSize(), 31u);
    EXPECT_EQ(a.GetCapacity(), 35u);
}

TEST(BaseArray, InsertMovesLaterElementsUp)
{
    CQNF_DWordArray a;
    for (uint32_t v : {1, 2, 3})
        a.Add(v);
    ASSERT_TRUE(a.InsertAt(0, 9));
    EXPECT_EQ(Values(a), (std::vector<uint32_t>{9, 1, 2, 3}));
    ASSERT_TRUE(a.InsertAt(2, 5));
    EXPECT_EQ(Values(a), (std::vector<uint32_t>{9, 1, 5, 2, 3}));

    CQNF_DWordArray full;
    for (uint32_t v = 0; v < 10; ++v)
        full.Add(v);
    ASSERT_TRUE(full.InsertAt(5, 42));
    EXPECT_EQ(full.GetCapacity(), 20u);
    EXPECT_EQ(full.GetSize(), 11u);
    EXPECT_EQ(full[5], 42u);
    EXPECT_EQ(full[10], 9u);

    CQNF_DWordArray past;
    past.Add(1);
    past.Add(2);
    ASSERT_TRUE(past.InsertAt(7, 9));
    EXPECT_EQ(past.GetSize(), 8u);
    EXPECT_EQ(past[7], 9u);
    EXPECT_EQ(past[6], 0u);
}

TEST(BaseArray, DeleteClearsTheVacatedSlot)
{
    CQNF_WordArray a;
    for (uint16_t v : {10, 20, 30})
        a.Add(v);
    EXPECT_EQ(a.DeleteAt(0), 2u);
    EXPECT_EQ(Values(a), (std::vector<uint16_t>{20, 30}));
    EXPECT_EQ(a[2], 0);  // not a stale copy of 30
    EXPECT_EQ(a.DeleteAt(2), 2u);
    EXPECT_EQ(a.GetError(), qnerr::BadArgument);

    int x = 0, y = 0;
    CQNF_PtrArray p;
    p.Add(&x);
    p.Add(&y);
    EXPECT_EQ(p.DeleteAt(0), 1u);
    void* item = &x;
    EXPECT_TRUE(p.GetAt(0, item));
    EXPECT_EQ(item, &y);
    EXPECT_FALSE(p.GetAt(1, item));  // past the count: no pointer, even inside the capacity
    EXPECT_EQ(item, &y);
    EXPECT_EQ(p[1], nullptr);
}

TEST(BaseArray, SortsByTheElementTypesOrder)
{
    CQNF_SDWordArray s;
    for (int32_t v : {3, -1, 2})
        s.Add(v);
    ASSERT_TRUE(s.SortElements(1));
    EXPECT_EQ(Values(s), (std::vector<int32_t>{-1, 2, 3}));

    CQNF_DWordArray u;
    u.Add(0xFFFFFFFFu);
    u.Add(1);
    u.SortElements(1);
    EXPECT_EQ(Values(u), (std::vector<uint32_t>{1, 0xFFFFFFFFu}));

    CQNF_DWordArray d;
    for (uint32_t v : {1, 3, 2})
        d.Add(v);
    d.SortElements(0);
    EXPECT_EQ(Values(d), (std::vector<uint32_t>{3, 2, 1}));

    CQNF_SByteArray sb;
    for (int8_t v : {5, -128, 127, 0})
        sb.Add(v);
    sb.SortElements(1);
    EXPECT_EQ(Values(sb), (std::vector<int8_t>{-128, 0, 5, 127}));

    CQNF_SWordArray sw;
    for (int16_t v : {300, -300})
        sw.Add(v);
    sw.SortElements(1);
    EXPECT_EQ(Values(sw), (std::vector<int16_t>{-300, 300}));

    CQNF_ByteArray b;
    for (uint8_t v : {200, 7})
        b.Add(v);
    b.SortElements(1);
    EXPECT_EQ(Values(b), (std::vector<uint8_t>{7, 200}));

    CQNF_FloatArray f;
    for (float v : {2.5f, -1.0f, 0.5f})
        f.Add(v);
    f.SortElements(1);
    EXPECT_EQ(Values(f), (std::vector<float>{-1.0f, 0.5f, 2.5f}));
    const float nan = std::nanf(""), one = 1.0f, zero = 0.0f, negZero = -0.0f;
    EXPECT_EQ(f.CompareElements(&zero, &negZero), 0);
    EXPECT_EQ(f.CompareElements(&nan, &one), 1);
    EXPECT_EQ(f.CompareElements(&one, &nan), 1);

    int x[3];
    CQNF_PtrArray p;
    for (int* q : {&x[2], &x[0], &x[1]})
        p.Add(q);
    p.SortElements(1);
    EXPECT_EQ(p[0], &x[2]);
    EXPECT_EQ(p[1], &x[0]);
    EXPECT_EQ(p[2], &x[1]);
}

TEST(BaseArray, ExchangeSortOrderAmongTiesIsKept)
{
    // Ids 0..3 with keys 1, 0, 1, 0. The exchange sort swaps slot i with each
    // later slot that sorts before it, which leaves 1, 3, 2, 0 (a stable sort
    // would give 1, 3, 0, 2). Callers sorting pieces rely on this order.
    KeyedIds ids({1, 0, 1, 0});
    for (uint32_t v = 0; v < 4; ++v)
        ids.Add(v);
    ids.SortElements(1);
    EXPECT_EQ(Values(ids), (std::vector<uint32_t>{1, 3, 2, 0}));
}

TEST(BaseArray, CapacitiesThatDoNotFit32BitsAreRefused)
{
    CQNF_DWordArray a;
    a.Add(5);
    // 0x40000000 slots of 4 bytes wrap to 0 in 32 bits.
    EXPECT_FALSE(a.SetArraySize(0x40000000u));
    EXPECT_EQ(a.GetError(), qnerr::NoMemory);
    EXPECT_EQ(a.GetCapacity(), 10u);
    EXPECT_EQ(a[0], 5u);
    EXPECT_FALSE(a.SetAt(0xFFFFFFFFu, 1));
    EXPECT_EQ(a.GetError(), qnerr::NoMemory);
    EXPECT_FALSE(a.SetAt(uint64_t(1) << 32, 1));  // not truncated to index 0
    EXPECT_EQ(a[0], 5u);
    EXPECT_EQ(a.GetSize(), 1u);
    EXPECT_TRUE(a.SetArraySize(12));
    EXPECT_FALSE(a.IsError());
}

TEST(BaseArray, ShrinkingBelowTheCountDropsTheTail)
{
    CQNF_ByteArray a;
    for (uint8_t v = 1; v <= 15; ++v)
        a.Add(v);
    ASSERT_TRUE(a.SetArraySize(3));
    EXPECT_EQ(a.GetSize(), 3u);
    // Growing again must not write past the buffer nor revive old values.
    for (uint8_t v = 0; v < 20; ++v)
        a.Add(v);
    EXPECT_EQ(a.GetSize(), 23u);
    EXPECT_EQ(a[2], 3);
    EXPECT_EQ(a[3], 0);

    CQNF_StringArray s;
    for (const char* t : {"a", "b", "c", "d"})
        s.Add(t);
    ASSERT_TRUE(s.SetArraySize(1));  // the three dropped strings are freed (leak check)
    EXPECT_EQ(Texts(s), (std::vector<std::string>{"a"}));
}

TEST(BaseArray, CopiesAreDeep)
{
    CQNF_DWordArray a;
    a.Add(1);
    CQNF_DWordArray b(a);
    b.SetAt(0, 2);
    EXPECT_EQ(a[0], 1u);
    a = b;
    EXPECT_EQ(a[0], 2u);

    CQNF_StringArray s;
    s.Add("one", 11);
    s.SetAt(2, "three", 33);
    CQNF_StringArray t(s);
    s.SetAt(0, "changed");
    EXPECT_EQ(Texts(t), (std::vector<std::string>{"one", "", "three"}));
    EXPECT_EQ(t[2].GetTag(), 33u);
    t = s;
    t = t;
    EXPECT_EQ(Texts(t), (std::vector<std::string>{"changed", "", "three"}));
}

TEST(BaseStringArray, OwnsTaggedCopies)
{
    CQNF_StringArray a;
    CQNF_String name("layer");
    name.SetTag(1);
    EXPECT_EQ(a.Add(name, 77), 0);
    name += "-changed";
    CQNF_String out;
    ASSERT_TRUE(a.GetAt(0, out));
    EXPECT_STREQ(out.GetStr(), "layer");
    EXPECT_EQ(out.GetTag(), 77u);
    EXPECT_EQ(name.GetTag(), 1u);

    ASSERT_TRUE(a.SetAt(0, a[0], 78));  // replacing a string by a copy of itself
    EXPECT_STREQ(a[0].GetStr(), "layer");
    EXPECT_EQ(a[0].GetTag(), 78u);

    ASSERT_TRUE(a.InsertAt(0, "first", 5));
    ASSERT_TRUE(a.InsertAt(5, "far", 6));
    EXPECT_EQ(Texts(a), (std::vector<std::string>{"first", "layer", "", "", "", "far"}));
    ASSERT_TRUE(a.GetAt(9, out));  // inside the capacity: an empty slot
    EXPECT_EQ(out.GetLength(), 0u);
    EXPECT_FALSE(a.GetAt(10, out));
    EXPECT_EQ(a[10].GetLength(), 0u);

    EXPECT_EQ(a.DeleteAt(5), 5u);
    EXPECT_EQ(a[5].GetLength(), 0u);  // the deleted last slot reads empty
    EXPECT_EQ(a.DeleteAt(5), 5u);
    EXPECT_EQ(a.GetError(), qnerr::BadArgument);
    EXPECT_EQ(a.DeleteAt(0), 4u);
    EXPECT_EQ(Texts(a), (std::vector<std::string>{"layer", "", "", ""}));
    a.Empty();
    EXPECT_EQ(a.GetSize(), 0u);
    a.Add("again");
    EXPECT_EQ(Texts(a), (std::vector<std::string>{"again"}));
}

TEST(BaseStringArray, SortAndSearch)
{
    CQNF_StringArray a;
    for (const char* t : {"a", "B", "key", "_"})
        a.Add(t);
    a.SetAt(5, "c");  // leaves an empty slot at 4, which sorts as ""
    ASSERT_TRUE(a.SortElements(1));
    EXPECT_EQ(Texts(a), (std::vector<std::string>{"", "B", "_", "a", "c", "key"}));
    EXPECT_EQ(a.LSearch("KEY", 0), 5);
    EXPECT_EQ(a.LSearch("KEY", 1), -1);
    EXPECT_EQ(a.LSearch("", 1), -1);  // empty slots are skipped, not matched

    CQNF_StringArray sorted;
    for (const char* t : {"a", "B", "b", "_"})
        sorted.Add(t);
    sorted.SortElements(1);
    EXPECT_EQ(Texts(sorted), (std::vector<std::string>{"B", "_", "a", "b"}));
    EXPECT_EQ(sorted.BSearch("a", 1), 2);
    EXPECT_EQ(sorted.BSearch("b", 1), 3);
    EXPECT_EQ(sorted.BSearch("B", 1), 0);
    EXPECT_EQ(sorted.BSearch("A", 1), -1);
    EXPECT_EQ(sorted.BSearch("zz", 1), -1);

    sorted.SortElements(0);
    EXPECT_EQ(Texts(sorted), (std::vector<std::string>{"b", "a", "_", "B"}));

    CQNF_StringArray dup;
    for (const char* t : {"a", "a", "b"})
        dup.Add(t);
    EXPECT_EQ(dup.BSearch("a", 1), 0);
    EXPECT_EQ(dup.BSearch("b", 1), 2);
    CQNF_StringArray empty;
    EXPECT_EQ(empty.BSearch("a", 1), -1);
    EXPECT_EQ(empty.LSearch("a", 1), -1);

    // Case-insensitive order for the flag 0.
    CQNF_StringArray folded;
    for (const char* t : {"Alpha", "beta", "GAMMA"})
        folded.Add(t);
    EXPECT_EQ(folded.BSearch("BETA", 0), 1);
    EXPECT_EQ(folded.BSearch("gamma", 0), 2);
}
