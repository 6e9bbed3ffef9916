// Selections from a document channel: the dialog's list, and the knives
// picked by sampling the channel at the knots.
#include "app/ChannelSelect.h"
#include "app/MainModel.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

CQNF_8BFPluginVirtual::PLUGINDATA Data(uint8_t mode, uint8_t planes, uint8_t transparency, uint8_t selection)
{
    CQNF_8BFPluginVirtual::PLUGINDATA d;
    std::memset(&d, 0, sizeof d);
    d.colorMode = mode;
    d.planes = planes;
    d.hasTransparency = transparency;
    d.withSelection = selection;
    return d;
}

std::string Texts(const std::vector<qntCHANNELITEM>& items)
{
    std::string out;
    for (const auto& i : items)
        out += i.text + "=" + std::to_string(int32_t(i.value)) + ";";
    return out;
}

uint32_t SelectedKnives(const CWnd_MainModel& m)
{
    uint32_t n = 0;
    m.i_ForEachKnife([&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t) { n += k.selected; });
    return n;
}

}  // namespace

TEST(ChannelSelect, ListOffersTheSelectionPlanesTransparencyOrTheHostNames)
{
    CQNF_StringArray none;
    EXPECT_EQ(Texts(qnChannelListItems(Data(1, 4, 1, 1), none)),
              "- Current Selection=-1;Red=0;Green=1;Blue=2;Layer Transparency=3;");
    EXPECT_EQ(Texts(qnChannelListItems(Data(0, 1, 0, 0), none)), "Gray=0;");
    EXPECT_EQ(Texts(qnChannelListItems(Data(2, 4, 0, 0), none)), "Cyan=0;Magenta=1;Yellow=2;Black=3;");
    CQNF_StringArray names;
    names.Add(CQNF_String("Red"), 0);
    names.Add(CQNF_String("Spot mask"), 4);
    CQNF_8BFPluginVirtual::PLUGINDATA named = Data(1, 4, 1, 0);
    named.channelNamesPresent = 1;
    EXPECT_EQ(Texts(qnChannelListItems(named, names)), "Red=0;Spot mask=4;");
}

TEST(ChannelSelect, KnivesAtTheKnotsInsideTheChannelAreSelected)
{
    // 2 x 2 cells over 20 x 10: knots 3 x 3, centre knot 4 at (10, 5).
    CWnd_MainModel m;
    m.SetImageSize(20, 10);
    ASSERT_TRUE(m.spl_SplitEvenParts(2, 2, 1, 1));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(0, 4));
    std::vector<uint8_t> white(200, 255), centre(200, 255), black(200, 0);
    centre[5 * 20 + 10] = 0;

    // Nothing dark: nothing selected, border knots included.
    qnSelectKnivesFromMap(m, white.data(), 20, 10, 0, 0);
    EXPECT_EQ(SelectedKnives(m), 0u);
    // The centre: its two column knives, two row knives and the free knife.
    qnSelectKnivesFromMap(m, centre.data(), 20, 10, 0, 0);
    EXPECT_EQ(SelectedKnives(m), 5u);
    EXPECT_TRUE(m.m_AuxKnives[0].knife.selected);
    // Inverted, every knife has a knot that is not dark.
    qnSelectKnivesFromMap(m, centre.data(), 20, 10, 0, 1);
    EXPECT_EQ(SelectedKnives(m), m.GetKnifeCount());
    // Intersect with an all-dark channel keeps, subtract drops.
    qnSelectKnivesFromMap(m, black.data(), 20, 10, 3, 0);
    EXPECT_EQ(SelectedKnives(m), m.GetKnifeCount());
    qnSelectKnivesFromMap(m, black.data(), 20, 10, 2, 0);
    EXPECT_EQ(SelectedKnives(m), 0u);
    // The right border's knots read the last column.
    std::vector<uint8_t> right(200, 255);
    for (int y = 0; y < 10; ++y)
        right[size_t(y) * 20 + 19] = 0;
    qnSelectKnivesFromMap(m, right.data(), 20, 10, 1, 0);
    EXPECT_EQ(SelectedKnives(m), 1u);  // the row knife that ends at the right border
}
