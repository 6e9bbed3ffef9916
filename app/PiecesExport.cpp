#include "app/PiecesExport.h"

#include "core/ErrorWords.h"
#include "core/FileSeries.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"
#include "core/StdFile.h"
#include "engine/Tessolo.h"
#include "imaging/Image.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDCodec.h"
#include "imaging/RowScan.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kCannotWrite = CPiecesExport::kCannotWriteMessage;
const char kErrorTitle[] = "Error!";
const char kNoMemory[] = "Memory allocation problem...";
const char kCancelled[] = "The export was cancelled: no file was written.";
const char kExportTitle[] = "Export";

using Cell = CTessolo::SPLITEDCELL;

// The share of the progress the PSD writer reports in.
constexpr uint8_t kPsdFrom = 43;
constexpr uint8_t kPsdTo = 90;

// The canvas every file of an export takes.
uint32_t CanvasWidth(const CPiecesExport::REQUEST& r) { return r.canvasWidth ? r.canvasWidth : r.width; }
uint32_t CanvasHeight(const CPiecesExport::REQUEST& r) { return r.canvasHeight ? r.canvasHeight : r.height; }

// Copies every effect block of one copy (applied, requested, backup) of a
// piece into a copy of another record.
void CopyEffects(Cell& d, uint8_t dc, const Cell& s, uint8_t sc)
{
    d.colorOverlay[dc] = s.colorOverlay[sc];
    d.imageOverlay[dc] = s.imageOverlay[sc];
    d.stroke[dc] = s.stroke[sc];
    d.hsl[dc] = s.hsl[sc];
    d.opacity[dc] = s.opacity[sc];
    d.gaussianBlur[dc] = s.gaussianBlur[sc];
    d.motionBlur[dc] = s.motionBlur[sc];
    d.brightnessContrast[dc] = s.brightnessContrast[sc];
    d.bevel[dc] = s.bevel[sc];
    d.invert[dc] = s.invert[sc];
}

// Alpha times opacity / 255, rounded down, as the piece's opacity would
// composite it.
void ScaleAlpha(uint8_t* plane, uint32_t stride, uint32_t width, uint32_t height, uint8_t opacity)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* a = plane + size_t(y) * stride;
        for (uint32_t x = 0; x < width; ++x)
            a[x] = uint8_t(uint32_t{a[x]} * opacity / 255);
    }
}

// Colour where a piece is fully transparent shows nowhere (every composite
// skips alpha 0); clearing it turns the corners of a piece's box into runs
// that PackBits and deflate store in a few bytes instead of as pixels.
// Colour to 0 where a is 0 in [from, end), written everywhere so that the
// loop stays vector code.
void ClearBetween(uint8_t* __restrict r, uint8_t* __restrict g, uint8_t* __restrict b, const uint8_t* __restrict a,
                  uint32_t from, uint32_t end)
{
    for (uint32_t x = from; x < end; ++x) {
        const uint8_t keep = a[x] ? 0xFF : 0;
        r[x] &= keep;
        g[x] &= keep;
        b[x] &= keep;
    }
}

void ClearUnderTransparency(const Cell& p)
{
    const int32_t w = p.Width(), h = p.Height();
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* a = p.planePtrs[3] + size_t(y) * p.planeStrides[3];
        uint8_t* c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = p.planePtrs[k] + size_t(y) * p.planeStrides[k];
        // The transparent ends of the row at once, then what lies between.
        const uint32_t first = qnFirstNonZero(a, uint32_t(w));
        const uint32_t end = qnEndNonZero(a, first, uint32_t(w));
        for (int k = 0; k < 3; ++k) {
            std::memset(c[k], 0, first);
            std::memset(c[k] + end, 0, size_t(w) - end);
        }
        ClearBetween(c[0], c[1], c[2], a, first, end);
    }
}

std::string ErrorText(int error) { return error ? qnSystemWords(error) : std::string("unknown error"); }

bool EndsWithPng(const std::string& s)
{
    if (s.size() < 4)
        return false;
    std::string tail = s.substr(s.size() - 4);
    for (char& c : tail)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".png";
}

