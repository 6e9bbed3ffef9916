// CTessolo: construction, layout sizing, knot positions, progress, pieces.
#include "engine/Tessolo.h"

#include "engine/SplitRaster.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Layout values from callers and files are fractions; a value that is not a
// number must never reach the rasteriser.
float Clamped(float v, float lo, float hi)
{
    if (!(v == v))
        return 0.0f;
    return std::min(std::max(v, lo), hi);
}

// Makes sure block holds at least bytes; it is never shrunk. On failure the
// block keeps its old size and contents.
bool GrowTo(CQNF_Mem& block, uint64_t bytes)
{
    if (bytes <= block.GetSize())
        return true;
    return block.Resize(bytes);
}

}  // namespace

CTessolo::CTessolo()
{
    const SFX_COLOR red{85, 255, 0, 0, 255, 0, 0, 255};
    m_DefColorOverlay = SFX_COLOROVERLAY{0, 255, red};
    m_DefStroke = SFX_STROKE{0, 255, 3, red};
    m_DefImageOverlay = SFX_IMAGEOVERLAY{0, 255, 0, 0, -1};
    m_DefHSL = SFX_HSL{0, 0, 0, 0, 0};
    m_DefOpacity = SFX_OPACITY{0, 255};
    m_DefInvert = 0;
    m_DefGaussianBlur = SFX_GAUSSIANBLUR{0, 0};
    m_DefBrightnessContrast = SFX_BRIGHTNESSCONTRAST{0, 0, 0};
    m_DefMotionBlur = SFX_MOTIONBLUR{0, 45, 0};
    m_DefBevel = SFX_BEVEL{};
    m_DefBevel.on = 1;
    m_DefBevel.lightX = -0.46829286f;
    m_DefBevel.lightY = 0.74926859f;
    m_DefBevel.lightZ = 0.46829286f;
    m_DefBevel.highlightOpacity = 191;
    m_DefBevel.highlightColor = SFX_COLOR{255, 255, 255, 255, 255, 255, 255, 255};
    m_DefBevel.shadowOpacity = 191;
    m_DefBevel.shadowColor = SFX_COLOR{0, 0, 0, 0, 0, 0, 0, 255};
    m_DefBevel.size = 2;
    m_DefBevel.depth = 3;
    m_DefBevel.soften = 0;
}

CTessolo::~CTessolo()
{
    i_FreePieces();
    for (CQNF_Mem* block : m_PiecePool)
        delete block;
}

void CTessolo::EvenGuides(float* guides, uint16_t n)
{
    const float step = 1.0f / float(n + 1);
    float p = step;
    for (uint16_t i = 0; i < n; ++i) {
        guides[i] = p;
        p += step;
    }
}

bool CTessolo::Init(uint16_t columns, uint16_t rows, uint32_t freeKnives)
{
    if (freeKnives > kMaxFreeKnives || m_bBusy)
        return false;
    const uint16_t innerC = columns == 0 ? 0 : std::min<uint16_t>(columns - 1, kMaxInner);
    const uint16_t innerR = rows == 0 ? 0 : std::min<uint16_t>(rows - 1, kMaxInner);
    const uint32_t knots = uint32_t(innerC + 2) * uint32_t(innerR + 2);
    const uint32_t vKnives = uint32_t(innerC) * uint32_t(innerR + 1);
    const uint32_t hKnives = uint32_t(innerC + 1) * uint32_t(innerR);

    // Grow every block first: a failure then leaves the layout as it was.
    if (!GrowTo(m_memKnots, uint64_t(knots) * sizeof(KNOT)) ||
        !GrowTo(m_memVKnives, uint64_t(vKnives) * sizeof(KNIFESTRUCT_RENDERER)) ||
        !GrowTo(m_memHKnives, uint64_t(hKnives) * sizeof(KNIFESTRUCT_RENDERER)) ||
        !GrowTo(m_memFreeKnives, uint64_t(freeKnives) * sizeof(FREEKNIFE_RENDERER)))
        return false;

    m_nInnerColumns = innerC;
    m_nInnerRows = innerR;
    std::fill(std::begin(m_fColumnGuides), std::end(m_fColumnGuides), 0.0f);
    std::fill(std::begin(m_fRowGuides), std::end(m_fRowGuides), 0.0f);

    m_pKnots = reinterpret_cast<KNOT*>(m_memKnots.GetPtr());
    m_nKnots = knots;
    m_nKnotColumns = static_cast<uint16_t>(innerC + 2);
    m_nKnotRows = static_cast<uint16_t>(innerR + 2);
    if (knots)
        std::memset(m_pKnots, 0, knots * sizeof(KNOT));

    m_pVKnives = reinterpret_cast<KNIFESTRUCT_RENDERER*>(m_memVKnives.GetPtr());
    m_nVKnives = vKnives;
    m_nVKnivesPerRow = innerC;
    m_nVKnifeRows = static_cast<uint16_t>(innerR + 1);
    if (vKnives)
        std::memset(m_pVKnives, 0, vKnives * sizeof(KNIFESTRUCT_RENDERER));

    m_pHKnives = reinterpret_cast<KNIFESTRUCT_RENDERER*>(m_memHKnives.GetPtr());
    m_nHKnives = hKnives;
    m_nHKnivesPerRow = static_cast<uint16_t>(innerC + 1);
    m_nHKnifeRows = innerR;
    if (hKnives)
        std::memset(m_pHKnives, 0, hKnives * sizeof(KNIFESTRUCT_RENDERER));

    m_pFreeKnives = reinterpret_cast<FREEKNIFE_RENDERER*>(m_memFreeKnives.GetPtr());
    m_nFreeKnives = freeKnives;
    if (freeKnives)
        std::memset(m_pFreeKnives, 0, freeKnives * sizeof(FREEKNIFE_RENDERER));
    return true;
}

