// Exports larger than their file format can hold are refused before any
// piece is rendered, with the limit named.
#include "app/PiecesExport.h"
#include "engine/Tessolo.h"
#include "imaging/PSDCodec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(PiecesExport, PsdPastItsLayerLimitIsRefusedNamingTheLimit)
{
    // 101 x 101 cells of 8 x 8 pixels, crossed by 20000 free knives along
    // their diagonals: some 40000 pieces, more layers than a PSD holds.
    constexpr uint16_t kCells = 101, kSide = 8 * kCells;
    CTessolo e;
    ASSERT_TRUE(e.Init(kCells, kCells, CTessolo::kMaxFreeKnives));
    for (int i = 0; i < e.m_nInnerColumns; ++i)
        e.m_fColumnGuides[i] = float(i + 1) / kCells;
    for (int j = 0; j < e.m_nInnerRows; ++j)
        e.m_fRowGuides[j] = float(j + 1) / kCells;
    const uint32_t knotsPerRow = kCells + 1;
    for (uint32_t k = 0; k < e.m_nFreeKnives; ++k) {
        const uint32_t cell = k % (uint32_t(kCells) * kCells), c = cell % kCells, r = cell / kCells;
        const bool down = k < uint32_t(kCells) * kCells;
        e.m_pFreeKnives[k].knotA = r * knotsPerRow + c + (down ? 0 : 1);
        e.m_pFreeKnives[k].knotB = (r + 1) * knotsPerRow + c + (down ? 1 : 0);
    }
    e.m_bCut = 1;
    e.m_bSmooth = 0;
    std::vector<uint8_t> pixels(size_t(3) * kSide * kSide, 128);
    uint8_t* planes[3] = {pixels.data(), pixels.data() + size_t(kSide) * kSide, pixels.data() + size_t(2) * kSide * kSide};
    e.m_nColorMode = 1;
    ASSERT_TRUE(e.SplitCells(kSide, kSide, nullptr, 0, planes, kSide, 3, 0, 100, 0));
    ASSERT_GT(e.m_nPieces, CQNF_ImagePSD::MaxLayers);

    const fs::path dir = fs::path(::testing::TempDir()) / ("limits_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    CPiecesExport exporter(e);
    CPiecesExport::REQUEST r;
    r.settings.exportTo = CExportSettings::kToPSD;
    r.settings.exportWhat = CExportSettings::kAll;
    r.path = (dir / "pieces.psd").string();
    r.width = r.height = kSide;
    CPiecesExport::RESULT result;
    EXPECT_FALSE(exporter.Export(r, result));
    EXPECT_NE(exporter.Detail().find("at most " + std::to_string(CQNF_ImagePSD::MaxLayers) + " layers"),
              std::string::npos)
        << exporter.Detail();
    EXPECT_NE(exporter.Detail().find(std::to_string(e.m_nPieces)), std::string::npos) << exporter.Detail();
    EXPECT_EQ(exporter.Message(), "Cannot write file...");
    EXPECT_TRUE(fs::is_empty(dir));
    fs::remove_all(dir);
}

}  // namespace