// A PNG series' OUT: the folder its files go into and the name they start
// with ("out/p.png" and "out/p": "out" and "p"). False when OUT names no
// file.
bool SplitSeriesPath(std::string base, std::string& folder, std::string& name)
{
    if (EndsWithPng(base))
        base.resize(base.size() - 4);
    const size_t slash = base.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : base.substr(0, slash);
    name = slash == std::string::npos ? base : base.substr(slash + 1);
    return !name.empty();
}

// The one file a merged picture alone is written to.
std::string MergedFile(const std::string& folder, const std::string& base)
{
    return (std::filesystem::path(folder) / (base + ".png")).string();
}

}  // namespace

QnRefusal CPiecesExport::SeriesRefusal(const std::string& path, const CExportSettings& s, const CTessolo* engine,
                                       bool composite, const std::vector<std::string>& inputs)
{
    std::string folder, base;
    if (!SplitSeriesPath(path, folder, base))
        return {path, "no file name"};
    // The merged picture alone is one file, written as one (through a
    // link onto another disk too): judged as every single file is.
    if (s.exportWhat == CExportSettings::kMerged) {
        const std::string file = MergedFile(folder, base);
        for (const std::string& input : inputs)
            if (!qnInputRefusal(file, {input}).empty())
                return {file, qnOverInputWords(input)};
        return qnWriteRefusal(file, QnWrite::Output, false);
    }
    // The longest name the series will have, from the pieces' own numbers
    // (the count, each piece's index, row and column, in the order the
    // export numbers them): a name that fits is never refused, and the one
    // that does not is named. Before the cut, the shortest a piece can have.
    std::string longest = base;
    std::vector<std::string> names;  // the series' own names, once the pieces are cut
    auto consider = [&longest, &names](std::string name) {
        names.push_back(name + ".png");
        if (name.size() > longest.size())
            longest = std::move(name);
    };
    if (s.exportWhat != CExportSettings::kMerged) {
        const bool extended = s.namingMode == CExportSettings::kNamesExtended;
        if (!engine) {
            consider(FileName(base, extended, 1, 0, 1, 1));
        } else {
            std::vector<uint32_t> ids;
            for (uint32_t i = 0; i < engine->m_nPieces; ++i) {
                const Cell& p = engine->m_pPieces[i];
                if ((s.exportWhat == CExportSettings::kAll || p.selected) && p.shown)
                    ids.push_back(i);
            }
            std::stable_sort(ids.begin(), ids.end(), [engine](uint32_t a, uint32_t b) {
                const Cell& p = engine->m_pPieces[a];
                const Cell& q = engine->m_pPieces[b];
                return p.row != q.row ? p.row < q.row : p.column < q.column;
            });
            for (uint32_t k = 0; k < ids.size(); ++k) {
                const Cell& p = engine->m_pPieces[ids[k]];
                consider(FileName(base, extended, k + 1, ids[k], p.row, p.column));
            }
        }
        if (composite)
            consider(base + "_" + kCompositeName);
    }
    longest += ".png";
    // The series would find one of its names leading to an input (by any
    // link, a hard one too) only when it is put in place, after the whole
    // render. Before the cut its names are not known: a file of a name the
    // series may have ("BASE_…png") that leads to an input is told then.
    if (!inputs.empty()) {
        const auto over = [&inputs](const std::filesystem::path& at) -> QnRefusal {
            for (const std::string& input : inputs)
                if (!qnInputRefusal(at.string(), {input}).empty())
                    return {at.string(), qnOverInputWords(input)};
            return {};
        };
        std::error_code ec;
        if (!names.empty()) {
            for (const std::string& name : names)
                if (const std::filesystem::path at = std::filesystem::path(folder) / name;
                    std::filesystem::exists(std::filesystem::symlink_status(at, ec)))
                    if (QnRefusal why = over(at); !why.empty())
                        return why;
        } else {
            for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
                if (const std::string name = it->path().filename().string();
                    name.rfind(base + "_", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0)
                    if (QnRefusal why = over(it->path()); !why.empty())
                        return why;
        }
    }
    if (QnRefusal why = CQNF_FileSeries::Refusal(folder, 0, base, ".png"); !why.empty())
        return why;
    const long most = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (most > 0 && longest.size() > size_t(most))
        return {path.find('/') == std::string::npos ? longest : folder == "/" ? "/" + longest : folder + "/" + longest,
                "a name of " + std::to_string(longest.size()) + " bytes is longer than the " + std::to_string(most) +
                    " its file system takes"};
    // Each name the series will write, as the gate will judge it when the
    // files are put in place (a read-only file, a FIFO, a socket, a folder,
    // the run's own output): said now, not after the render. A name not
    // there yet can only be the output, which is made at the run's end.
    for (const std::string& name : names) {
        const std::string at = (std::filesystem::path(folder) / name).string();
        struct stat st {};
        if (QnRefusal why = ::lstat(at.c_str(), &st) == 0 ? qnWriteRefusal(at, QnWrite::Output, false)
                                                          : qnRunOutputRefusal(at);
            !why.empty())
            return why;
    }
    return {};
}

// ---- Rendering without the bevel, and back ------------------------------------------

// Keeps the pieces that were rendered for the export only, and renders them
// back as the user had them when it ends (also on every failure path).
class CPiecesExport::PieceRestorer {
public:
    explicit PieceRestorer(CTessolo& engine) : m_e(engine) {}
    ~PieceRestorer() { Restore(); }
    PieceRestorer(const PieceRestorer&) = delete;
    PieceRestorer& operator=(const PieceRestorer&) = delete;

    // Renders piece i from the effects it shows, less the bevel. The
    // requested effects (what an open effect window edits) stay as they were.
    bool RenderWithoutBevel(uint32_t i)
    {
        Cell& p = m_e.m_pPieces[i];
        if (!p.bevel[CTessolo::FX_APPLIED].on)
            return true;
        m_saved.push_back(Saved{i, p});
        const Cell& was = m_saved.back().cell;
        CopyEffects(p, CTessolo::FX_REQUESTED, was, CTessolo::FX_APPLIED);
        p.bevel[CTessolo::FX_REQUESTED].on = 0;
        const bool ok = m_e.RenderPiece(i);
        CopyEffects(p, CTessolo::FX_REQUESTED, was, CTessolo::FX_REQUESTED);
        return ok;
    }

    void Restore()
    {
        for (const Saved& s : m_saved) {
            Cell& p = m_e.m_pPieces[s.index];
            CopyEffects(p, CTessolo::FX_REQUESTED, s.cell, CTessolo::FX_APPLIED);
            m_e.RenderPiece(s.index);
            CopyEffects(p, CTessolo::FX_REQUESTED, s.cell, CTessolo::FX_REQUESTED);
        }
        m_saved.clear();
    }

private:
    struct Saved {
        uint32_t index;
        Cell cell;
    };
    CTessolo& m_e;
    std::vector<Saved> m_saved;
};

// ---- Export -----------------------------------------------------------------------

bool CPiecesExport::i_Fail(const std::string& message, const std::string& title, const std::string& detail)
{
    m_Message = message;
    m_MessageTitle = title;
    m_Detail = detail;
    return false;
}

void CPiecesExport::i_Report(uint8_t percent)
{
    if (m_pProgress)
        m_pProgress->Progress(percent, nullptr);
}

bool CPiecesExport::i_Cancelled() { return m_pProgress && m_pProgress->IsCanceled(); }

bool CPiecesExport::Export(const REQUEST& r, RESULT& result)
{
    result = RESULT{};
    m_Message.clear();
    m_MessageTitle.clear();
    m_Detail.clear();
    m_Layers.clear();
    m_FileNames.clear();
    m_CanvasPlanes.free();
    m_MergedTake.clear();
    m_ImagePlanes.free();

    if (m_Engine.m_nColorMode != 1)
        return i_Fail("Export feature is supported ONLY for \ndocuments in the RGB color mode.",
                      "Unsupported Color mode for Export!", "the document is not RGB");
    if (!m_Engine.m_nPieces || m_Engine.m_nWorkPlaneCount != 4)
        return i_Fail("There are no pieces to export.", kExportTitle, "no pieces");
    if (!r.width || !r.height || r.path.empty())
        return i_Fail(kCannotWrite, kErrorTitle, "no canvas size or no file name");
    if (uint32_t{r.left} + r.width > CanvasWidth(r) || uint32_t{r.top} + r.height > CanvasHeight(r))
        return i_Fail(kCannotWrite, kErrorTitle, "the picture does not lie on its canvas");

    // The dialog's own rules decide what is exported (nothing selected
    // means all pieces; the composite only where the dialog offers it), so
    // the count always matches the N the dialog showed.
    const CExportDialogModel model(CExportStats::FromEngine(m_Engine), r.settings);
    const CExportSettings& s = model.Settings();
    if (model.Result() == 0)
        return i_Fail("There are no pieces to export.", kExportTitle, "no piece matches the settings");
    if (model.Result() > kMaxLayers)
        return i_Fail(kCannotWrite, kErrorTitle, "more than 100000 layers");
    // A PSD counts its layers in 16 bits: said before any piece is rendered.
    if (s.exportTo == CExportSettings::kToPSD && model.Result() > CQNF_ImagePSD::MaxLayers)
        return i_Fail(kCannotWrite, kErrorTitle,
                      "a PSD file holds at most " + std::to_string(CQNF_ImagePSD::MaxLayers) + " layers and this export has " +
                          std::to_string(model.Result()) + "; export fewer pieces, or PNG files");

    // Where the files go is settled before any piece is rendered.
    const bool composite = model.Enabled().composite && s.includeComposite;
    if (s.exportTo == CExportSettings::kToPNG)
        if (const QnRefusal why = SeriesRefusal(r.path, s, &m_Engine, composite); !why.empty())
            return i_Fail(kCannotWrite, kErrorTitle, why.Detail());

    i_Report(0);
    PieceRestorer restorer(m_Engine);
    if (!i_Prepare(r, s, composite, restorer))
        return false;

    CQNF_Image canvas;
    CQNF_Mem scratch;
    EXPORTJOB job;
    job.layers = m_Layers.data();
    job.count = uint32_t(m_Layers.size());
    job.width = CanvasWidth(r);
    job.height = CanvasHeight(r);
    job.resolution = r.resolution;
    job.iccProfile = r.iccProfile;
    job.iccSize = r.iccSize;
    job.preservePosition = s.exportTo == CExportSettings::kToPNG && s.preservePosition ? 1 : 0;
    job.canvas = &canvas;
    job.scratch = &scratch;
    // The PSD writer asks for it once the layers are written (its 60 % of
    // the file's share of the progress), so that the picture and the
    // layers' packed rows are never held at once.
    if (!m_MergedTake.empty())
        job.merged = [this, &r, &job](uint8_t* const* planes) {
            constexpr uint8_t at = kPsdFrom + (kPsdTo - kPsdFrom) * 60 / 100;
            if (i_CompositeOnCanvas(r, planes, m_MergedTake, at, at))
                return true;
            job.mergedFailed = 1;
            return false;
        };
    job.progress = m_pProgress;
    const bool ok = s.exportTo == CExportSettings::kToPSD ? i_WriteFile(r.path, job, result, false)
                                                          : i_WritePNGs(r, job, result);
    i_Report(95);
    restorer.Restore();
    m_CanvasPlanes.free();
    m_MergedTake.clear();
    m_ImagePlanes.free();
    i_Report(100);
    return ok;
}

bool CPiecesExport::i_Prepare(const REQUEST& r, const CExportSettings& s, bool composite, PieceRestorer& restorer)
{
    const bool psd = s.exportTo == CExportSettings::kToPSD;
    const bool extended = s.namingMode == CExportSettings::kNamesExtended;
    std::string base = r.path;
    if (!psd) {
        if (!SplitSeriesPath(r.path, m_Folder, base))
            return i_Fail(kCannotWrite, kErrorTitle, r.path + ": no file name");
    }
    const uint32_t W = CanvasWidth(r), H = CanvasHeight(r);
    const size_t plane = size_t(W) * H;

    // A full canvas: the merged picture (every shown piece) or the composite
    // of the shown pieces that are not selected.
    auto addCanvas = [&](bool otherPiecesOnly, const std::string& name, uint8_t from, uint8_t to) {
        if (!m_CanvasPlanes.alloc(qnMulSize({4, plane})))
            return i_Fail(kNoMemory, kErrorTitle, "no memory for a canvas");
        uint8_t* planes[4];
        for (int k = 0; k < 4; ++k)
            planes[k] = m_CanvasPlanes.GetPtr() + k * plane;
        std::vector<uint8_t> take(m_Engine.m_nPieces, 1);
        for (uint32_t i = 0; otherPiecesOnly && i < m_Engine.m_nPieces; ++i)
            take[i] = !m_Engine.m_pPieces[i].selected;
        if (!i_CompositeOnCanvas(r, planes, take, from, to))
            return false;
        EXPORTLAYER l;
        l.name = name;
        for (int k = 0; k < 4; ++k)
            l.planes[k] = planes[k];
        l.stride = W;
        l.width = W;
        l.height = H;
        m_Layers.push_back(l);
        m_FileNames.push_back(name + ".png");
        return true;
    };

    if (s.exportWhat == CExportSettings::kMerged)
        return addCanvas(false, psd ? kMergedName : base, 5, 35);

    const bool takeHidden = psd && s.includeHiddenPieces;
    CExportPiecesIDS ids(m_Engine);
    for (uint32_t i = 0; i < m_Engine.m_nPieces; ++i) {
        const Cell& p = m_Engine.m_pPieces[i];
        if ((s.exportWhat == CExportSettings::kAll || p.selected) && (p.shown || takeHidden) && ids.Add(i) < 0)
            return i_Fail(kNoMemory, kErrorTitle, "no memory for the piece list");
    }
    if (!ids.SortByRowColumn())
        return i_Fail(kNoMemory, kErrorTitle, "no memory for the piece list");

    // The composite lies under the pieces.
    if (composite && !addCanvas(true, psd ? kCompositeName : base + "_" + kCompositeName, 2, 20))
        return false;

    const uint32_t n = ids.GetSize();
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t i = ids[k];
        if (s.exportWOBevel) {
            i_Report(uint8_t(20 + 15 * uint64_t(k) / n));
            if (i_Cancelled())
                return i_Fail(kCancelled, kExportTitle, "cancelled");
            if (!restorer.RenderWithoutBevel(i))
                return i_Fail(kNoMemory, kErrorTitle, "piece " + std::to_string(i) + " could not be rendered");
        }
        const Cell& p = m_Engine.m_pPieces[i];
        EXPORTLAYER l;
        for (int c = 0; c < 4; ++c) {
            l.planes[c] = p.planePtrs[c];
            // The writers take one stride for the four planes.
            if (p.planeStrides[c] != p.planeStrides[0] || (p.Width() > 0 && !p.planePtrs[c]))
                return i_Fail(kCannotWrite, kErrorTitle, "piece " + std::to_string(i) + " has no rendered planes");
        }
        ClearUnderTransparency(p);
        l.stride = p.planeStrides[0];
        l.x = p.left + r.left;
        l.y = p.top + r.top;
        l.width = uint32_t(std::max(p.Width(), 0));
        l.height = uint32_t(std::max(p.Height(), 0));
        l.visible = p.shown ? 1 : 0;
        const CTessolo::SFX_OPACITY op = p.opacity[CTessolo::FX_APPLIED];
        l.opacity = op.on ? op.opacity : 255;
        if (psd)
            l.name = LayerName(extended, k + 1, i, p.row, p.column);
        else
            m_FileNames.push_back(FileName(base, extended, k + 1, i, p.row, p.column) + ".png");
        m_Layers.push_back(l);
    }

    // What a PSD shows to the programs that read no layers: the pieces its
    // visible layers show (the composite's among them), composited as the
    // window, Apply and the replay composite them, when the writer asks.
    if (psd) {
        std::vector<uint8_t> take(m_Engine.m_nPieces, 0);
        for (uint32_t k = 0; k < n; ++k)
            take[ids[k]] = 1;
        for (uint32_t i = 0; composite && i < m_Engine.m_nPieces; ++i)
            take[i] |= !m_Engine.m_pPieces[i].selected;
        m_MergedTake = std::move(take);
    }
    i_Report(40);
    return true;
}

