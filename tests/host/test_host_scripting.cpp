// The settings block in the scripting descriptor, written and read through
// the stand-in host's descriptor procedures.
#include "host_test_support.h"

#include "core/ZipBlock.h"
#include "host/ScriptChunks.h"
#include "hostapp/HostDescriptor.h"

#include <algorithm>
#include <random>

using namespace hosttest;
using hostapp::DescriptorItem;
using hostapp::HostDescriptor;

namespace {

// Runs body inside a successful Start, so the host keeps the descriptor.
void Succeed(PluginHarness& h, StandInHost& host, std::function<void(CPluginMain&)> body)
{
    EXPECT_EQ(InStart(h, host, std::move(body), 0), 0);
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

uint32_t PackedSize(const std::vector<uint8_t>& data)
{
    CQNF_Mem packed;
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(data.data(), data.size());
    zip.SetDestBlock(&packed);
    zip.SetMode(1);
    EXPECT_TRUE(zip.Process());
    return packed.GetSize();
}

HostDescriptor Parsed(const StandInHost& host)
{
    HostDescriptor d;
    std::string err;
    EXPECT_TRUE(HostDescriptor::Parse(host.DescriptorBytes().data(), host.DescriptorBytes().size(), d, err)) << err;
    return d;
}

size_t TextItems(const HostDescriptor& d)
{
    return static_cast<size_t>(std::count_if(d.items.begin(), d.items.end(),
                                             [](const auto& i) { return i.type == descriptorTypeText; }));
}

// Reads the descriptor in the two-level form, or in the earlier single-level one.
bool ReadBack(PluginHarness& h, StandInHost& host, std::vector<uint8_t>& out, uint8_t& show, bool single = false)
{
    bool ok = false;
    Succeed(h, host, [&](CPluginMain& p) {
        CQNF_Mem block;
        ok = single ? p.ReadEncryptedScriptParameter(&block, show) : p.ReadEncryptedScriptParameter_V2(&block, show);
        out.assign(block.GetPtr(), block.GetPtr() + block.GetSize());
    });
    return ok;
}

TEST(HostScripting, BlocksRoundTripInLargeChunks)
{
    for (size_t n : {size_t{1}, size_t{5000}, size_t{200000}}) {
        PluginHarness h;
        StandInHost host(Document(ColorMode::RGB, 2, 2, false), HostSettings{});
        const std::vector<uint8_t> block = RandomBytes(n, static_cast<uint32_t>(n));
        bool written = false;
        Succeed(h, host, [&](CPluginMain& p) { written = p.WriteEncryptedScriptParameter_V2(block.data(), n); });
        ASSERT_TRUE(written) << n;
        const HostDescriptor d = Parsed(host);
        const uint32_t length = 2 * PackedSize(block);
        ASSERT_NE(d.Find(qnscript::kModeKey), nullptr);
        EXPECT_EQ(HostDescriptor::IntegerOf(*d.Find(qnscript::kModeKey)),
                  static_cast<int32_t>(length) + qnscript::kLargeBase);
        EXPECT_EQ(TextItems(d), (length - 1) / 65000 + 1);
        std::vector<uint8_t> back;
        uint8_t show = 9;
        ASSERT_TRUE(ReadBack(h, host, back, show)) << n;
        EXPECT_EQ(back, block);
        EXPECT_EQ(show, 0);
        EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
    }
}

TEST(HostScripting, ExactlyOneLargeChunkHoldsSixtyFiveThousandCharacters)
{
    // Find incompressible blocks whose text is exactly 65,000 and 65,002
    // characters long.
    std::vector<uint8_t> exact, over;
    for (size_t n = 32000; n < 33000 && (exact.empty() || over.empty()); ++n) {
        std::vector<uint8_t> b = RandomBytes(n, 7);
        const uint32_t length = 2 * PackedSize(b);
        if (length == 65000)
            exact = b;
        if (length == 65002)
            over = b;
    }
    ASSERT_FALSE(exact.empty());
    ASSERT_FALSE(over.empty());
    for (const auto* block : {&exact, &over}) {
        PluginHarness h;
        StandInHost host(Document(ColorMode::RGB, 2, 2, false), HostSettings{});
        Succeed(h, host, [&](CPluginMain& p) {
            EXPECT_TRUE(p.WriteEncryptedScriptParameter_V2(block->data(), static_cast<uint32_t>(block->size())));
        });
        EXPECT_EQ(TextItems(Parsed(host)), block == &exact ? 1u : 2u);
        std::vector<uint8_t> back;
        uint8_t show = 0;
        ASSERT_TRUE(ReadBack(h, host, back, show));
        EXPECT_EQ(back, *block);
    }
}

TEST(HostScripting, HostRefusingLongTextsGetsSmallChunks)
{
    PluginHarness h;
    HostSettings s;
    s.maxText = 2000;
    s.playInfo = descriptorPlayDisplayDialog;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), s);
    const std::vector<uint8_t> block = RandomBytes(30000, 3);
    Succeed(h, host, [&](CPluginMain& p) {
        EXPECT_TRUE(p.WriteEncryptedScriptParameter_V2(block.data(), static_cast<uint32_t>(block.size())));
    });
    const HostDescriptor d = Parsed(host);
    const uint32_t length = 2 * PackedSize(block);
    EXPECT_EQ(HostDescriptor::IntegerOf(*d.Find(qnscript::kModeKey)),
              static_cast<int32_t>(length) + qnscript::kSmallBase);
    EXPECT_EQ(TextItems(d), (length - 1) / 1000 + 1);
    ASSERT_NE(d.Find(FILTER_FOURCC('q', 'n', 'a', 'a')), nullptr);
    std::vector<uint8_t> back;
    uint8_t show = 0;
    ASSERT_TRUE(ReadBack(h, host, back, show));
    EXPECT_EQ(back, block);
    EXPECT_EQ(show, 1);
}

