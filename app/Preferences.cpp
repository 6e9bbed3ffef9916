#include "app/Preferences.h"

#include "core/Storage.h"
#include "imaging/Image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

const char* const kOnLoadZoom = "Preferences>OnLoadZoom";
const char* const kDelKnifeOpacity = "Preferences>DelKnifeOpacity";
const char* const kAlphaSolid = "Preferences>AlphaSolid";
const char* const kExtAlphaSolid = "Preferences>ExtAlphaSolid";

// The colour records in the order they are written.
struct ColourKey {
    const char* key;
    qntRGBA8 CPreferences::*field;
};
const ColourKey kColours[6] = {
    {"Preferences>AlphaColor1", &CPreferences::alphaColor1},
    {"Preferences>AlphaColor2", &CPreferences::alphaColor2},
    {"Preferences>AlphaColorSolid", &CPreferences::alphaColorSolid},
    {"Preferences>ExtAlphaColor1", &CPreferences::extAlphaColor1},
    {"Preferences>ExtAlphaColor2", &CPreferences::extAlphaColor2},
    {"Preferences>ExtAlphaColorSolid", &CPreferences::extAlphaColorSolid},
};

bool SameColour(const qntRGBA8& a, const qntRGBA8& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

bool Inside(const qntRECT_s& r, int32_t x, int32_t y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// The whole number an edit's text starts with, as atoi reads it (blanks, a
// sign, digits; 0 without digits), kept within 64 bits.
int64_t LeadingNumber(const char* text)
{
    if (!text)
        return 0;
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    int64_t v = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text)
        v = std::min<int64_t>(v * 10 + (*text - '0'), INT64_C(1) << 40);
    return negative ? -v : v;
}

}  // namespace

// ---- CPreferences ---------------------------------------------------------------

void CPreferences::settings_Load(CQNF_Storage* conf)
{
    if (!conf || !conf->IsOpened())
        return;
    conf->GetRec(kOnLoadZoom, onLoadZoom);
    conf->GetRec(kDelKnifeOpacity, delKnifeOpacity);
    conf->GetRec(kAlphaSolid, alphaSolid);
    conf->GetRec(kExtAlphaSolid, extAlphaSolid);
    for (const ColourKey& c : kColours) {
        unsigned char bytes[4];
        uint32_t size = 0;
        // Asking for the size first: a record of another length is refused.
        if (!conf->GetRec(c.key, nullptr, size) || size != 4 || !conf->GetRec(c.key, bytes, size))
            continue;
        this->*c.field = qntRGBA8{bytes[0], bytes[1], bytes[2], bytes[3]};
    }
}

bool CPreferences::settings_Save(CQNF_Storage* conf) const
{
    if (!conf || !conf->IsOpened())
        return false;
    // The folder exists after the first OK; that is no failure.
    conf->AddFolder(kFolder);
    bool ok = conf->SetRecord(kOnLoadZoom, onLoadZoom);
    ok = conf->SetRecord(kDelKnifeOpacity, delKnifeOpacity) && ok;
    ok = conf->SetRecord(kAlphaSolid, alphaSolid) && ok;
    ok = conf->SetRecord(kExtAlphaSolid, extAlphaSolid) && ok;
    for (const ColourKey& c : kColours) {
        const qntRGBA8& v = this->*c.field;
        const unsigned char bytes[4] = {v.r, v.g, v.b, v.a};
        ok = conf->SetRecord(c.key, bytes, 4) && ok;
    }
    return ok;
}

void CPreferences::TransparencyPair(qntRGBA8& a, qntRGBA8& b) const
{
    a = alphaSolid ? alphaColorSolid : alphaColor1;
    b = alphaSolid ? alphaColorSolid : alphaColor2;
}

void CPreferences::FramePair(qntRGBA8& a, qntRGBA8& b) const
{
    a = extAlphaSolid ? extAlphaColorSolid : extAlphaColor1;
    b = extAlphaSolid ? extAlphaColorSolid : extAlphaColor2;
}

uint8_t CPreferences::OpacityFromPercent(int64_t percent)
{
    const int64_t p = std::clamp<int64_t>(percent, 10, 50);
    return static_cast<uint8_t>(p * 255 / 100);
}

uint32_t CPreferences::PercentFromOpacity(uint8_t value)
{
    const uint32_t q = uint32_t{value} * 1000 / 255;
    return q / 10 + (q % 10 > 5 ? 1 : 0);
}

bool CPreferences::operator==(const CPreferences& o) const
{
    for (const ColourKey& c : kColours)
        if (!SameColour(this->*c.field, o.*c.field))
            return false;
    return onLoadZoom == o.onLoadZoom && delKnifeOpacity == o.delKnifeOpacity && alphaSolid == o.alphaSolid &&
           extAlphaSolid == o.extAlphaSolid;
}

// ---- CPrefDialogModel -------------------------------------------------------------

std::string CPrefDialogModel::OpacityText() const
{
    return std::to_string(CPreferences::PercentFromOpacity(m_Values.delKnifeOpacity));
}