bool CPiecesExport::i_Composite(const REQUEST& r, uint8_t* const planes[4], const std::vector<uint8_t>& take,
                                uint8_t from, uint8_t to)
{
    // The picture starts from the document's colours, as Apply's does;
    // without them, from black rather than whatever the memory held.
    const bool document = r.colours[0] && r.colours[1] && r.colours[2];
    if (!document)
        for (int k = 0; k < 3; ++k)
            std::memset(planes[k], 0, size_t(r.width) * r.height);
    std::vector<uint8_t> shown(m_Engine.m_nPieces);
    for (uint32_t i = 0; i < m_Engine.m_nPieces; ++i) {
        shown[i] = m_Engine.m_pPieces[i].shown;
        if (!take[i])
            m_Engine.m_pPieces[i].shown = 0;
    }
    uint8_t* dst[4] = {planes[0], planes[1], planes[2], planes[3]};
    m_Engine.m_pProgress = m_pProgress;
    const bool ok = m_Engine.CombineSplitedCells(long(r.width), long(r.height), dst, r.width, 4,
                                                 const_cast<uint8_t*>(r.limit), r.width, qnNullRect,
                                                 document ? r.colours : nullptr, from, to);
    m_Engine.m_pProgress = nullptr;
    for (uint32_t i = 0; i < m_Engine.m_nPieces; ++i)
        m_Engine.m_pPieces[i].shown = shown[i];
    if (!ok)
        return i_Cancelled() ? i_Fail(kCancelled, kExportTitle, "cancelled")
                             : i_Fail(kNoMemory, kErrorTitle, "the pieces could not be composited");
    return true;
}

