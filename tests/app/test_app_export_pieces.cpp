// The pieces export on a real cut: a layered PSD read back by our reader and
// by psd-tools, PNG series with and without positions, the composite, pieces
// without their bevel, and failures that must leave no file behind.
#include "app/PiecesExport.h"
#include "core/StdFile.h"
#include "imaging/Image.h"
#include "imaging/ImageFile.h"
#include "imaging/PSDCodec.h"
#include "test_app_export_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>

namespace {

using namespace export_test;
using Cell = CTessolo::SPLITEDCELL;

// The piece indices in export order, computed here from rows and columns.
std::vector<uint32_t> ExpectedOrder(const CTessolo& e, bool (*take)(const Cell&))
{
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < e.m_nPieces; ++i)
        if (take(e.m_pPieces[i]))
            ids.push_back(i);
    std::stable_sort(ids.begin(), ids.end(), [&](uint32_t a, uint32_t b) {
        const Cell &p = e.m_pPieces[a], &q = e.m_pPieces[b];
        return p.row != q.row ? p.row < q.row : p.column < q.column;
    });
    return ids;
}

bool Everything(const Cell&) { return true; }
bool Shown(const Cell& c) { return c.shown != 0; }
bool SelectedShown(const Cell& c) { return c.selected && c.shown; }

CPiecesExport::REQUEST Request(const Cut& cut, const std::string& path, uint8_t what, uint8_t to)
{
    CPiecesExport::REQUEST r;
    r.settings.exportWhat = what;
    r.settings.exportTo = to;
    r.path = path;
    r.width = cut.picture.w;
    r.height = cut.picture.h;
    r.resolution = 150.0;
    return r;
}

// What every piece shows: its alpha, and its colour where the alpha is not 0
// (the colour under full transparency is nobody's business).
std::vector<std::vector<uint8_t>> Planes(const CTessolo& e)
{
    std::vector<std::vector<uint8_t>> out;
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const Cell& p = e.m_pPieces[i];
        for (int c = 0; c < 4; ++c) {
            std::vector<uint8_t> v;
            for (int32_t y = 0; y < p.Height(); ++y)
                for (int32_t x = 0; x < p.Width(); ++x) {
                    const uint8_t a = p.planePtrs[3][size_t(y) * p.planeStrides[3] + x];
                    v.push_back(c < 3 && a == 0 ? 0 : p.planePtrs[c][size_t(y) * p.planeStrides[c] + x]);
                }
            out.push_back(std::move(v));
        }
    }
    return out;
}

// Where a plane read back differs from a piece's, colour counting only where
// the piece is not fully transparent; -1 when they agree.
long FirstDifference(const Cell& p, int channel, const uint8_t* got, uint32_t stride, int dx = 0, int dy = 0,
                     uint8_t alphaScale = 255)
{
    for (int32_t y = 0; y < p.Height(); ++y)
        for (int32_t x = 0; x < p.Width(); ++x) {
            if (channel < 3 && p.planePtrs[3][size_t(y) * p.planeStrides[3] + x] == 0)
                continue;
            uint32_t want = p.planePtrs[channel][size_t(y) * p.planeStrides[channel] + x];
            if (channel == 3)
                want = want * alphaScale / 255;
            if (got[size_t(y + dy) * stride + x + dx] != want)
                return long(y) * p.Width() + x;
        }
    return -1;
}

TEST(PiecesExport, OrderIsByRowThenColumnWithBothSorts)
{
    Cut cut(96, 72, 4, 3);
    CTessolo& e = cut.Engine();
    ASSERT_EQ(e.m_nPieces, 12u);
    CPiecesExport::CExportPiecesIDS a(e), b(e);
    for (uint32_t i = e.m_nPieces; i-- > 0;) {
        a.Add(i);
        b.Add(i);
    }
    ASSERT_TRUE(a.SortElements(1));
    ASSERT_TRUE(b.SortByRowColumn());
    const std::vector<uint32_t> want = ExpectedOrder(e, Everything);
    for (uint32_t k = 0; k < want.size(); ++k) {
        EXPECT_EQ(b[k], want[k]) << k;
        EXPECT_EQ(e.m_pPieces[a[k]].row, e.m_pPieces[want[k]].row) << k;
        EXPECT_EQ(e.m_pPieces[a[k]].column, e.m_pPieces[want[k]].column) << k;
    }
}