TEST(HostScripting, ChunksArriveInAnyOrder)
{
    PluginHarness h;
    HostSettings s;
    s.maxText = 1500;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), s);
    const std::vector<uint8_t> block = RandomBytes(8000, 11);
    Succeed(h, host, [&](CPluginMain& p) {
        p.WriteEncryptedScriptParameter_V2(block.data(), static_cast<uint32_t>(block.size()));
    });
    HostDescriptor d = Parsed(host);
    std::mt19937 rng(5);
    std::shuffle(d.items.begin(), d.items.end(), rng);
    host.SetDescriptor(d.Serialize());
    std::vector<uint8_t> back;
    uint8_t show = 0;
    ASSERT_TRUE(ReadBack(h, host, back, show));
    EXPECT_EQ(back, block);
}

TEST(HostScripting, DamagedDescriptorsAreRefused)
{
    PluginHarness h;
    HostSettings s;
    s.maxText = 1500;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), s);
    const std::vector<uint8_t> block = RandomBytes(3000, 13);
    Succeed(h, host, [&](CPluginMain& p) {
        p.WriteEncryptedScriptParameter_V2(block.data(), static_cast<uint32_t>(block.size()));
    });
    const HostDescriptor good = Parsed(host);
    const uint32_t smallFirst = FILTER_FOURCC('q', 'n', 'a', 'a');

    std::vector<std::pair<const char*, std::function<void(HostDescriptor&)>>> damages = {
        {"lower-case hex",
         [&](HostDescriptor& d) {
             for (auto& i : d.items)
                 if (i.key == smallFirst)
                     for (size_t k = 3; k + 1 < i.value.size(); ++k)
                         i.value[k] = static_cast<uint8_t>(std::tolower(i.value[k]));
         }},
        {"missing chunk",
         [&](HostDescriptor& d) {
             d.items.erase(std::remove_if(d.items.begin(), d.items.end(),
                                          [&](const auto& i) { return i.key == smallFirst; }),
                           d.items.end());
         }},
        {"index past the chunks",
         [&](HostDescriptor& d) {
             for (auto& i : d.items)
                 if (i.key == smallFirst) {
                     i.value[0] = 'Z';
                 }
         }},
        {"mode value exactly the small base",
         [&](HostDescriptor& d) {
             for (auto& i : d.items)
                 if (i.key == qnscript::kModeKey)
                     i.value = {0x00, 0x98, 0x96, 0x80};  // 10,000,000
         }},
        {"large mode past the limit",
         [&](HostDescriptor& d) {
             for (auto& i : d.items)
                 if (i.key == qnscript::kModeKey)
                     i.value = {0x01, 0x3C, 0x0E, 0x31};  // 20,650,001
         }},
        {"unterminated chunk",
         [&](HostDescriptor& d) {
             for (auto& i : d.items)
                 if (i.key == smallFirst)
                     i.value.back() = 'A';
         }},
        {"text where an integer belongs",
         [&](HostDescriptor& d) {
             for (auto& i : d.items)
                 if (i.key == qnscript::kModeKey) {
                     i.type = descriptorTypeText;
                     i.value = {'1', 0};
                 }
         }},
    };
    for (auto& [what, damage] : damages) {
        HostDescriptor d = good;
        damage(d);
        host.SetDescriptor(d.Serialize());
        std::vector<uint8_t> back;
        uint8_t show = 0;
        EXPECT_FALSE(ReadBack(h, host, back, show)) << what;
    }
    // No handle or read descriptor was left behind on any of the failures.
    EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
}

