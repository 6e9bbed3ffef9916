// CPiecesExport: the cut pieces out to other programs, as one layered PSD
// file (a layer per piece) or a series of PNG files (a file per piece), or
// the merged picture as one layer or file. The export dialog, the tool and
// the tests all run the same Export.
//
// Export chooses the pieces (selected or all; hidden ones only into a PSD
// and only when asked), orders them by row, then column (CExportPiecesIDS),
// renders them without their bevel when asked, adds the composite of the
// other shown pieces as the bottom layer when it applies, names each layer or
// file, and hands one export job to the writers:
//
//   stExportToPSD   the whole job as one layered PSD into an open file
//   stExportToPNGs  one layer of the job as one PNG into an open file
//
// Every full picture (the merged picture, the composite, and the merged
// image a PSD carries for the programs that show no layers) is the pieces
// composited as the window and Apply composite them: soft edges that meet
// add up to the picture, where stacking the layers one over another would
// let the ground show through every seam. A PSD's merged image holds the
// pieces its visible layers show.
//
// Memory: a PSD layer points straight into the engine's rendered planes, so
// the layers cost nothing beyond the pieces themselves (the colour under
// their fully transparent pixels, which no composite shows, is cleared there
// so that it packs into runs); PNG files are
// written one at a time through one canvas (positions preserved) or one
// scratch plane (opacity). The merged picture or the composite takes a full
// canvas of four planes, and a PSD of pieces one more for its merged image,
// composited only once its layers are written.
//
// Writing is all or nothing. A PSD goes to a temporary file that replaces
// the target only when complete. A PNG series goes to a private folder
// beside the targets, and only when every file of it is complete do they
// move into place (CQNF_FileSeries); a failure or a cancel removes what this
// run wrote and leaves every existing file as it was. Either way the pieces are rendered
// back as they were (with their bevel), and a failure leaves the message for
// the user in Message() / MessageTitle().
//
// Progress: 0..40 preparing (rendering without bevel, the composite), 40..90
// writing, 90..100 putting the files in place and restoring the pieces;
// IsCanceled() stops the export.
#pragma once

#include "app/ExportSettings.h"
#include "core/Array.h"
#include "core/Mem.h"
#include "core/Progress.h"
#include "core/Refusal.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CQNF_Image;
class CQNF_StdFile;
class CTessolo;

class CPiecesExport {
public:
    // Message() of an export whose files could not be written; Detail()
    // then names the file and why.
    static constexpr const char* kCannotWriteMessage = "Cannot write file...";

    // One layer or file: the rendered planes of a piece, or a full canvas.
    struct EXPORTLAYER {
        std::string name;        // the first 60 characters are used
        uint8_t* planes[4] = {};  // red, green, blue, alpha
        uint32_t stride = 0;     // bytes per row of every plane
        int32_t x = 0;           // left and top on the canvas
        int32_t y = 0;
        uint32_t width = 0;
        uint32_t height = 0;
        uint8_t visible = 1;
        uint8_t opacity = 255;
    };

    // What the writers take (through a file dialog's user argument).
    struct EXPORTJOB {
        const EXPORTLAYER* layers = nullptr;
        uint32_t count = 0;  // 1..100000
        uint16_t width = 0;  // canvas
        uint16_t height = 0;
        double resolution = 72.0;  // pixels per inch
        const uint8_t* iccProfile = nullptr;
        uint32_t iccSize = 0;
        uint8_t preservePosition = 0;
        CQNF_Image* canvas = nullptr;  // the PNG writer's canvas (positions preserved)
        CQNF_Mem* scratch = nullptr;   // the PNG writer's alpha plane (opacity)
        // The PSD's merged image, composited only when the writer comes to
        // it (after the layers): fills colours and alpha of the canvas's
        // size, stride = width, and says false (and why, itself) when it
        // cannot. Empty: the writer composites the layers.
        std::function<bool(uint8_t* const* planes)> merged;
        uint8_t mergedFailed = 0;  // set when merged said false
        CQNF_Progress* progress = nullptr;
        // Set by the writers: the text for the user when a file could not
        // take the writer (empty otherwise), and whether they stopped
        // because the progress was cancelled.
        std::string message;
        uint8_t cancelled = 0;
    };

    // Piece indices of the engine's table, ordered by row, then column.
    class CExportPiecesIDS : public CQNF_DWordArray {
    public:
        explicit CExportPiecesIDS(const CTessolo& engine) : m_Engine(engine) {}
        // -1, 0 or 1 by the pieces' rows, then columns (an index outside the
        // table sorts last).
        int CompareElements(const void* a, const void* b) override;
        // The export order: SortElements' order, in n log n, ties kept in
        // table order.
        bool SortByRowColumn();

    private:
        const CTessolo& m_Engine;
    };