TEST(PiecesExport, LayeredPsdReadsBackWithOurReaderAndPsdTools)
{
    TempDir dir;
    Cut cut(120, 90, 4, 3);
    CTessolo& e = cut.Engine();
    e.m_pPieces[5].shown = 0;
    e.m_pPieces[2].opacity[CTessolo::FX_APPLIED] = CTessolo::SFX_OPACITY{1, 128};
    CPiecesExport::REQUEST r = Request(cut, dir / "pieces.psd", CExportSettings::kAll, CExportSettings::kToPSD);
    r.settings.includeHiddenPieces = 1;
    CPiecesExport x(e);
    CPiecesExport::RESULT res;
    ASSERT_TRUE(x.Export(r, res)) << x.Detail();
    EXPECT_EQ(res.layers, 12u);
    EXPECT_EQ(dir.Names(), std::set<std::string>{"pieces.psd"}) << "no temporary file left";

    CQNF_StdFile f;
    ASSERT_TRUE(f.Open(CQNF_String(r.path.c_str()), 1));
    CQNF_ImagePSD psd;
    ASSERT_TRUE(psd.LParseByFile(f));
    const std::vector<uint32_t> order = ExpectedOrder(e, Everything);
    ASSERT_EQ(psd.GetLayersCount(), order.size());
    for (uint32_t k = 0; k < order.size(); ++k) {
        const Cell& p = e.m_pPieces[order[k]];
        CQNF_ImagePSD::PSDLayerInfoExt_s info;
        ASSERT_TRUE(psd.GetLayerInfo(k, info));
        EXPECT_EQ(std::string(info.name), CPiecesExport::LayerName(true, k + 1, order[k], p.row, p.column));
        EXPECT_EQ(info.left, p.left);
        EXPECT_EQ(info.top, p.top);
        EXPECT_EQ(info.width, uint32_t(p.Width()));
        EXPECT_EQ(info.height, uint32_t(p.Height()));
        EXPECT_EQ(info.visible, order[k] == 5 ? 0 : 1);
        EXPECT_EQ(info.opacity, order[k] == 2 ? 128 : 255);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(FirstDifference(p, c, info.planes[c]->GetPtr(), info.width), -1) << "layer " << k << " c " << c;
        EXPECT_EQ(FirstDifference(p, 3, info.transparency->GetPtr(), info.width), -1) << "layer " << k;
    }

    NEED_PYTHON_MODULE("psd_tools", "python3-psd-tools");
    const std::string python = PsdToolsPython();
    // An independent reader: every layer's name, place, size and the colour
    // of its middle pixel.
    std::ofstream py(dir / "read.py");
    py << "import sys\nfrom psd_tools import PSDImage\np = PSDImage.open(sys.argv[1])\nprint(len(p))\n"
          "for l in p:\n    im = l.topil()\n    c = im.getpixel((l.width // 2, l.height // 2))\n"
          "    print('%s|%d|%d|%d|%d|%d,%d,%d,%d' % ((l.name, l.left, l.top, l.width, l.height) + tuple(c)))\n";
    py.close();
    std::istringstream out(Capture(python + " " + (dir / "read.py") + " " + r.path + " 2>&1"));
    std::string line;
    std::getline(out, line);
    ASSERT_EQ(line, std::to_string(order.size())) << out.str();
    for (uint32_t k = 0; k < order.size() && std::getline(out, line); ++k) {
        const Cell& p = e.m_pPieces[order[k]];
        const int mx = p.Width() / 2, my = p.Height() / 2;
        auto at = [&](int c) { return int(p.planePtrs[c][size_t(my) * p.planeStrides[c] + mx]); };
        std::ostringstream want;
        want << CPiecesExport::LayerName(true, k + 1, order[k], p.row, p.column) << '|' << p.left << '|' << p.top
             << '|' << p.Width() << '|' << p.Height() << '|' << at(0) << ',' << at(1) << ',' << at(2) << ','
             << at(3);
        EXPECT_EQ(line, want.str());
    }
}

