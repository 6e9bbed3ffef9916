#include "cutter/DialogModels.h"

#include "app/MainModel.h"
#include "core/Storage.h"
#include "core/String.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

int32_t qnEditInteger(const char* text)
{
    if (!text)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        v = std::min<int64_t>(v * 10 + (*p - '0'), int64_t(INT32_MAX) + 1);
    if (negative)
        return int32_t(std::max<int64_t>(-v, INT32_MIN));
    return int32_t(std::min<int64_t>(v, INT32_MAX));
}

DialogKey qnDialogKey(uint8_t key, bool okEnabled)
{
    if (key == kKeyReturn)
        return okEnabled ? DialogKey::Ok : DialogKey::Consumed;
    if (key == kKeyEsc)
        return DialogKey::Cancel;
    return DialogKey::NotHandled;
}

bool CShapeNameRule::IsOkEnabled(const char* text)
{
    CQNF_String s(text);
    s.TrimBoth();
    return s.GetLength() > 0;
}

// ---- Auto layout ---------------------------------------------------------------------

namespace {

std::string Number(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u", unsigned(v));
    return buf;
}

}  // namespace

CAutoLayoutModel::MAXIMA CAutoLayoutModel::Maxima(uint8_t kind)
{
    switch (kind) {
    case kHexagons:
        return {48, 97};
    case kHexagons2:
        return {97, 48};
    default:
        return {97, 98};
    }
}

uint32_t CAutoLayoutModel::Clamp(int64_t n, uint32_t max)
{
    if (n < 1)
        return 1;
    return n >= int64_t(max) ? max : uint32_t(n);
}

void CAutoLayoutModel::settings_Load(CQNF_Storage* conf)
{
    if (conf && conf->IsOpened()) {
        uint32_t v = 0;
        uint8_t b = 0;
        if (conf->GetRec("Auto Layout Settings>Rows", v))
            m_nRows = v;
        if (conf->GetRec("Auto Layout Settings>Cols", v))
            m_nCols = v;
        if (conf->GetRec("Auto Layout Settings>Shape", b))
            m_nKind = b;
        if (conf->GetRec("Auto Layout Settings>Regular", b))
            m_bRegular = b != 0;
    }
    const MAXIMA m = Maxima(m_nKind);
    m_nCols = Clamp(m_nCols, m.columns);
    m_nRows = Clamp(m_nRows, m.rows);
    SetInitStates();
}

void CAutoLayoutModel::SetInitStates() { m_Current = Maxima(m_nKind); }

uint32_t CAutoLayoutModel::ShownRows() const { return Clamp(m_nRows, m_Current.rows); }
uint32_t CAutoLayoutModel::ShownCols() const { return Clamp(m_nCols, m_Current.columns); }

void CAutoLayoutModel::OnSldrRows(uint32_t value) { m_nRows = Clamp(value, m_Current.rows); }
void CAutoLayoutModel::OnSldrCols(uint32_t value) { m_nCols = Clamp(value, m_Current.columns); }

void CAutoLayoutModel::OnEditRows(const char* text) { m_nRows = Clamp(qnEditInteger(text), m_Current.rows); }
void CAutoLayoutModel::OnEditCols(const char* text) { m_nCols = Clamp(qnEditInteger(text), m_Current.columns); }

std::string CAutoLayoutModel::OnEditRowsLF(const char* text)
{
    OnEditRows(text);
    return Number(m_nRows);
}

std::string CAutoLayoutModel::OnEditColsLF(const char* text)
{
    OnEditCols(text);
    return Number(m_nCols);
}

void CAutoLayoutModel::OnKind(uint8_t kind)
{
    if (kind > kHexagons2)
        return;
    m_nKind = kind;
    m_Current = Maxima(kind);
    m_nCols = Clamp(m_nCols, m_Current.columns);
    m_nRows = Clamp(m_nRows, m_Current.rows);
}

void CAutoLayoutModel::OnOk(CQNF_Storage* conf, CWnd_MainModel* main) const
{
    if (conf && conf->IsOpened()) {
        conf->AddFolder("Auto Layout Settings");
        conf->SetRecord("Auto Layout Settings>Rows", m_nRows);
        conf->SetRecord("Auto Layout Settings>Cols", m_nCols);
        conf->SetRecord("Auto Layout Settings>Shape", m_nKind);
        conf->SetRecord("Auto Layout Settings>Regular", uint8_t(m_bRegular ? 1 : 0));
    }
    if (!main)
        return;
    switch (m_nKind) {
    case kTriangles:
        main->AutoLayout_Triangles(m_nRows, m_nCols, m_bRegular);
        break;
    case kHexagons:
        main->AutoLayout_Hexagons(m_nRows, m_nCols, m_bRegular);
        break;
    case kHexagons2:
        main->AutoLayout_Hexagons_R(m_nRows, m_nCols, m_bRegular);
        break;
    default:
        break;
    }
}

// ---- Custom mutations ------------------------------------------------------------------

namespace {

const char* const kMutKeys[3] = {"Custom Mutations Settings>MutS", "Custom Mutations Settings>MutU",
                                 "Custom Mutations Settings>MutH"};

}  // namespace

void CCustomMutationsModel::settings_Load(CQNF_Storage* conf)
{
    if (!conf || !conf->IsOpened())
        return;
    for (int i = 0; i < 3; ++i) {
        double v = 0.0;
        if (!conf->GetRec(kMutKeys[i], v))
            continue;
        // Amounts are squared and added to knife offsets: beyond 0..1 (or
        // not a number) they would throw nodes far off the knife.
        m_fAmount[i] = std::isnan(v) ? 0.0f : float(std::clamp(v, 0.0, 1.0));
    }
}

void CCustomMutationsModel::settings_Save(CQNF_Storage* conf) const
{
    if (!conf || !conf->IsOpened())
        return;
    conf->AddFolder("Custom Mutations Settings");
    for (int i = 0; i < 3; ++i)
        conf->SetRecord(kMutKeys[i], double(m_fAmount[i]));
}

uint16_t CCustomMutationsModel::DisplayPercent(float amount)
{
    const double v = std::trunc(double(amount) * 100.0 + 0.5);
    return uint16_t(std::clamp(v, 0.0, 65535.0));
}

uint32_t CCustomMutationsModel::ClampPercent(int64_t n) { return uint32_t(std::clamp<int64_t>(n, 0, 100)); }

void CCustomMutationsModel::OnSldr(Which which, uint32_t v, bool shift)
{
    const float a = float(ClampPercent(v)) / 100.0f;
    m_fAmount[which] = a;
    if (shift)
        for (float& other : m_fAmount)
            other = a;
}

void CCustomMutationsModel::OnEdit(Which which, const char* text)
{
    m_fAmount[which] = float(ClampPercent(qnEditInteger(text))) / 100.0f;
}

std::string CCustomMutationsModel::OnEditLF(Which which, const char* text)
{
    const uint32_t n = ClampPercent(qnEditInteger(text));
    m_fAmount[which] = float(n) / 100.0f;
    return Number(n);
}
