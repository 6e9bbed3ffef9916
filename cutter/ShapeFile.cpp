// Knife shape files (".qnth" and the legacy 53-byte form), the default knife,
// the last shape and the row-column link option.
#include "cutter/CutterModel.h"

#include "core/Mem.h"
#include "cutter/DialogModels.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/String.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;

CQNF_String Key(const char* format, uint32_t i)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, format, unsigned(i));
    return CQNF_String(buf);
}

int32_t GetLE32(const uint8_t* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

double Clamp(double v, double lo, double hi) { return std::min(std::max(v, lo), hi); }

// The container form: stamp, version, count, then every node record.
ShapeIoError ReadContainer(const uint8_t* data, size_t size, SPLINE& out)
{
    CQNF_Storage st;
    if (!st.CheckMD5(data, size) || !st.Open(data, size))
        return ShapeIoError::BadFormat;
    CQNF_String version;
    uint8_t count = 0;
    if (!st.GetRec("Version", version) || version.Compare(CWnd_CutterModel::kShapeVersion) != 0 ||
        !st.GetRec("Nodes", count) || count > CWnd_CutterModel::kMaxNodes)
        return ShapeIoError::BadFormat;
    out.nodeCount = count;
    for (uint32_t i = 0; i < count; ++i) {
        double u = 0.0, h = 0.0, s = 0.0;
        if (!st.GetRec(Key("Node_U_%u", i), u) || !st.GetRec(Key("Node_H_%u", i), h) ||
            !st.GetRec(Key("Node_S_%u", i), s))
            return ShapeIoError::BadFormat;
        out.pos[i].U = u;
        out.pos[i].H = h;
        out.S[i] = s;
    }
    return qnShapeIsSound(out) ? ShapeIoError::None : ShapeIoError::BadFormat;
}

}  // namespace

bool qnShapeIsSound(const CWnd_CutterModel::SPLINE_STRUCT& shape)
{
    if (shape.nodeCount > CWnd_CutterModel::kMaxNodes)
        return false;
    for (uint32_t i = 0; i < shape.nodeCount; ++i)
        if (!std::isfinite(shape.pos[i].H) || !std::isfinite(shape.pos[i].U) || !std::isfinite(shape.S[i]))
            return false;
    return true;
}

bool qnSameShapeValues(const CWnd_CutterModel::SPLINE_STRUCT& a, const CWnd_CutterModel::SPLINE_STRUCT& b)
{
    if (a.nodeCount != b.nodeCount)
        return false;
    for (uint32_t i = 0; i < a.nodeCount && i < CWnd_CutterModel::kMaxNodes; ++i)
        if (a.pos[i].H != b.pos[i].H || a.pos[i].U != b.pos[i].U || a.S[i] != b.S[i])
            return false;
    return true;
}

CWnd_CutterModel::CWnd_CutterModel() { SetDefaultKnife(&m_Shape); }

CCutterLink::SHAPE CWnd_CutterModel::ToLinkShape(const SPLINE_STRUCT& shape)
{
    CCutterLink::SHAPE out;
    out.nodeCount = std::min<uint32_t>(shape.nodeCount, kMaxNodes);
    for (uint32_t i = 0; i < out.nodeCount; ++i) {
        out.U[i] = shape.pos[i].U;
        out.H[i] = shape.pos[i].H;
        out.S[i] = shape.S[i];
        out.selected[i] = shape.selected[i];
    }
    return out;
}

CWnd_CutterModel::SPLINE_STRUCT CWnd_CutterModel::FromLinkShape(const CCutterLink::SHAPE& shape)
{
    SPLINE_STRUCT out{};
    out.nodeCount = uint8_t(std::min<uint32_t>(shape.nodeCount, kMaxNodes));
    for (uint32_t i = 0; i < out.nodeCount; ++i) {
        out.pos[i] = {shape.H[i], shape.U[i]};
        out.S[i] = shape.S[i];
        out.selected[i] = shape.selected[i];
    }
    return out;
}

// ---- Shape files -----------------------------------------------------------