    // What Export is asked to do.
    struct REQUEST {
        CExportSettings settings;
        // A PSD: the file. PNG files: the first part of every name ("[file]",
        // a ".png" ending dropped), in the folder they go to.
        std::string path;
        uint16_t width = 0;  // the image the pieces were cut from
        uint16_t height = 0;
        // The canvas the files take, when larger than that image (0: its
        // size), and where the image lies on it: the picture the host
        // handed, of which a transparent border was left out of the cut.
        // Every layer keeps its place there; the rest of a full picture is
        // clear.
        uint16_t canvasWidth = 0;
        uint16_t canvasHeight = 0;
        uint16_t left = 0;
        uint16_t top = 0;
        double resolution = 72.0;
        const uint8_t* iccProfile = nullptr;
        uint32_t iccSize = 0;
        // Files no file of a PNG series may replace (the run's inputs).
        std::vector<std::string> keep;
        // What the pieces are limited to where the picture is composited, as
        // Apply limits them (the selection and transparency they were cut
        // under: width x height bytes); null: nothing.
        const uint8_t* limit = nullptr;
        // The document's colour planes (width x height bytes each), where
        // the merged picture and the composite start, as Apply's picture
        // does: a pixel no piece covers keeps its colour. Null: black.
        const uint8_t* colours[3] = {};
    };

    struct RESULT {
        uint32_t layers = 0;             // layers or files written
        std::vector<std::string> files;  // the files, in export order
    };

    explicit CPiecesExport(CTessolo& engine) : m_Engine(engine) {}

    void SetProgress(CQNF_Progress* progress) { m_pProgress = progress; }

    // The export; false with Message(), MessageTitle() and Detail() set.
    bool Export(const REQUEST& request, RESULT& result);

    // The text and title of a message box for the user (empty after
    // success), and a one-line technical reason (file, error).
    const std::string& Message() const { return m_Message; }
    const std::string& MessageTitle() const { return m_MessageTitle; }
    const std::string& Detail() const { return m_Detail; }

    // Names: "Layer 112" or "L112 - Piece: 95 (R: 8 / C: 12)" for a layer,
    // "[file]_0112" or "[file]_F0112-Piece95_R8_C12" for a file (without its
    // ".png"); number counts the exported pieces from 1.
    static std::string LayerName(bool extended, uint32_t number, uint32_t piece, int32_t row, int32_t column);
    static std::string FileName(const std::string& base, bool extended, uint32_t number, uint32_t piece, int32_t row,
                                int32_t column);
    // Why a PNG series for path could not be written now (the file or
    // folder refused and why), or empty: its folder, and its longest file
    // name for the pieces of engine (null: not cut yet, the shortest name
    // is judged) with or without the composite; a link in the folder, with
    // a name of the series, to one of the files inputs names; and each of
    // its names once the pieces are cut, as the gate judges it (core/SafeFile.h). The merged picture
    // alone is the one file it is written to, judged as a single file.
    static QnRefusal SeriesRefusal(const std::string& path, const CExportSettings& s, const CTessolo* engine,
                                   bool composite, const std::vector<std::string>& inputs = {});
    static constexpr const char* kMergedName = "Merged";
    static constexpr const char* kCompositeName = "Composite";
    static constexpr const char* kProduct = "Quorvin Tessolo 3.1";
    static constexpr uint32_t kGlobalAngle = 130;
    static constexpr uint32_t kMaxLayers = 100000;

    // The two writers (file-dialog callbacks; job is an EXPORTJOB).
    static bool stExportToPSD(CQNF_StdFile* file, void* job);
    static bool stExportToPNGs(CQNF_StdFile* file, void* job, unsigned long index);

private:
    class PieceRestorer;

    bool i_Fail(const std::string& message, const std::string& title, const std::string& detail);
    bool i_Prepare(const REQUEST& r, const CExportSettings& s, bool composite, PieceRestorer& restorer);
    // The shown pieces that take(piece) accepts composited into planes of
    // the request's size (the rest of the table left out meanwhile).
    bool i_Composite(const REQUEST& r, uint8_t* const planes[4], const std::vector<uint8_t>& take, uint8_t from,
                     uint8_t to);
    // The same into planes of the canvas's size, the image at its place.
    bool i_CompositeOnCanvas(const REQUEST& r, uint8_t* const planes[4], const std::vector<uint8_t>& take,
                             uint8_t from, uint8_t to);
    bool i_WritePNGs(const REQUEST& r, EXPORTJOB& job, RESULT& result);
    // One file at path, the PSD or the merged picture alone as a PNG.
    bool i_WriteFile(const std::string& path, EXPORTJOB& job, RESULT& result, bool png);
    void i_Report(uint8_t percent);
    bool i_Cancelled();

    CTessolo& m_Engine;
    CQNF_Progress* m_pProgress = nullptr;
    std::vector<EXPORTLAYER> m_Layers;
    std::vector<std::string> m_FileNames;  // per layer, PNG series only
    std::string m_Folder;                   // PNG series: where the files go
    CQNF_Mem m_CanvasPlanes;                // merged picture or composite
    std::vector<uint8_t> m_MergedTake;      // a PSD's merged image: the pieces it shows
    CQNF_Mem m_ImagePlanes;                 // a full picture before it goes on a larger canvas
    std::string m_Message;
    std::string m_MessageTitle;
    std::string m_Detail;
};