void CPrefDialogModel::OnEdit(const char* text)
{
    m_Values.delKnifeOpacity = CPreferences::OpacityFromPercent(LeadingNumber(text));
}

std::string CPrefDialogModel::OnEdit_LF(const char* text)
{
    const int64_t shown = std::clamp<int64_t>(LeadingNumber(text), 10, 50);
    // Writing the number back notifies the edit, which stores it.
    OnEdit(std::to_string(shown).c_str());
    return std::to_string(shown);
}

void CPrefDialogModel::OnRadios(bool frameSolid, bool transparencySolid)
{
    m_Values.extAlphaSolid = frameSolid ? 1 : 0;
    m_Values.alphaSolid = transparencySolid ? 1 : 0;
}

qntRGBA8& CPrefDialogModel::i_Color(Swatch swatch)
{
    switch (swatch) {
    case kFCB1: return m_Values.extAlphaColor1;
    case kFCB2: return m_Values.extAlphaColor2;
    case kFSolid: return m_Values.extAlphaColorSolid;
    case kTCB1: return m_Values.alphaColor1;
    case kTCB2: return m_Values.alphaColor2;
    default: return m_Values.alphaColorSolid;
    }
}

qntRGBA8 CPrefDialogModel::SwatchColor(Swatch swatch) const
{
    return const_cast<CPrefDialogModel*>(this)->i_Color(swatch);
}

void CPrefDialogModel::OnColorPicked(Swatch swatch, qntRGBA8 colour)
{
    if (swatch >= kSwatchCount)
        return;
    i_Color(swatch) = colour;
    switch (swatch) {
    case kFCB1:
    case kFCB2: m_Values.extAlphaSolid = 0; break;
    case kFSolid: m_Values.extAlphaSolid = 1; break;
    case kTCB1:
    case kTCB2: m_Values.alphaSolid = 0; break;
    default: m_Values.alphaSolid = 1; break;
    }
}

const char* CPrefDialogModel::SwatchRadio(Swatch swatch)
{
    static const char* const kRadios[kSwatchCount] = {"Pref_FCB", "Pref_FCB", "Pref_FSolid",
                                                      "Pref_TCB", "Pref_TCB", "Pref_TSolid"};
    return swatch < kSwatchCount ? kRadios[swatch] : "";
}

CPrefDialogModel::Swatch CPrefDialogModel::SwatchAt(const RECTS& r, int32_t x, int32_t y)
{
    const qntRECT_s* order[kSwatchCount] = {&r.fcb1, &r.fcb2, &r.fsolid, &r.tcb1, &r.tcb2, &r.tsolid};
    for (uint8_t i = 0; i < kSwatchCount; ++i)
        if (Inside(*order[i], x, y))
            return static_cast<Swatch>(i);
    return kNoSwatch;
}

CPrefDialogModel::Zone CPrefDialogModel::ZoneAt(const RECTS& r, int32_t x, int32_t y)
{
    if (Inside(r.preview, x, y))
        return kZonePreview;
    if (Inside(r.tcb1, x, y) || Inside(r.tcb2, x, y))
        return kZoneSwatchT;
    if (Inside(r.fcb1, x, y) || Inside(r.fcb2, x, y))
        return kZoneSwatchF;
    if (Inside(r.tsolid, x, y))
        return kZoneSwatchTS;
    if (Inside(r.fsolid, x, y))
        return kZoneSwatchFS;
    return kNoZone;
}

const char* CPrefDialogModel::ZoneName(Zone zone)
{
    switch (zone) {
    case kZonePreview: return "Zone_Preview";
    case kZoneSwatchT: return "Zone_SwatchT";
    case kZoneSwatchF: return "Zone_SwatchF";
    case kZoneSwatchTS: return "Zone_SwatchTS";
    case kZoneSwatchFS: return "Zone_SwatchFS";
    default: return "";
    }
}

bool CPrefDialogModel::OnPointerZone(Zone zone)
{
    if (zone == m_LastZone)
        return false;
    m_LastZone = zone;
    return true;
}

bool CPrefDialogModel::DrawPreview(CQNF_Image& layer) const
{
    const int32_t w = layer.GetImageWidth(), h = layer.GetImageHeight();
    if (!layer.HasPixels())
        return false;
    qntRGBA8 a, b;
    m_Values.FramePair(a, b);
    bool ok = layer.Set(8, 8, a, b, qntRECT_s{0, 0, w, h});
    // The inner area stands for the image: what a transparent part shows.
    if (w > 44 && h > 44) {
        m_Values.TransparencyPair(a, b);
        ok = layer.Set(8, 8, a, b, qntRECT_s{22, 22, w - 22, h - 22}) && ok;
    }
    return ok;
}

bool CPrefDialogModel::OnOk(CPreferences& main, CQNF_Storage* conf) const
{
    const bool opacityChanged = main.delKnifeOpacity != m_Values.delKnifeOpacity;
    main = m_Values;
    if (conf && conf->IsOpened())
        m_Values.settings_Save(conf);
    return opacityChanged;
}