void CWnd_CutterModel::ConvertLegacyShape(const int32_t a[6], SPLINE_STRUCT* shape)
{
    const double k = a[0] * 0.33 / 200.0;
    const double u1 = k * a[1] / 100.0, u2 = k * a[2] / 100.0;
    const double u[5] = {0.5 - u1, 0.5 - u2, 0.5, 0.5 + u2, 0.5 + u1};
    const double h[5] = {0.0, -2.0 * k * a[3] / 100.0, -2.0 * k * a[4] / 100.0, -2.0 * k * a[3] / 100.0, 0.0};
    shape->nodeCount = 5;
    for (int i = 0; i < 5; ++i) {
        shape->pos[i].U = Clamp(u[i], 0.0, 1.0);
        shape->pos[i].H = Clamp(h[i], -3.0, 3.0);
        shape->S[i] = Clamp(a[5] / 100.0, 0.0, 1.0);
    }
}

ShapeIoError CWnd_CutterModel::stLoadShapeFromMem(const uint8_t* data, size_t size, SPLINE_STRUCT* shape)
{
    if (!shape)
        return ShapeIoError::BadFormat;
    if (!data || size == 0)
        return ShapeIoError::EmptyFile;
    if (size > kMaxShapeFileSize)
        return ShapeIoError::BadFormat;
    // Read into a copy: a refused file leaves the caller's shape as it was.
    SPLINE_STRUCT read = *shape;
    if (size == kLegacyFileSize && std::memcmp(data, kLegacyMagic, kLegacyMagicLength) == 0) {
        int32_t a[6];
        for (int i = 0; i < 6; ++i)
            a[i] = GetLE32(data + kLegacyMagicLength + 4 * i);
        ConvertLegacyShape(a, &read);
    } else {
        const ShapeIoError e = ReadContainer(data, size, read);
        if (e != ShapeIoError::None)
            return e;
    }
    *shape = read;
    return ShapeIoError::None;
}

ShapeIoError CWnd_CutterModel::stLoadShapeFromFile(CQNF_StdFile* file, SPLINE_STRUCT* shape)
{
    CQNF_Mem block;
    const ShapeIoError e = qnReadWholeFile(file, kMaxShapeFileSize, block);
    if (e != ShapeIoError::None)
        return e;
    return stLoadShapeFromMem(block.GetPtr(), block.GetSize(), shape);
}

namespace {

ShapeIoError ShapeImage(const SPLINE& shape, CQNF_Mem& image)
{
    // Never a file that the reader would refuse.
    if (!qnShapeIsSound(shape))
        return ShapeIoError::WriteFailed;
    return qnBuildStorageImage(
        [&shape](CQNF_Storage& st) {
            bool ok = st.SetRecord("Version", CQNF_String(CWnd_CutterModel::kShapeVersion)) &&
                      st.SetRecord("Nodes", uint8_t(shape.nodeCount));
            for (uint32_t i = 0; ok && i < shape.nodeCount; ++i)
                ok = st.SetRecord(Key("Node_U_%u", i), shape.pos[i].U) &&
                     st.SetRecord(Key("Node_H_%u", i), shape.pos[i].H) && st.SetRecord(Key("Node_S_%u", i), shape.S[i]);
            return ok ? ShapeIoError::None : ShapeIoError::WriteFailed;
        },
        image);
}

}  // namespace

ShapeIoError CWnd_CutterModel::stSaveShapeToFile(CQNF_StdFile* file, const SPLINE_STRUCT* shape)
{
    if (!shape)
        return ShapeIoError::WriteFailed;
    CQNF_Mem image;
    const ShapeIoError e = ShapeImage(*shape, image);
    return e != ShapeIoError::None ? e : qnWriteWholeFile(file, image);
}

ShapeIoError CWnd_CutterModel::LoadShapeFile(const std::string& path, SPLINE_STRUCT* shape)
{
    CQNF_StdFile file;
    if (!file.Open(CQNF_String(path.c_str()), 1))
        return ShapeIoError::ReadFailed;
    return stLoadShapeFromFile(&file, shape);
}

ShapeIoError CWnd_CutterModel::SaveShapeFile(const std::string& path, const SPLINE_STRUCT& shape)
{
    CQNF_Mem image;
    const ShapeIoError e = ShapeImage(shape, image);
    if (e != ShapeIoError::None)
        return e;
    return qnReplaceFile(path, image.GetPtr(), image.GetSize()) ? ShapeIoError::WriteFailed : ShapeIoError::None;
}

