// The 92-byte per-piece effect record and its exchange with piece records.
#include "engine/EngineBytes.h"
#include "engine/Tessolo.h"

#include <cstring>

using namespace tessolo_bytes;

namespace {

// Byte offsets of the multi-byte fields inside the stored record.
constexpr size_t kLightX = offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, lightX);
constexpr size_t kLightY = offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, lightY);
constexpr size_t kLightZ = offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, lightZ);
constexpr size_t kDepth = offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, depth);
constexpr size_t kLayerId =
    offsetof(CTessolo::SFX_ONEPIECE, imageOverlay) + offsetof(CTessolo::SFX_IMAGEOVERLAY, layerId);
constexpr size_t kHue = offsetof(CTessolo::SFX_ONEPIECE, hsl) + offsetof(CTessolo::SFX_HSL, hue);

}  // namespace

CTessolo::SFX_ONEPIECE CTessolo::SFX_ONEPIECE::LoadLE(const uint8_t* bytes)
{
    // The single-byte fields sit at their stored offsets already; only the
    // multi-byte ones need their byte order fixed on a big-endian machine.
    SFX_ONEPIECE r;
    std::memcpy(&r, bytes, sizeof r);
    r.bevel.lightX = LoadLEFloat(bytes + kLightX);
    r.bevel.lightY = LoadLEFloat(bytes + kLightY);
    r.bevel.lightZ = LoadLEFloat(bytes + kLightZ);
    r.bevel.depth = LoadLE16(bytes + kDepth);
    r.imageOverlay.layerId = static_cast<int32_t>(LoadLE32(bytes + kLayerId));
    r.hsl.hue = static_cast<int16_t>(LoadLE16(bytes + kHue));
    return r;
}

void CTessolo::SFX_ONEPIECE::StoreLE(uint8_t* bytes) const
{
    std::memcpy(bytes, this, sizeof *this);
    StoreLEFloat(bytes + kLightX, bevel.lightX);
    StoreLEFloat(bytes + kLightY, bevel.lightY);
    StoreLEFloat(bytes + kLightZ, bevel.lightZ);
    StoreLE16(bytes + kDepth, bevel.depth);
    StoreLE32(bytes + kLayerId, static_cast<uint32_t>(imageOverlay.layerId));
    StoreLE16(bytes + kHue, static_cast<uint16_t>(hsl.hue));
}

CTessolo::SFX_ONEPIECE CTessolo::MakeOnePiece(const SPLITEDCELL& piece)
{
    SFX_ONEPIECE r{};
    r.brightnessContrast = piece.brightnessContrast[FX_APPLIED];
    r.bevel = piece.bevel[FX_APPLIED];
    r.gaussianBlur = piece.gaussianBlur[FX_APPLIED];
    r.colorOverlay = piece.colorOverlay[FX_APPLIED];
    r.imageOverlay = piece.imageOverlay[FX_APPLIED];
    r.stroke = piece.stroke[FX_APPLIED];
    r.hsl = piece.hsl[FX_APPLIED];
    r.motionBlur = piece.motionBlur[FX_APPLIED];
    r.opacity = piece.opacity[FX_APPLIED];
    r.invert = piece.invert[FX_APPLIED];
    r.selected = piece.selected;
    r.shown = piece.shown;
    r.row = static_cast<uint8_t>(piece.row);
    r.column = static_cast<uint8_t>(piece.column);
    return r;
}

void CTessolo::PutOnePieceRequested(const SFX_ONEPIECE& record, SPLITEDCELL& piece)
{
    piece.brightnessContrast[FX_REQUESTED] = record.brightnessContrast;
    piece.bevel[FX_REQUESTED] = record.bevel;
    piece.gaussianBlur[FX_REQUESTED] = record.gaussianBlur;
    piece.colorOverlay[FX_REQUESTED] = record.colorOverlay;
    piece.imageOverlay[FX_REQUESTED] = record.imageOverlay;
    piece.stroke[FX_REQUESTED] = record.stroke;
    piece.hsl[FX_REQUESTED] = record.hsl;
    piece.motionBlur[FX_REQUESTED] = record.motionBlur;
    piece.opacity[FX_REQUESTED] = record.opacity;
    piece.invert[FX_REQUESTED] = record.invert;
}

CTessolo::SFX_ONEPIECE CTessolo::DefaultOnePiece() const
{
    SFX_ONEPIECE r{};
    r.brightnessContrast = m_DefBrightnessContrast;
    r.bevel = m_DefBevel;
    r.gaussianBlur = m_DefGaussianBlur;
    r.colorOverlay = m_DefColorOverlay;
    r.imageOverlay = m_DefImageOverlay;
    r.stroke = m_DefStroke;
    r.hsl = m_DefHSL;
    r.motionBlur = m_DefMotionBlur;
    r.opacity = m_DefOpacity;
    r.invert = m_DefInvert;
    r.shown = 1;
    return r;
}
