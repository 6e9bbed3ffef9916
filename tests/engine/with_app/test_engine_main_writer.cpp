// The engine's settings reader against the main window's own writer: every
// block the writer emits is taken, and gives the layout that the main
// window's cut map describes (the knife rules of the direct hand-over).
#include "../../app/app_fixture.h"
#include "engine/Tessolo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

// The knife the engine must hold for a knife of the cut map: off is not
// drawn; flips reverse and mirror the nodes; the knob scales around the mean U.
void ExpectKnife(const CTessolo::KNIFESTRUCT_RENDERER& got, const CWnd_Main::KNIFESTRUCT& k, const char* list,
                 uint32_t i)
{
    if (k.off) {
        EXPECT_EQ(got.nodes, CTessolo::kKnifeOff) << list << " " << i;
        return;
    }
    ASSERT_EQ(got.nodes, k.nodeCount) << list << " " << i;
    EXPECT_EQ(got.width, k.thickness & 0xFF) << list << " " << i;
    const uint32_t n = k.nodeCount;
    double mean = 0;
    for (uint32_t j = 0; j < n; ++j)
        mean += k.U[j];
    mean = n ? mean / n : 0;
    if (k.flipU)
        mean = 1 - mean;
    const double p = (k.knobSize & 0xFF) / 100.0;
    for (uint32_t j = 0; j < n; ++j) {
        const uint32_t src = k.flipU ? n - 1 - j : j;
        double u = k.flipU ? 1.0 - k.U[src] : k.U[src];
        double h = k.flipH ? -k.H[src] : k.H[src];
        if ((k.knobSize & 0xFF) != 100) {
            u = (u - mean) * p + mean;
            h = h * p;
        }
        EXPECT_NEAR(got.U[j], u, 1e-6) << list << " " << i << " node " << j;
        EXPECT_NEAR(got.H[j], h, 1e-6) << list << " " << i << " node " << j;
        EXPECT_EQ(got.S[j], k.S[src]) << list << " " << i << " node " << j;
    }
}

void ExpectSameLayout(app_test::Model& m, const char* what)
{
    SCOPED_TRACE(what);
    const std::vector<uint8_t> bytes = m.Block();
    ASSERT_FALSE(bytes.empty());
    CQNF_Mem block;
    ASSERT_TRUE(block.alloc(bytes.size()));
    std::memcpy(block.GetPtr(), bytes.data(), bytes.size());

    CTessolo e;
    uint8_t drawOnly = 0;
    uint32_t count = 0;
    CTessolo::SFX_ONEPIECE* records = nullptr;
    ASSERT_TRUE(e.InitFromLastSettingsBinary(&block, drawOnly, count, &records));
    EXPECT_EQ(drawOnly, 1);  // a block written in cut mode draws lines on replay
    EXPECT_EQ(count, 0u);

    ASSERT_EQ(e.m_nInnerColumns, m.m_nColSplitters);
    ASSERT_EQ(e.m_nInnerRows, m.m_nRowSplitters);
    for (uint16_t i = 0; i < e.m_nInnerColumns; ++i)
        EXPECT_EQ(e.m_fColumnGuides[i], m.m_ColSplitters[i]);
    for (uint16_t j = 0; j < e.m_nInnerRows; ++j)
        EXPECT_EQ(e.m_fRowGuides[j], m.m_RowSplitters[j]);
    ASSERT_EQ(e.m_nKnots, m.m_Knots.size());
    for (uint32_t k = 0; k < e.m_nKnots; ++k) {
        EXPECT_EQ(e.m_pKnots[k].dx, m.m_Knots[k].dx);
        EXPECT_EQ(e.m_pKnots[k].dy, m.m_Knots[k].dy);
    }
    ASSERT_EQ(e.m_nVKnives, m.m_nColKnives);
    for (uint32_t i = 0; i < e.m_nVKnives; ++i)
        ExpectKnife(e.m_pVKnives[i], m.m_ColKnives[i], "column", i);
    ASSERT_EQ(e.m_nHKnives, m.m_nRowKnives);
    for (uint32_t i = 0; i < e.m_nHKnives; ++i)
        ExpectKnife(e.m_pHKnives[i], m.m_RowKnives[i], "row", i);
    ASSERT_EQ(e.m_nFreeKnives, m.m_nAuxKnives);
    for (uint32_t i = 0; i < e.m_nFreeKnives; ++i) {
        ExpectKnife(e.m_pFreeKnives[i].knife, m.m_AuxKnives[i].knife, "extra", i);
        EXPECT_EQ(e.m_pFreeKnives[i].knotA, m.m_AuxKnives[i].knotA);
        EXPECT_EQ(e.m_pFreeKnives[i].knotB, m.m_AuxKnives[i].knotB);
    }
    EXPECT_EQ(e.m_bCut, m.m_bRazorCut);
    EXPECT_EQ(e.m_bSmooth, m.m_bAntiAlias);
}

// Flips, knob sizes, thicknesses and offsets on every knife and knot, so
// that each branch of the knife transform is taken.
void Vary(app_test::Model& m)
{
    uint32_t n = 0;
    auto vary = [&](CWnd_Main::KNIFESTRUCT& k) {
        k.flipH = n % 2;
        k.flipU = (n / 2) % 2;
        k.off = n % 7 == 3;
        k.knobSize = 60 + (n * 37) % 90;
        k.thickness = 1 + n % 6;
        ++n;
    };
    for (auto& k : m.m_ColKnives)
        vary(k);
    for (auto& k : m.m_RowKnives)
        vary(k);
    for (uint32_t i = 0; i < m.m_nAuxKnives; ++i)
        vary(m.m_AuxKnives[i].knife);
    for (size_t i = 0; i < m.m_Knots.size(); ++i) {
        m.m_Knots[i].dx = float(int(i % 9) - 4) / 5.0f;
        m.m_Knots[i].dy = float(int(i % 5) - 2) / 3.0f;
    }
}

}  // namespace

TEST(EngineMainWriter, ReaderTakesEveryLayoutTheMainWindowWrites)
{
    const std::vector<std::pair<const char*, std::function<void(app_test::Model&)>>> layouts = {
        {"defaults", [](app_test::Model& m) { m.settings_LoadDefaults(); }},
        {"even 6x4", [](app_test::Model& m) { m.spl_SplitEvenParts(6, 4, kForce, kResetExtras); }},
        {"one cell", [](app_test::Model& m) { m.spl_SplitEvenParts(1, 1, kForce, kResetExtras); }},
        {"101x101", [](app_test::Model& m) { m.spl_SplitEvenParts(101, 101, kForce, kResetExtras); }},
        {"triangles", [](app_test::Model& m) { m.AutoLayout_Triangles(3, 4, 0); }},
        {"hexagons", [](app_test::Model& m) { m.AutoLayout_Hexagons(3, 2, 1); }},
        {"hexagons upright", [](app_test::Model& m) { m.AutoLayout_Hexagons_R(2, 3, 0); }},
    };
    for (const auto& [name, make] : layouts) {
        for (bool varied : {false, true}) {
            app_test::Model m;
            make(m);
            if (varied)
                Vary(m);
            m.m_bRazorCut = varied ? 0 : 1;
            m.m_bAntiAlias = varied ? 1 : 0;
            ExpectSameLayout(m, (std::string(name) + (varied ? " varied" : "")).c_str());
        }
    }
}
