// The control base without a window: skin loading, copying state images into
// layers, hot zones, message delivery and focus-master chains.
#include "ui/Control.h"

#include "ctrl_skin_store.h"
#include "imaging/Layer.h"
#include "ui/CtrlSkin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class Probe : public CQNF_Control {
public:
    explicit Probe(uint8_t type = qnctl::Button) { m_type = type; }
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long, char*, unsigned char, void*) override
    {
        received.push_back(msg);
        return 7;
    }
    void SetFocusedFlag(unsigned char f) { m_focused = f; }
    std::vector<unsigned short> received;
};

// A 2 x 2 image with red 1 2 / 3 4 (green +10, blue +20, alpha +30).
std::vector<uint8_t> TwoByTwo()
{
    std::vector<uint8_t> planes;
    for (uint8_t p = 0; p < 4; ++p) {
        for (uint8_t v = 1; v <= 4; ++v) {
            planes.push_back(uint8_t(v + 10 * p));
        }
    }
    return planes;
}

std::vector<uint8_t> Red(CQNF_Layer& layer)
{
    const uint8_t* r = layer.GetPlane(0);
    return std::vector<uint8_t>(r, r + layer.PlaneSize());
}

}  // namespace

TEST(CtrlBase, StateImagesAreCopiedInsideTheLayerOnly)
{
    struct Case {
        short dx, dy, firstRow, rowCount;
        std::vector<uint8_t> red;  // 4 x 3 layer, prefilled with 9
    };
    const Case cases[] = {
        {1, 1, 0, 0, {0, 0, 0, 0, 0, 1, 2, 0, 0, 3, 4, 0}},
        {3, 2, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},   // clipped right and below
        {-1, -1, 0, 0, {4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},  // clipped left and above
        {-5, 0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},   // wholly outside
        {0, 0, 1, 1, {3, 4, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},    // one row, no clearing
        {2, 1, 1, 5, {9, 9, 9, 9, 9, 9, 3, 4, 9, 9, 9, 9}},    // more rows asked than the image has
        {0, 2, -1, 3, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},   // row -1 skipped, then past the layer
    };
    const auto image = TwoByTwo();
    for (const Case& c : cases) {
        CQNF_Layer layer;
        ASSERT_TRUE(layer.Create(qntRECT_s{0, 0, 4, 3}, qnimg::ModeRGBA));
        std::memset(layer.GetPlane(0), 9, layer.PlaneSize() * 4);
        Probe probe;
        EXPECT_EQ(probe.SetDataToImage(&layer, c.dx, c.dy, const_cast<uint8_t*>(image.data()), {10, 10, 12, 12},
                                       c.firstRow, c.rowCount),
                  1);
        EXPECT_EQ(Red(layer), c.red) << c.dx << "," << c.dy << " rows " << c.firstRow << "+" << c.rowCount;
    }
    // Same size at the origin: all four planes in one go.
    CQNF_Layer same;
    ASSERT_TRUE(same.Create(qntRECT_s{5, 5, 7, 7}, qnimg::ModeRGBA));
    Probe probe;
    probe.SetDataToImage(&same, 0, 0, const_cast<uint8_t*>(image.data()), {10, 10, 12, 12}, 0, 0);
    EXPECT_EQ(std::vector<uint8_t>(same.GetPlane(0), same.GetPlane(0) + 16), image);
}

TEST(CtrlBase, SkinRecordsMustFillTheirRectangle)
{
    ctrltest::SkinStore skin;
    skin.Folder("UIResources>Buttons>B");
    auto record = ctrltest::ImageRecord({3, 4, 6, 6}, [](int x, int y) { return qntRGBA8{uint8_t(x), uint8_t(y), 0, 255}; });
    skin.Bytes("UIResources>Buttons>B>Good", ctrltest::Zip(record));
    auto shortRecord = record;
    shortRecord.pop_back();
    skin.Bytes("UIResources>Buttons>B>Short", ctrltest::Zip(shortRecord));
    auto inverted = record;
    inverted[5] = 2;  // right 2 < left 3
    skin.Bytes("UIResources>Buttons>B>Inverted", ctrltest::Zip(inverted));
    skin.Bytes("UIResources>Buttons>B>Unpacked", record);
    skin.Bytes("UIResources>Buttons>B>Tiny", ctrltest::Zip({0, 1, 0, 1, 0}));
    skin.Number("UIResources>Buttons>B>Number", uint16_t(5));
    skin.Bytes("UIResources>Buttons>B>Empty", ctrltest::Zip(ctrltest::ImageRecord({7, 7, 7, 9}, nullptr)));

    Probe probe;
    ASSERT_TRUE(probe.Init(nullptr, 0, "B", &skin.storage));
    qnctl::SkinImage img;
    ASSERT_TRUE(img.Load(probe, "Good"));
    EXPECT_EQ(img.rect, (qntRECT_s{3, 4, 6, 6}));
    EXPECT_EQ(img.pixels[0], 3);      // red of (3, 4)
    EXPECT_EQ(img.pixels[6 + 5], 5);  // green of (5, 5)
    for (const char* bad : {"Short", "Inverted", "Unpacked", "Tiny", "Number", "Missing"}) {
        EXPECT_FALSE(img.Load(probe, bad)) << bad;
        EXPECT_TRUE(qnIsNullRect(img.rect)) << bad;
    }
    EXPECT_TRUE(img.Load(probe, "Empty"));  // no pixels, but a well-formed record
}

TEST(CtrlBase, HotZoneNeedsMoreThanHalfAndExcludesTheFarEdges)
{
    qnctl::SkinImage zone;
    zone.rect = {10, 20, 12, 21};
    uint8_t mask[8] = {128, 129, 0, 0, 0, 0, 0, 0};
    zone.pixels = mask;
    struct Case {
        int x, y;
        bool hit;
    };
    for (const Case& c : {Case{10, 20, false}, Case{11, 20, true}, Case{12, 20, false}, Case{11, 21, false},
                          Case{9, 20, false}, Case{11, 19, false}}) {
        EXPECT_EQ(qnctl::HotZoneHit(zone, c.x, c.y), c.hit) << c.x << "," << c.y;
    }
}

TEST(CtrlBase, UnionsOfStateRectangles)
{
    EXPECT_EQ(qnctl::UnionRect({10, 10, 20, 20}, {30, 5, 40, 15}), (qntRECT_s{10, 5, 40, 20}));
    EXPECT_EQ(qnctl::UnionRect(qnNullRect, {1, 2, 3, 4}), (qntRECT_s{1, 2, 3, 4}));
    EXPECT_TRUE(qnIsNullRect(qnctl::UnionRect({5, 5, 5, 9}, {5, 6, 5, 7})));
    EXPECT_TRUE(qnIsNullRect(qnctl::UnionRect(qnNullRect, qnNullRect)));
}

TEST(CtrlBase, MessagesGoToTheMasterOnlyWhenForwarding)
{
    Probe master;
    Probe control;
    control.EnableMessageForwardingToFocusMaster(1);
    EXPECT_EQ(control.SendMessage(272, nullptr), 0);  // no master: dropped
    control.SetFocusMaster(&master);
    EXPECT_EQ(control.SendMessage(272, nullptr), 7);
    EXPECT_EQ(master.received, (std::vector<unsigned short>{272}));
    control.EnableMessageForwardingToFocusMaster(0);
    EXPECT_EQ(control.SendMessage(256, nullptr), 0);  // to the window, and there is none
    EXPECT_EQ(master.received.size(), 1u);
}

TEST(CtrlBase, FocusBelongsToTheEndOfTheMasterChain)
{
    Probe a, b, c;
    a.SetFocusMaster(&b);
    b.SetFocusMaster(&c);
    c.SetFocusedFlag(1);
    a.SetFocusedFlag(0);
    EXPECT_EQ(a.GetFocus(), 1);
    c.SetFocusedFlag(0);
    EXPECT_EQ(a.GetFocus(), 0);
    // A chain that loops back ends instead of walking for ever.
    c.SetFocusMaster(&a);
    c.SetFocusedFlag(1);
    EXPECT_EQ(a.GetFocus(), 0);
    EXPECT_EQ(b.GetFocus(), 0);
    Probe self;
    self.SetFocusMaster(&self);
    EXPECT_EQ(self.GetFocus(), 0);
    self.SetFocus(1);  // terminates too
}