// ---- Default knife, last shape, options ----------------------------------------

void CWnd_CutterModel::SetDefaultKnife(SPLINE_STRUCT* shape)
{
    // A knob: the two middle side nodes lie outside the two end nodes.
    static const double kH[5] = {0.0, -0.165, -0.297, -0.165, 0.0};
    static const double kU[5] = {0.434, 0.3515, 0.5, 0.6485, 0.566};
    shape->nodeCount = 5;
    for (int i = 0; i < 5; ++i) {
        shape->pos[i].H = kH[i];
        shape->pos[i].U = kU[i];
        shape->S[i] = 0.5;
        shape->selected[i] = 1;
    }
}

uint8_t CWnd_CutterModel::settings_SetDefaultKnife()
{
    SetDefaultKnife(&m_Shape);
    return 1;
}

uint8_t CWnd_CutterModel::settings_LoadLastKnife(CQNF_Storage* conf)
{
    uint16_t stored = 0;
    if (!conf || !conf->IsOpened() || !conf->GetRec("LastShape>NodesCount", stored))
        return settings_SetDefaultKnife();
    SPLINE_STRUCT read = m_Shape;
    read.nodeCount = uint8_t(std::min<uint32_t>(stored, kMaxNodes));
    for (uint32_t i = 0; i < read.nodeCount; ++i) {
        double h = 0.0, u = 0.0, s = 0.0;
        // A missing or non-finite value gives the default knife, never part
        // of a shape.
        if (!conf->GetRec(Key("LastShape>H%u", i), h) || !conf->GetRec(Key("LastShape>U%u", i), u) ||
            !conf->GetRec(Key("LastShape>S%u", i), s) || !std::isfinite(h) || !std::isfinite(u) || !std::isfinite(s))
            return settings_SetDefaultKnife();
        read.pos[i].H = h;
        read.pos[i].U = u;
        read.S[i] = s;
        read.selected[i] = 1;
    }
    m_Shape = read;
    return 1;
}

uint8_t CWnd_CutterModel::settings_SaveLastKnife(CQNF_Storage* conf) const
{
    if (!conf || !conf->IsOpened())
        return 0;
    // The folder may exist already; the records are written regardless.
    conf->AddFolder("LastShape");
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    conf->SetRecord("LastShape>NodesCount", uint16_t(n));
    for (uint32_t i = 0; i < n; ++i) {
        conf->SetRecord(Key("LastShape>H%u", i), m_Shape.pos[i].H);
        conf->SetRecord(Key("LastShape>U%u", i), m_Shape.pos[i].U);
        conf->SetRecord(Key("LastShape>S%u", i), m_Shape.S[i]);
    }
    return 1;
}

uint8_t CWnd_CutterModel::settings_LoadCutterOptions(CQNF_Storage* conf)
{
    if (!conf || !conf->IsOpened())
        return 0;
    uint8_t link = 0;
    conf->GetRec("Cutter Settings>LinkRC", link);
    m_bLinkRC = link != 0;
    return 1;
}

uint8_t CWnd_CutterModel::settings_SaveCutterOptions(CQNF_Storage* conf) const
{
    if (!conf || !conf->IsOpened())
        return 0;
    conf->AddFolder("Cutter Settings");
    conf->SetRecord("Cutter Settings>LinkRC", uint8_t(m_bLinkRC ? 1 : 0));
    return 1;
}

uint32_t CWnd_CutterModel::GetSelectedNodesCount() const
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < m_Shape.nodeCount && i < kMaxNodes; ++i)
        n += m_Shape.selected[i] != 0;
    return n;
}

void CWnd_CutterModel::OnCustomMutationsOk(const CCustomMutationsModel& dialog, CQNF_Storage* conf)
{
    dialog.settings_Save(conf);
    m_fMutS = dialog.m_fAmount[CCustomMutationsModel::kS];
    m_fMutU = dialog.m_fAmount[CCustomMutationsModel::kU];
    m_fMutH = dialog.m_fAmount[CCustomMutationsModel::kH];
    m_nCloneMode = kCloneModeCustom;
}