TEST(HostScripting, ABlockTooLargeForTheDescriptorLeavesItEmpty)
{
    PluginHarness h;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), HostSettings{});
    const std::vector<uint8_t> small = RandomBytes(100, 1);
    Succeed(h, host, [&](CPluginMain& p) {
        EXPECT_TRUE(p.WriteEncryptedScriptParameter_V2(small.data(), static_cast<uint32_t>(small.size())));
    });
    ASSERT_TRUE(host.HasDescriptor());
    // 400 KB that do not compress: more than 650,000 characters of text. The
    // older settings must not survive to be replayed.
    const std::vector<uint8_t> big = RandomBytes(400000, 2);
    Succeed(h, host, [&](CPluginMain& p) {
        EXPECT_FALSE(p.WriteEncryptedScriptParameter_V2(big.data(), static_cast<uint32_t>(big.size())));
        // Why is kept for the one who asked for the write to say.
        EXPECT_NE(p.ScriptRefusal().find("too large for a descriptor"), std::string::npos) << p.ScriptRefusal();
        EXPECT_NE(p.ScriptRefusal().find("at most 650000"), std::string::npos) << p.ScriptRefusal();
        EXPECT_FALSE(p.WriteEncryptedScriptParameter_V2(nullptr, 0));
        EXPECT_FALSE(p.ScriptRefusal().empty());
        EXPECT_TRUE(p.WriteEncryptedScriptParameter_V2(small.data(), static_cast<uint32_t>(small.size())));
        EXPECT_EQ(p.ScriptRefusal(), "");
        EXPECT_FALSE(p.WriteEncryptedScriptParameter_V2(big.data(), static_cast<uint32_t>(big.size())));
    });
    EXPECT_EQ(Parsed(host).items.size(), 0u);
    std::vector<uint8_t> back;
    uint8_t show = 0;
    EXPECT_FALSE(ReadBack(h, host, back, show));
}

TEST(HostScripting, WithoutDescriptorProceduresNothingIsWrittenOrRead)
{
    PluginHarness h;
    HostSettings s;
    s.offerDescriptors = false;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), s);
    const std::vector<uint8_t> block = RandomBytes(10, 1);
    Succeed(h, host, [&](CPluginMain& p) {
        EXPECT_FALSE(p.WriteEncryptedScriptParameter_V2(block.data(), 10));
        // No descriptor was left without settings: there is none to speak of.
        EXPECT_EQ(p.ScriptRefusal(), "");
        CQNF_Mem out;
        uint8_t show = 0;
        EXPECT_FALSE(p.ReadEncryptedScriptParameter_V2(&out, show));
    });
    EXPECT_FALSE(host.HasDescriptor());
}

