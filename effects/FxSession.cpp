#include "effects/FxSession.h"

#include "core/2DMath.h"

#include <algorithm>
#include <cstring>

namespace fxkind {

namespace {
template <auto Member>
uint8_t* BlockOf(CTessolo::SPLITEDCELL& piece, uint8_t copy)
{
    return reinterpret_cast<uint8_t*>(&(piece.*Member)[copy]);
}
template <auto Member>
const uint8_t* DefaultOf(const CTessolo& engine)
{
    return reinterpret_cast<const uint8_t*>(&(engine.*Member));
}
}  // namespace

const FxKind kBrightnessContrast{"bc", 16, sizeof(CTessolo::SFX_BRIGHTNESSCONTRAST),
                                 BlockOf<&CTessolo::SPLITEDCELL::brightnessContrast>,
                                 DefaultOf<&CTessolo::m_DefBrightnessContrast>};
const FxKind kBlur{"blur", 1, sizeof(CTessolo::SFX_GAUSSIANBLUR), BlockOf<&CTessolo::SPLITEDCELL::gaussianBlur>,
                   DefaultOf<&CTessolo::m_DefGaussianBlur>};
const FxKind kOpacity{"opac", 64, sizeof(CTessolo::SFX_OPACITY), BlockOf<&CTessolo::SPLITEDCELL::opacity>,
                      DefaultOf<&CTessolo::m_DefOpacity>};
const FxKind kBevel{"bevel", 2, sizeof(CTessolo::SFX_BEVEL), BlockOf<&CTessolo::SPLITEDCELL::bevel>,
                    DefaultOf<&CTessolo::m_DefBevel>};
const FxKind kMotionBlur{"mblur", 32, sizeof(CTessolo::SFX_MOTIONBLUR), BlockOf<&CTessolo::SPLITEDCELL::motionBlur>,
                         DefaultOf<&CTessolo::m_DefMotionBlur>};
const FxKind kColorOverlay{"covr", 8, sizeof(CTessolo::SFX_COLOROVERLAY), BlockOf<&CTessolo::SPLITEDCELL::colorOverlay>,
                           DefaultOf<&CTessolo::m_DefColorOverlay>};
const FxKind kStroke{"stroke", 256, sizeof(CTessolo::SFX_STROKE), BlockOf<&CTessolo::SPLITEDCELL::stroke>,
                     DefaultOf<&CTessolo::m_DefStroke>};
const FxKind kHSL{"hsl", 4, sizeof(CTessolo::SFX_HSL), BlockOf<&CTessolo::SPLITEDCELL::hsl>,
                  DefaultOf<&CTessolo::m_DefHSL>};

}  // namespace fxkind

CFxSession::CFxSession(const FxKind& kind, CFxMainLink& link, CFxTimers& timers)
    : m_kind(kind), m_link(link), m_timers(timers)
{
}

bool CFxSession::OnPreparePieces()
{
    CTessolo& e = m_link.FxEngine();
    m_pieces.clear();
    m_box = FxCentreBox{};
    if (e.m_nPieces == 0 || !e.m_pPieces)
        return false;
    m_pieces.reserve(e.m_nPieces);
    auto take = [&](bool selectedOnly) {
        for (uint32_t i = 0; i < e.m_nPieces; ++i) {
            CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
            if (selectedOnly && !p.selected)
                continue;
            m_pieces.push_back(i);
            const uint8_t* applied = m_kind.block(p, CTessolo::FX_APPLIED);
            std::memcpy(m_kind.block(p, CTessolo::FX_BACKUP), applied, m_kind.blockSize);
            std::memcpy(m_kind.block(p, CTessolo::FX_REQUESTED), applied, m_kind.blockSize);
            const double cx = double(int64_t(p.left) + p.right) * 0.5;
            const double cy = double(int64_t(p.top) + p.bottom) * 0.5;
            m_box.minX = std::min(m_box.minX, cx);
            m_box.minY = std::min(m_box.minY, cy);
            m_box.maxX = std::max(m_box.maxX, cx);
            m_box.maxY = std::max(m_box.maxY, cy);
        }
    };
    take(true);
    if (m_pieces.empty())
        take(false);
    m_results.assign(m_pieces.size() * m_kind.blockSize, 0);
    m_bGenerated = false;
    return true;
}

const uint8_t* CFxSession::InitialBackup()
{
    CTessolo& e = m_link.FxEngine();
    const uint32_t current = m_link.FxCurrentPiece();
    const uint32_t index = current < e.m_nPieces ? current : m_pieces.front();
    return m_kind.block(e.m_pPieces[index], CTessolo::FX_BACKUP);
}