TEST(PiecesExport, CompositeLiesUnderTheSelectedPieces)
{
    TempDir dir;
    Cut cut(120, 90, 4, 3);
    CTessolo& e = cut.Engine();
    for (uint32_t i : {1u, 6u, 7u})
        e.m_pPieces[i].selected = 1;
    e.m_pPieces[6].shown = 0;  // hidden and selected: left out without IncludeHiddenPieces
    e.m_pPieces[9].shown = 0;  // hidden, not selected: not in the composite
    CPiecesExport x(e);
    CPiecesExport::RESULT res;
    CPiecesExport::REQUEST r = Request(cut, dir / "sel.psd", CExportSettings::kSelected, CExportSettings::kToPSD);
    r.settings.namingMode = CExportSettings::kNamesSimple;
    ASSERT_TRUE(x.Export(r, res)) << x.Detail();
    ASSERT_EQ(res.layers, 3u) << "two pieces and the composite";

    CQNF_StdFile f;
    ASSERT_TRUE(f.Open(CQNF_String(r.path.c_str()), 1));
    CQNF_ImagePSD psd;
    ASSERT_TRUE(psd.LParseByFile(f));
    CQNF_ImagePSD::PSDLayerInfoExt_s info;
    ASSERT_TRUE(psd.GetLayerInfo(0, info));
    EXPECT_STREQ(info.name, "Composite");
    EXPECT_EQ(info.width, 120u);
    EXPECT_EQ(info.height, 90u);
    // The middle of each piece: covered in the composite exactly when the
    // piece is shown and not selected.
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const Cell& p = e.m_pPieces[i];
        const int x0 = (p.left + p.right) / 2, y0 = (p.top + p.bottom) / 2;
        if (p.mask->GetPtr()[size_t(y0 - p.top) * p.Width() + (x0 - p.left)] != 255)
            continue;
        const uint8_t a = info.transparency->GetPtr()[size_t(y0) * 120 + x0];
        EXPECT_EQ(a != 0, p.shown && !p.selected) << "piece " << i;
    }
    const std::vector<uint32_t> sel = ExpectedOrder(e, SelectedShown);
    ASSERT_EQ(sel.size(), 2u);
    for (uint32_t k = 0; k < 2; ++k) {
        ASSERT_TRUE(psd.GetLayerInfo(k + 1, info));
        EXPECT_EQ(std::string(info.name), "Layer " + std::to_string(k + 1));
        EXPECT_EQ(info.left, e.m_pPieces[sel[k]].left);
    }
}

TEST(PiecesExport, PngSeriesWithAndWithoutPositions)
{
    Cut cut(96, 72, 3, 2);
    CTessolo& e = cut.Engine();
    e.m_pPieces[3].shown = 0;
    e.m_pPieces[1].opacity[CTessolo::FX_APPLIED] = CTessolo::SFX_OPACITY{1, 128};
    const std::vector<uint32_t> order = ExpectedOrder(e, Shown);
    for (const bool preserve : {true, false}) {
        SCOPED_TRACE(preserve ? "positions preserved" : "pieces alone");
        TempDir dir;
        CPiecesExport::REQUEST r = Request(cut, dir / "part.png", CExportSettings::kAll, CExportSettings::kToPNG);
        r.settings.preservePosition = preserve;
        r.settings.includeHiddenPieces = 1;  // never for PNG
        CPiecesExport x(e);
        CPiecesExport::RESULT res;
        ASSERT_TRUE(x.Export(r, res)) << x.Detail();
        ASSERT_EQ(res.files.size(), order.size());
        std::set<std::string> want;
        for (uint32_t k = 0; k < order.size(); ++k) {
            const Cell& p = e.m_pPieces[order[k]];
            const std::string name = CPiecesExport::FileName("part", true, k + 1, order[k], p.row, p.column) + ".png";
            want.insert(name);
            EXPECT_EQ(res.files[k], dir / name);
            CQNF_ImageFile png;
            ASSERT_TRUE(png.Load(res.files[k], CQNF_ImageFile::KindPNG)) << png.Reason();
            const uint8_t scale = order[k] == 1 ? 128 : 255;
            if (preserve) {
                ASSERT_EQ(png.GetWidth(), 96);
                ASSERT_EQ(png.GetHeight(), 72);
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(FirstDifference(p, c, png.GetPlane(c), 96, p.left, p.top), -1) << k;
                EXPECT_EQ(FirstDifference(p, 3, png.GetPlane(-1), 96, p.left, p.top, scale), -1) << k;
                // Outside the piece's box the canvas is transparent.
                const int ox = p.left > 0 ? 0 : 95, oy = p.top > 0 ? 0 : 71;
                EXPECT_EQ(png.GetPlane(-1)[size_t(oy) * 96 + ox], 0) << k;
            } else {
                ASSERT_EQ(png.GetWidth(), p.Width());
                ASSERT_EQ(png.GetHeight(), p.Height());
                EXPECT_EQ(FirstDifference(p, 0, png.GetPlane(0), p.Width()), -1) << k;
                EXPECT_EQ(FirstDifference(p, 3, png.GetPlane(-1), p.Width(), 0, 0, scale), -1) << k;
            }
        }
        EXPECT_EQ(dir.Names(), want) << "exactly the series, nothing left over";
    }
    // The piece with opacity 128 keeps its own alpha in the engine.
    EXPECT_EQ(e.m_pPieces[1].opacity[CTessolo::FX_APPLIED].opacity, 128);
}