void CTessolo::i_FreePieces()
{
    // The pool keeps the blocks of the pieces freed last, for the next cut.
    for (CQNF_Mem* block : m_PiecePool)
        delete block;
    m_PiecePool.clear();
    try {
        m_PiecePool.reserve(3 * size_t(m_nPieces));
    } catch (const std::bad_alloc&) {
        // no room to remember them: they are released below
    }
    for (uint32_t i = 0; i < m_nPieces; ++i) {
        for (CQNF_Mem* block : {m_pPieces[i].mask, m_pPieces[i].planes, m_pPieces[i].alpha}) {
            if (block && !block->IsBorrowed() && m_PiecePool.size() < m_PiecePool.capacity())
                m_PiecePool.push_back(block);
            else
                delete block;
        }
    }
    m_nPieces = 0;
    // The arena's bytes go to the next cut's pieces.
    m_MaskArena.Reset();
    m_PlaneArena.Reset();
    // What effects wrote there is given back, so that it all reads 0 again.
    m_AlphaArena.Reset();
    m_AlphaArena.Trim();
    m_memPieces.free();
    m_pPieces = nullptr;
    m_memWork.free();
    std::fill(std::begin(m_pWorkPlanes), std::end(m_pWorkPlanes), nullptr);
    m_nWorkStride = 0;
    m_nLargestWidth = 0;
    m_nLargestHeight = 0;
    m_bLinesMode = 0;
}

bool CTessolo::FreeSpliting()
{
    if (m_bBusy)
        return false;
    i_FreePieces();
    return true;
}

void CTessolo::PlatformMessageBox(const char* text, const char* title)
{
    if (!m_pHost)
        return;
    char t[251];
    char c[251];
    std::snprintf(t, sizeof t, "%s", text ? text : "");
    std::snprintf(c, sizeof c, "%s", title ? title : "");
    m_pHost->PlatformMessageBox(t, c);
}

void CTessolo::SetLocalProgress(double percent, double from, double to)
{
    if (!m_pProgress)
        return;
    if (m_pProgress != m_pLastReportedTo) {
        m_pLastReportedTo = m_pProgress;
        m_nLastReported = -1;
    }
    const float v = static_cast<float>(from + (to - from) * percent / 100.0);
    const int b = (v == v) ? static_cast<int>(std::min(std::max(v, 0.0f), 255.0f)) : 0;
    if (b == m_nLastReported)
        return;
    m_nLastReported = b;
    m_pProgress->Progress(static_cast<uint8_t>(b), nullptr);
}

bool CTessolo::i_Canceled()
{
    if (!m_pProgress || !m_pProgress->IsCanceled())
        return false;
    if (m_nSplitFailure == SplitFailure::None)
        m_nSplitFailure = SplitFailure::Cancelled;
    return true;
}

void CTessolo::i_SplitFailed(SplitFailure why)
{
    m_nSplitFailure = why;
    PlatformMessageBox(why == SplitFailure::TooManyPieces ? tessolo_split::kTooManyText : tessolo_split::kMemoryText,
                       tessolo_split::kErrorTitle);
}

const char* CTessolo::SplitFailureText(SplitFailure why)
{
    switch (why) {
    case SplitFailure::NoMemory:
        return "out of memory";
    case SplitFailure::TooManyPieces:
        return "too many pieces (100000 or more; a cut makes at most 99999)";
    case SplitFailure::Cancelled:
        return "cancelled";
    case SplitFailure::None:
        break;
    }
    return "";
}

bool CTessolo::i_ProgressStep(double percent, double from, double to)
{
    SetLocalProgress(percent, from, to);
    return !i_Canceled();
}

qntFPOS CTessolo::i_ConvertKnot(uint32_t column, uint32_t row, double width, double height) const
{
    if (column >= m_nKnotColumns || row >= m_nKnotRows || !m_pKnots)
        return qntFPOS{0.0, 0.0};
    const KNOT& k = m_pKnots[size_t(row) * m_nKnotColumns + column];

    // One axis: knot index i of a line of inner guides; the border knots stay
    // on the image edge whatever their offset says.
    auto axis = [](uint32_t i, uint16_t inner, const float* guides, float offset, double size) -> double {
        if (i == 0)
            return 0.0;
        if (i >= uint32_t(inner) + 1)
            return size;
        const double g = Clamped(guides[i - 1], 0.0f, 1.0f);
        const double d = Clamped(offset, -1.0f, 1.0f);
        double gap;
        if (d < 0)
            gap = i == 1 ? g : g - Clamped(guides[i - 2], 0.0f, 1.0f);
        else
            gap = i == inner ? 1.0 - g : Clamped(guides[i], 0.0f, 1.0f) - g;
        return (g + d * gap) * size;
    };
    return qntFPOS{axis(column, m_nInnerColumns, m_fColumnGuides, k.dx, width),
                   axis(row, m_nInnerRows, m_fRowGuides, k.dy, height)};
}

qntFPOS CTessolo::i_ConvertKnot(uint32_t index, double width, double height) const
{
    if (m_nKnotColumns == 0)
        return qntFPOS{0.0, 0.0};
    return i_ConvertKnot(index % m_nKnotColumns, index / m_nKnotColumns, width, height);
}