std::vector<double> CFxSession::GradingParameters()
{
    std::vector<double> t(m_pieces.size(), 0.0);
    if (m_direction == FxDirection::Random) {
        // One draw per piece, in list order, used for all its parameters.
        CQNF_RandomSource& random = m_link.FxRandom();
        for (double& v : t)
            v = std::min(1.0, double(random.Next()) / double(CQNF_RandomSource::kMax));
        return t;
    }
    const FxCentreBox& b = m_box;
    qntFPOS from{}, to{};
    switch (m_direction) {
    case FxDirection::TopLeft: from = {b.maxX, b.maxY}, to = {b.minX, b.minY}; break;
    case FxDirection::Top: from = {0, b.maxY}, to = {0, b.minY}; break;
    case FxDirection::TopRight: from = {b.minX, b.maxY}, to = {b.maxX, b.minY}; break;
    case FxDirection::Right: from = {b.minX, 0}, to = {b.maxX, 0}; break;
    case FxDirection::BottomRight: from = {b.minX, b.minY}, to = {b.maxX, b.maxY}; break;
    case FxDirection::Bottom: from = {0, b.minY}, to = {0, b.maxY}; break;
    case FxDirection::BottomLeft: from = {b.maxX, b.minY}, to = {b.minX, b.maxY}; break;
    case FxDirection::Left: from = {b.maxX, 0}, to = {b.minX, 0}; break;
    case FxDirection::Random: break;
    }
    CQNF_2DMath math;
    const CTessolo& e = m_link.FxEngine();
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        const CTessolo::SPLITEDCELL& p = e.m_pPieces[m_pieces[i]];
        const qntFPOS centre{double(int64_t(p.left) + p.right) * 0.5, double(int64_t(p.top) + p.bottom) * 0.5};
        double h = 0.0, u = 0.0;
        // A box without extent along the direction gives no position: every
        // piece then stays at value 1.
        if (!math.Coors2HU(from, to, centre, h, u))
            u = 0.0;
        t[i] = u < 0.0 ? 0.0 : std::min(u, 1.0);
    }
    return t;
}

void CFxSession::DoRegenerateData()
{
    const uint32_t size = m_kind.blockSize;
    if (!m_bAuto) {
        for (size_t i = 0; i < m_pieces.size(); ++i)
            FillPlain(m_results.data() + i * size);
    } else {
        const std::vector<double> t = GradingParameters();
        CTessolo& e = m_link.FxEngine();
        for (size_t i = 0; i < m_pieces.size(); ++i) {
            uint8_t* out = m_results.data() + i * size;
            FillGraded(t[i], m_kind.block(e.m_pPieces[m_pieces[i]], CTessolo::FX_BACKUP), out);
            out[0] = 1;
        }
    }
    m_bGenerated = true;
}

void CFxSession::Changes(uint16_t delay)
{
    m_timers.FxStopTimer(kChangeTimer);
    DoRegenerateData();
    if (m_bCreating && delay == kNow)
        delay = kDelayed;
    if (delay == kDelayed) {
        m_timers.FxStartTimer(kChangeTimer, 50);
    } else if (delay == kNow) {
        if (m_bLive) {
            i_SetModality(false);
            DoUpdateMainWindow(false);
        }
    } else {
        m_timers.FxStartTimer(kChangeTimer, delay);
    }
}

void CFxSession::OnTimer(uint16_t id)
{
    if (id == kChangeTimer) {
        m_timers.FxStopTimer(kChangeTimer);
        if (m_bLive) {
            i_SetModality(false);
            DoUpdateMainWindow(false);
        }
    } else if (id == kBusyTimer) {
        const bool busy = m_link.FxBusy();
        if (busy == m_bModality)
            i_SetModality(!busy);
    }
}

void CFxSession::SetLivePreview(bool on)
{
    m_bLive = on;
    DoUpdateMainWindow(false);
}

void CFxSession::i_Write(bool results)
{
    CTessolo& e = m_link.FxEngine();
    const uint32_t size = m_kind.blockSize;
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        CTessolo::SPLITEDCELL& p = e.m_pPieces[m_pieces[i]];
        const uint8_t* from = results ? m_results.data() + i * size : m_kind.block(p, CTessolo::FX_BACKUP);
        std::memcpy(m_kind.block(p, CTessolo::FX_REQUESTED), from, size);
    }
}

void CFxSession::DoUpdateMainWindow(bool force)
{
    if (m_bClosed)
        return;
    if (!m_bGenerated)
        DoRegenerateData();
    i_Write(m_bLive || force);
    m_link.FxRerenderPieces(m_pieces, true);
}

bool CFxSession::Close(bool ok)
{
    if (m_bClosed)
        return true;
    if (m_link.FxBusy())
        return false;
    m_timers.FxStopTimer(kStatusTimer);
    m_timers.FxStopTimer(kChangeTimer);
    m_timers.FxStopTimer(kBusyTimer);
    i_SetModality(false);
    if (ok && !m_bGenerated)
        DoRegenerateData();
    i_Write(ok);
    m_link.FxRerenderPieces(m_pieces, false);
    m_bClosed = true;
    m_link.FxExitMode();
    return true;
}

void CFxSession::i_SetModality(bool on)
{
    if (m_bModality == on)
        return;
    m_bModality = on;
    if (onModality)
        onModality(on);
}