bool CPiecesExport::i_CompositeOnCanvas(const REQUEST& r, uint8_t* const planes[4], const std::vector<uint8_t>& take,
                                        uint8_t from, uint8_t to)
{
    const uint32_t W = CanvasWidth(r), H = CanvasHeight(r);
    if (W == r.width && H == r.height)
        return i_Composite(r, planes, take, from, to);
    // The image composited at its own size, then put in its place on a
    // clear canvas: what lies around it is the border the cut left out, as
    // clear as Apply leaves it.
    const size_t area = size_t(r.width) * r.height;
    if (!m_ImagePlanes.alloc(qnMulSize({4, area})))
        return i_Fail(kNoMemory, kErrorTitle, "no memory for a canvas");
    uint8_t* image[4];
    for (int k = 0; k < 4; ++k)
        image[k] = m_ImagePlanes.GetPtr() + k * area;
    if (!i_Composite(r, image, take, from, to))
        return false;
    for (int k = 0; k < 4; ++k) {
        std::memset(planes[k], 0, size_t(W) * H);
        for (uint32_t y = 0; y < r.height; ++y)
            std::memcpy(planes[k] + (size_t(r.top) + y) * W + r.left, image[k] + size_t(y) * r.width, r.width);
    }
    m_ImagePlanes.free();
    return true;
}