// ---- The earlier single-level form ------------------------------------------

bool ReadBackSingle(PluginHarness& h, StandInHost& host, std::vector<uint8_t>& out, uint8_t& show)
{
    return ReadBack(h, host, out, show, true);
}

// Incompressible bytes whose text needs exactly `chunks` single-level chunks.
std::vector<uint8_t> BlockOfSingleChunks(uint32_t chunks, uint32_t seed)
{
    // Random bytes do not compress: the text is a little over 2n characters.
    const size_t from = chunks > 1 ? (chunks - 1) * qnscript::kSingleChunk / 2 - 64 : 1;
    for (size_t n = from; n < from + 400; ++n) {
        std::vector<uint8_t> b = RandomBytes(n, seed);
        const uint32_t length = 2 * PackedSize(b);
        if ((length - 1) / qnscript::kSingleChunk + 1 == chunks)
            return b;
    }
    return {};
}

TEST(HostScriptingSingleLevel, BlocksRoundTripInOneLetterChunks)
{
    std::vector<uint8_t> compressible(20000);
    for (size_t i = 0; i < compressible.size(); ++i)
        compressible[i] = static_cast<uint8_t>(i % 7);
    const std::vector<std::vector<uint8_t>> blocks = {RandomBytes(1, 4), compressible, BlockOfSingleChunks(2, 5),
                                                      BlockOfSingleChunks(26, 6)};
    for (const auto& block : blocks) {
        ASSERT_FALSE(block.empty());
        PluginHarness h;
        HostSettings s;
        s.playInfo = descriptorPlayDisplayDialog;
        StandInHost host(Document(ColorMode::RGB, 2, 2, false), s);
        bool written = false;
        Succeed(h, host, [&](CPluginMain& p) {
            written = p.WriteEncryptedScriptParameter(block.data(), static_cast<uint32_t>(block.size()));
        });
        ASSERT_TRUE(written) << block.size();
        // One text per 250 characters under 'qnea', 'qneb', ..., each led by
        // its own letter; no length key.
        const HostDescriptor d = Parsed(host);
        const uint32_t length = 2 * PackedSize(block);
        const uint32_t chunks = (length - 1) / qnscript::kSingleChunk + 1;
        EXPECT_EQ(TextItems(d), chunks);
        EXPECT_EQ(d.items.size(), chunks);
        for (uint32_t i = 0; i < chunks; ++i) {
            const auto* item = d.Find(FILTER_FOURCC('q', 'n', 'e', 'a' + i));
            ASSERT_NE(item, nullptr) << i;
            EXPECT_EQ(item->value.front(), 'A' + i);
            EXPECT_EQ(item->value.size(), (i + 1 < chunks ? 250 : length - i * 250) + 2);
        }
        std::vector<uint8_t> back;
        uint8_t show = 0;
        ASSERT_TRUE(ReadBackSingle(h, host, back, show)) << block.size();
        EXPECT_EQ(back, block);
        EXPECT_EQ(show, 1);
        // The newer form does not take this descriptor for one of its own.
        EXPECT_FALSE(ReadBack(h, host, back, show));
        EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
    }
}