TEST(PiecesExport, MergedPictureIsOneFileOrLayer)
{
    TempDir dir;
    Cut cut(80, 60, 2, 2);
    CPiecesExport x(cut.Engine());
    CPiecesExport::RESULT res;
    ASSERT_TRUE(x.Export(Request(cut, dir / "whole", CExportSettings::kMerged, CExportSettings::kToPNG), res));
    EXPECT_EQ(res.files, std::vector<std::string>{dir / "whole.png"});
    CQNF_ImageFile png;
    ASSERT_TRUE(png.Load(dir / "whole.png", CQNF_ImageFile::KindPNG));
    EXPECT_EQ(png.GetWidth(), 80);
    // Away from the cuts the merged picture is the picture.
    EXPECT_EQ(png.GetPlane(-1)[10 * 80 + 10], 255);
    ASSERT_TRUE(x.Export(Request(cut, dir / "whole.psd", CExportSettings::kMerged, CExportSettings::kToPSD), res));
    CQNF_StdFile f;
    ASSERT_TRUE(f.Open(CQNF_String((dir / "whole.psd").c_str()), 1));
    CQNF_ImagePSD psd;
    ASSERT_TRUE(psd.LParseByFile(f));
    ASSERT_EQ(psd.GetLayersCount(), 1u);
    CQNF_ImagePSD::PSDLayerInfoExt_s info;
    ASSERT_TRUE(psd.GetLayerInfo(0, info));
    EXPECT_STREQ(info.name, "Merged");
    EXPECT_EQ(std::memcmp(info.planes[0]->GetPtr(), png.GetPlane(0), 80 * 60), 0);

    // Under a hidden piece the merged picture is clear and keeps the
    // document's colours, as Apply's does; given none, black: never what
    // its memory held.
    cut.Engine().m_pPieces[0].shown = 0;
    for (bool document : {true, false}) {
        CPiecesExport::REQUEST r = Request(cut, dir / "hidden", CExportSettings::kMerged, CExportSettings::kToPNG);
        for (int k = 0; document && k < 3; ++k)
            r.colours[k] = cut.picture.planes[k].data();
        ASSERT_TRUE(x.Export(r, res));
        CQNF_ImageFile under;
        ASSERT_TRUE(under.Load(dir / "hidden.png", CQNF_ImageFile::KindPNG));
        size_t clear = 0, wrong = 0;
        for (size_t i = 0; i < 80 * 60; ++i) {
            if (under.GetPlane(-1)[i] != 0)
                continue;
            ++clear;
            for (int k = 0; k < 3; ++k)
                wrong += under.GetPlane(k)[i] != (document ? cut.picture.planes[k][i] : 0);
        }
        EXPECT_GT(clear, 400u) << document;
        EXPECT_EQ(wrong, 0u) << document;
    }
}

TEST(PiecesExport, WithoutBevelExportsPlainPiecesAndRendersThemBack)
{
    TempDir dir;
    Cut cut(96, 72, 3, 2);
    CTessolo& e = cut.Engine();
    const auto before = Planes(e);
    // The reference: the same pieces rendered without a bevel.
    Cut plain(96, 72, 3, 2);
    for (uint32_t i = 0; i < plain.Engine().m_nPieces; ++i) {
        plain.Engine().m_pPieces[i].bevel[CTessolo::FX_REQUESTED].on = 0;
        ASSERT_TRUE(plain.Engine().RenderPiece(i));
    }
    ASSERT_NE(Planes(plain.Engine()), before) << "the bevel must show";
    // An effect window's pending change stays pending.
    e.m_pPieces[0].gaussianBlur[CTessolo::FX_REQUESTED] = CTessolo::SFX_GAUSSIANBLUR{1, 3};

    CPiecesExport::REQUEST r = Request(cut, dir / "flat.psd", CExportSettings::kAll, CExportSettings::kToPSD);
    r.settings.exportWOBevel = 1;
    CPiecesExport x(e);
    CPiecesExport::RESULT res;
    ASSERT_TRUE(x.Export(r, res)) << x.Detail();
    EXPECT_EQ(Planes(e), before) << "the pieces show their bevel again";
    EXPECT_EQ(e.m_pPieces[0].gaussianBlur[CTessolo::FX_REQUESTED].on, 1);
    EXPECT_EQ(e.m_pPieces[0].gaussianBlur[CTessolo::FX_APPLIED].on, 0);
    EXPECT_EQ(e.m_pPieces[0].bevel[CTessolo::FX_APPLIED].on, 1);

    CQNF_StdFile f;
    ASSERT_TRUE(f.Open(CQNF_String(r.path.c_str()), 1));
    CQNF_ImagePSD psd;
    ASSERT_TRUE(psd.LParseByFile(f));
    const std::vector<uint32_t> order = ExpectedOrder(plain.Engine(), Everything);
    ASSERT_EQ(psd.GetLayersCount(), order.size());
    for (uint32_t k = 0; k < order.size(); ++k) {
        CQNF_ImagePSD::PSDLayerInfoExt_s info;
        ASSERT_TRUE(psd.GetLayerInfo(k, info));
        const Cell& p = plain.Engine().m_pPieces[order[k]];
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(FirstDifference(p, c, info.planes[c]->GetPtr(), info.width), -1) << k;
    }
}