bool CPiecesExport::i_WriteFile(const std::string& path, EXPORTJOB& job, RESULT& result, bool png)
{
    CQNF_SafeFile file;
    if (!file.Open(path))
        return i_Fail(kCannotWrite, kErrorTitle, qnWriteFailure(path, file.GetError()).Detail());
    // A refusal that is no system call's leaves errno as it found it.
    errno = 0;
    bool ok = png ? stExportToPNGs(&file.File(), &job, 0) : stExportToPSD(&file.File(), &job);
    int writeError = errno;
    if (ok && !file.Commit()) {
        ok = false;
        writeError = qnLastWriteErrno();
    }
    if (!ok) {
        file.Abandon();
        // The merged image's composite said why it stopped.
        if (job.mergedFailed)
            return false;
        if (job.cancelled)
            return i_Fail(kCancelled, kExportTitle, "cancelled");
        return i_Fail(kCannotWrite, kErrorTitle, path + ": " + ErrorText(writeError));
    }
    result.layers = job.count;
    result.files.push_back(path);
    return true;
}

bool CPiecesExport::i_WritePNGs(const REQUEST& r, EXPORTJOB& job, RESULT& result)
{
    // The merged picture alone: one file, replaced as any single file is.
    if (r.settings.exportWhat == CExportSettings::kMerged) {
        const std::string path = (std::filesystem::path(m_Folder) / m_FileNames.front()).string();
        for (const std::string& input : r.keep)
            if (!qnInputRefusal(path, {input}).empty())
                return i_Fail(kCannotWrite, kErrorTitle, path + ": " + qnOverInputWords(input));
        return i_WriteFile(path, job, result, true);
    }
    // Every file is written complete into a private folder beside the
    // targets first; only then do they all move into place.
    CQNF_FileSeries series;
    series.Protect(r.keep);
    if (!series.Begin(m_Folder))
        return i_Fail(kCannotWrite, kErrorTitle, series.Failure());
    for (uint32_t i = 0; i < job.count; ++i) {
        const std::string path = series.StagedPath(m_FileNames[i]);
        CQNF_SafeFile file;
        bool ok = file.Open(path);
        int error = errno;
        if (ok) {
            ok = stExportToPNGs(&file.File(), &job, i);
            error = errno;
            if (ok && !file.Commit()) {
                ok = false;
                error = qnLastWriteErrno();
            }
        }
        if (!ok) {
            error = error ? error : errno;
            file.Abandon();
            series.Abandon();
            if (job.cancelled)
                return i_Fail(kCancelled, kExportTitle, "cancelled");
            return i_Fail(kCannotWrite, kErrorTitle, m_Folder + "/" + m_FileNames[i] + ": " + ErrorText(error));
        }
        series.Add(m_FileNames[i]);
    }

    i_Report(90);
    if (!series.Commit())
        return i_Fail(kCannotWrite, kErrorTitle, series.Failure());
    result.files = series.Targets();
    result.layers = job.count;
    return true;
}