TEST(HostScriptingSingleLevel, TooLargeOrEmptyBlocksLeaveNoOlderSettings)
{
    PluginHarness h;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), HostSettings{});
    const std::vector<uint8_t> small = RandomBytes(100, 1);
    const std::vector<uint8_t> big = BlockOfSingleChunks(27, 2);
    ASSERT_FALSE(big.empty());
    for (const std::vector<uint8_t>* bad : {&big, static_cast<const std::vector<uint8_t>*>(nullptr)}) {
        Succeed(h, host, [&](CPluginMain& p) {
            EXPECT_TRUE(p.WriteEncryptedScriptParameter(small.data(), static_cast<uint32_t>(small.size())));
            EXPECT_FALSE(bad ? p.WriteEncryptedScriptParameter(bad->data(), static_cast<uint32_t>(bad->size()))
                             : p.WriteEncryptedScriptParameter(nullptr, 0));
        });
        EXPECT_EQ(Parsed(host).items.size(), 0u);
        std::vector<uint8_t> back;
        uint8_t show = 0;
        EXPECT_FALSE(ReadBackSingle(h, host, back, show));
    }
}

TEST(HostScriptingSingleLevel, ShuffledChunksReadAndDamagedOnesAreRefused)
{
    PluginHarness h;
    StandInHost host(Document(ColorMode::RGB, 2, 2, false), HostSettings{});
    const std::vector<uint8_t> block = BlockOfSingleChunks(4, 9);
    ASSERT_FALSE(block.empty());
    Succeed(h, host, [&](CPluginMain& p) {
        EXPECT_TRUE(p.WriteEncryptedScriptParameter(block.data(), static_cast<uint32_t>(block.size())));
    });
    const HostDescriptor good = Parsed(host);
    const uint32_t first = FILTER_FOURCC('q', 'n', 'e', 'a');
    const uint32_t second = FILTER_FOURCC('q', 'n', 'e', 'b');
    auto each = [](HostDescriptor& d, uint32_t key, const std::function<void(DescriptorItem&)>& f) {
        for (auto& i : d.items)
            if (i.key == key)
                f(i);
    };

    {
        HostDescriptor d = good;
        std::mt19937 rng(3);
        std::shuffle(d.items.begin(), d.items.end(), rng);
        host.SetDescriptor(d.Serialize());
        std::vector<uint8_t> back;
        uint8_t show = 0;
        ASSERT_TRUE(ReadBackSingle(h, host, back, show));
        EXPECT_EQ(back, block);
    }

    const std::vector<std::pair<const char*, std::function<void(HostDescriptor&)>>> damages = {
        {"a chunk in the middle missing",
         [&](HostDescriptor& d) {
             d.items.erase(std::remove_if(d.items.begin(), d.items.end(),
                                          [&](const auto& i) { return i.key == second; }),
                           d.items.end());
         }},
        {"a chunk before the last cut short",
         [&](HostDescriptor& d) {
             each(d, first, [](DescriptorItem& i) { i.value.erase(i.value.begin() + 1, i.value.begin() + 3); });
         }},
        {"the same letter twice",
         [&](HostDescriptor& d) { each(d, second, [](DescriptorItem& i) { i.value[0] = 'A'; }); }},
        {"a letter that is not one",
         [&](HostDescriptor& d) { each(d, first, [](DescriptorItem& i) { i.value[0] = 'a'; }); }},
        {"lower-case hex",
         [&](HostDescriptor& d) {
             each(d, first, [](DescriptorItem& i) {
                 for (size_t k = 1; k + 1 < i.value.size(); ++k)
                     i.value[k] = static_cast<uint8_t>(std::tolower(i.value[k]));
             });
         }},
        {"unterminated chunk",
         [&](HostDescriptor& d) { each(d, first, [](DescriptorItem& i) { i.value.back() = 'A'; }); }},
        {"a chunk longer than 250 characters",
         [&](HostDescriptor& d) {
             each(d, first, [](DescriptorItem& i) { i.value.insert(i.value.begin() + 1, {'0', '0'}); });
         }},
        {"no chunks at all", [&](HostDescriptor& d) { d.items.clear(); }},
    };
    for (auto& [what, damage] : damages) {
        HostDescriptor d = good;
        damage(d);
        host.SetDescriptor(d.Serialize());
        std::vector<uint8_t> back;
        uint8_t show = 0;
        EXPECT_FALSE(ReadBackSingle(h, host, back, show)) << what;
    }
    EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
}

}  // namespace