// ---- Failures ---------------------------------------------------------------------

// Root writes into read-only folders; the test drops that power while it
// runs, as an ordinary user has none.
class NoFolderOverride {
public:
    NoFolderOverride()
    {
        m_ok = ::syscall(SYS_capget, &m_header, m_saved) == 0;
        if (!m_ok)
            return;
        __user_cap_data_struct less[2];
        std::memcpy(less, m_saved, sizeof less);
        const uint32_t drop = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        less[0].effective &= ~drop;
        m_ok = ::syscall(SYS_capset, &m_header, less) == 0;
    }
    ~NoFolderOverride()
    {
        if (m_ok)
            ::syscall(SYS_capset, &m_header, m_saved);
    }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] = {};
    bool m_ok = false;
};

// A full disk, in this process: writes past the limit fail (EFBIG).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit l = m_old;
        l.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_old{};
    void (*m_handler)(int) = SIG_DFL;
};

TEST(PiecesExport, FailedWritesLeaveNoFileAndKeepExistingOnes)
{
    Cut cut(96, 72, 3, 2);
    CTessolo& e = cut.Engine();
    const auto before = Planes(e);
    // The sizes of a good PNG series: the limit lets the smaller files
    // through and stops the largest.
    uintmax_t largest = 0;
    {
        TempDir probe;
        CPiecesExport x(e);
        CPiecesExport::RESULT res;
        CPiecesExport::REQUEST r = Request(cut, probe / "p", CExportSettings::kAll, CExportSettings::kToPNG);
        r.settings.exportWOBevel = 1;
        ASSERT_TRUE(x.Export(r, res));
        for (const std::string& f : res.files)
            largest = std::max(largest, fs::file_size(f));
    }
    enum class Fault { ReadOnly, DiskFull, Cancel };
    struct Case {
        const char* what;
        uint8_t to;
        Fault fault;
    } cases[] = {
        {"PSD into a read-only folder", CExportSettings::kToPSD, Fault::ReadOnly},
        {"PNG series into a read-only folder", CExportSettings::kToPNG, Fault::ReadOnly},
        {"PSD on a full disk", CExportSettings::kToPSD, Fault::DiskFull},
        {"PNG series on a full disk", CExportSettings::kToPNG, Fault::DiskFull},
        {"PSD cancelled", CExportSettings::kToPSD, Fault::Cancel},
        {"PNG series cancelled half way", CExportSettings::kToPNG, Fault::Cancel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const bool psd = c.to == CExportSettings::kToPSD;
        // A file the export would replace: it must survive whole.
        const std::string victim = psd ? "out.psd" : CPiecesExport::FileName("out", true, 1, 0, 0, 0) + ".png";
        const uint32_t first = ExpectedOrder(e, Everything)[0];
        const std::string existing =
            psd ? victim
                : CPiecesExport::FileName("out", true, 1, first, e.m_pPieces[first].row, e.m_pPieces[first].column) +
                      ".png";
        std::ofstream(dir / existing) << "keep me";
        const std::set<std::string> names = dir.Names();

        CPiecesExport::REQUEST r = Request(cut, dir / (psd ? "out.psd" : "out"), CExportSettings::kAll, c.to);
        // Cancels come while the files are written, after three of them.
        r.settings.exportWOBevel = c.fault != Fault::Cancel;
        CPiecesExport x(e);
        CPiecesExport::RESULT res;
        bool ok = true;
        if (c.fault == Fault::ReadOnly) {
            fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec);
            NoFolderOverride user;
            const std::string probe = dir / "probe";
            const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT, 0600);
            if (fd >= 0) {
                ::close(fd);
                ::unlink(probe.c_str());
                fs::permissions(dir.path, fs::perms::owner_all);
                ADD_FAILURE() << "this process still writes into read-only folders";
                continue;
            }
            ok = x.Export(r, res);
            fs::permissions(dir.path, fs::perms::owner_all);
        } else if (c.fault == Fault::DiskFull) {
            FileSizeLimit limit(psd ? 4096 : rlim_t(largest - 1));
            ok = x.Export(r, res);
        } else {
            CancelAfter cancel(psd ? 0 : 3);
            x.SetProgress(&cancel);
            ok = x.Export(r, res);
        }
        EXPECT_FALSE(ok);
        EXPECT_TRUE(res.files.empty());
        EXPECT_EQ(dir.Names(), names) << "nothing new, nothing half-written, nothing removed";
        std::ifstream kept(dir / existing);
        std::string text;
        std::getline(kept, text);
        EXPECT_EQ(text, "keep me");
        EXPECT_FALSE(x.Message().empty());
        if (c.fault == Fault::Cancel)
            EXPECT_EQ(x.MessageTitle(), "Export");
        else
            EXPECT_EQ(x.Message(), "Cannot write file...");
        EXPECT_EQ(Planes(e), before) << "the pieces are rendered back";
    }
}