// ---- The writers ------------------------------------------------------------------

bool CPiecesExport::stExportToPSD(CQNF_StdFile* file, void* data)
{
    EXPORTJOB* job = static_cast<EXPORTJOB*>(data);
    if (!job || !file || job->count == 0 || job->count > kMaxLayers || !job->layers)
        return false;
    if (job->progress)
        job->progress->Progress(40, nullptr);

    CQNF_ImagePSD psd;
    CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
    init.width = job->width;
    init.height = job->height;
    init.mode = qncodec::ModeColour;
    init.resolution = job->resolution;
    init.globalAngle = kGlobalAngle;
    init.iccProfile = job->iccProfile;
    init.iccSize = job->iccProfile ? job->iccSize : 0;
    if (!psd.Create(*file) || !psd.Write_Init(&init)) {
        job->message = kCannotWrite;
        return false;
    }
    if (job->merged && !psd.Write_SetMergedSource(job->merged))
        return false;
    if (job->progress)
        job->progress->Progress(41, nullptr);
    for (uint32_t i = 0; i < job->count; ++i) {
        const EXPORTLAYER& l = job->layers[i];
        // A layer's place and size must fit the format's fields.
        if (l.width > CQNF_ImagePSD::MaxSide || l.height > CQNF_ImagePSD::MaxSide || l.x < -32768 ||
            l.x > 32767 || l.y < -32768 || l.y > 32767)
            return false;
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS p;
        p.width = uint16_t(l.width);
        p.height = uint16_t(l.height);
        p.x = int16_t(l.x);
        p.y = int16_t(l.y);
        p.visible = l.visible;
        p.opacity = l.opacity;
        std::memcpy(p.name, l.name.data(), std::min<size_t>(l.name.size(), 60));
        unsigned char* planes[4] = {l.planes[0], l.planes[1], l.planes[2], l.planes[3]};
        if (!psd.Write_AddLayer(&p, planes, l.stride))
            return false;
    }
    if (job->progress)
        job->progress->Progress(43, nullptr);
    CQNF_SubProgress sub;
    sub.SetMasterProgress(job->progress, kPsdFrom, kPsdTo);
    psd.SetProgress(job->progress ? &sub : nullptr);
    if (psd.WritePSD())
        return true;
    // The codecs stop a cancelled write without an error number.
    if (psd.GetError() == 0 && job->progress)
        job->cancelled = 1;
    return false;
}

bool CPiecesExport::stExportToPNGs(CQNF_StdFile* file, void* data, unsigned long index)
{
    EXPORTJOB* job = static_cast<EXPORTJOB*>(data);
    if (!job || !file || job->count == 0 || job->count > kMaxLayers || !job->layers || index >= job->count)
        return false;
    if (job->progress) {
        job->progress->Progress(uint8_t(40 + 50 * uint64_t(index) / job->count), nullptr);
        // A cancel stops the series here; the caller removes what it wrote.
        if (job->progress->IsCanceled()) {
            job->cancelled = 1;
            return false;
        }
    }
    const EXPORTLAYER& l = job->layers[index];
    CQNF_ImagePNG png;
    CQNF_ImagePNG::PNGWRITE_PARAMS p;
    p.mode = CQNF_ImagePNG::WriteRGBA;
    p.product = kProduct;
    p.resolution = job->resolution;

    if (job->preservePosition) {
        CQNF_Image* canvas = job->canvas;
        if (!canvas || !job->width || !job->height)
            return false;
        if ((canvas->GetImageWidth() != job->width || canvas->GetImageHeight() != job->height ||
             canvas->GetImageMode() != qnimg::ModeRGBA) &&
            !canvas->Create(job->width, job->height, qnimg::ModeRGBA))
            return false;
        canvas->Set(qntRGBA8{255, 255, 255, 0}, 15);
        // The part of the layer on the canvas. A layer wholly off the canvas
        // still gives a complete (transparent) picture, never an empty file.
        const int64_t x0 = std::max<int64_t>(l.x, 0), y0 = std::max<int64_t>(l.y, 0);
        const int64_t x1 = std::min<int64_t>(int64_t(l.x) + l.width, job->width);
        const int64_t y1 = std::min<int64_t>(int64_t(l.y) + l.height, job->height);
        for (int k = 0; x0 < x1 && y0 < y1 && k < 4; ++k) {
            uint8_t* dst = canvas->GetPlane(unsigned(k));
            if (!l.planes[k] || !dst)
                return false;
            for (int64_t y = y0; y < y1; ++y)
                std::memcpy(dst + size_t(y) * job->width + x0,
                            l.planes[k] + size_t(y - l.y) * l.stride + size_t(x0 - l.x), size_t(x1 - x0));
            if (k == 3 && l.opacity < 255)
                ScaleAlpha(dst + size_t(y0) * job->width + x0, job->width, uint32_t(x1 - x0), uint32_t(y1 - y0),
                           l.opacity);
        }
        p.width = job->width;
        p.height = job->height;
        for (int k = 0; k < 4; ++k)
            p.planes[k] = canvas->GetPlane(unsigned(k));
        p.stride = job->width;
    } else {
        if (!l.width || !l.height || l.width > 65535 || l.height > 65535 || l.stride < l.width)
            return false;
        for (int k = 0; k < 4; ++k)
            p.planes[k] = l.planes[k];
        if (l.opacity < 255) {
            const uint64_t bytes = qnMulSize({l.height, l.stride});
            if (!job->scratch || (job->scratch->GetSize() < bytes && !job->scratch->alloc(bytes)))
                return false;
            std::memcpy(job->scratch->GetPtr(), l.planes[3], size_t(bytes));
            ScaleAlpha(job->scratch->GetPtr(), l.stride, l.width, l.height, l.opacity);
            p.planes[3] = job->scratch->GetPtr();
        }
        p.width = uint16_t(l.width);
        p.height = uint16_t(l.height);
        p.stride = l.stride;
    }
    // A series can be hundreds of canvas-sized files: the fast setting keeps
    // an export of a large photo to seconds at a slightly larger size.
    p.speed = CQNF_ImagePNG::PNGWRITE_PARAMS::Speed::Fast;
    if (!png.Create(*file)) {
        job->message = kCannotWrite;
        return false;
    }
    return png.WritePNG(&p);
}