TEST(PiecesExport, WritersRefuseBadJobsAndNeverWriteAnEmptyFile)
{
    TempDir dir;
    std::vector<uint8_t> px(4 * 16, 255);
    CPiecesExport::EXPORTLAYER l;
    for (int k = 0; k < 4; ++k)
        l.planes[k] = px.data() + 16 * k;
    l.stride = 4;
    l.width = 4;
    l.height = 4;
    l.opacity = 128;
    l.name = "one";
    CQNF_Image canvas;
    CQNF_Mem scratch;
    CPiecesExport::EXPORTJOB job;
    job.layers = &l;
    job.count = 1;
    job.width = 10;
    job.height = 8;
    job.canvas = &canvas;
    job.scratch = &scratch;

    CQNF_StdFile f;
    ASSERT_TRUE(f.Open(CQNF_String((dir / "bad").c_str()), 4));
    EXPECT_FALSE(CPiecesExport::stExportToPNGs(&f, &job, 1)) << "index past the count";
    EXPECT_FALSE(CPiecesExport::stExportToPNGs(&f, nullptr, 0));
    CPiecesExport::EXPORTJOB none = job;
    none.count = 0;
    EXPECT_FALSE(CPiecesExport::stExportToPSD(&f, &none));
    none.count = 100001;
    EXPECT_FALSE(CPiecesExport::stExportToPNGs(&f, &none, 0));
    f.Close();

    struct Case {
        const char* what;
        int32_t x, y;
        uint8_t preserve;
        uint16_t w, h;
        uint8_t alphaAt00;
    } cases[] = {
        {"alone, opacity 128 halves the alpha", 0, 0, 0, 4, 4, 128},
        {"in place", 2, 1, 1, 10, 8, 0},
        {"wholly off the canvas: a whole transparent picture", 40, 40, 1, 10, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        l.x = c.x;
        l.y = c.y;
        job.preservePosition = c.preserve;
        const std::string path = dir / "one.png";
        CQNF_StdFile out;
        ASSERT_TRUE(out.Open(CQNF_String(path.c_str()), 4));
        ASSERT_TRUE(CPiecesExport::stExportToPNGs(&out, &job, 0));
        ASSERT_TRUE(out.Close());
        CQNF_ImageFile png;
        ASSERT_TRUE(png.Load(path, CQNF_ImageFile::KindPNG)) << png.Reason();
        EXPECT_EQ(png.GetWidth(), c.w);
        EXPECT_EQ(png.GetHeight(), c.h);
        EXPECT_EQ(png.GetPlane(-1)[0], c.alphaAt00);
        if (c.preserve && c.x < 10) {
            EXPECT_EQ(png.GetPlane(-1)[size_t(c.y) * 10 + c.x], 128);
        }
        EXPECT_EQ(px[48], 255) << "the layer's own alpha is untouched";
    }
}

}  // namespace
