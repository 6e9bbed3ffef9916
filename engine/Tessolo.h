// CTessolo, the cutting engine.
//
// It holds the render-side picture of a puzzle layout (guides, a grid of knot
// offsets, knives between knots and free knives), cuts an image into pieces
// along the knives, keeps the table of pieces with each piece's effect
// settings, renders every piece with its effects and composites the pieces
// back into an image. It can also draw only the knife lines, and rebuild a
// layout from the layout settings block that documents, "last.data" and the
// host's scripting parameters carry.
//
// Layout coordinates are fractions of the image (0 = left or top edge, 1 =
// right or bottom edge); they become pixels only when the engine draws. A
// layout of C columns and R rows has C - 1 inner column guides, R - 1 inner
// row guides and (C + 1) x (R + 1) knots, the border ones included.
//
// Usage: Init(columns, rows, free knives), then fill the public layout
// fields; FreeSpliting() before every SplitCells(); RenderPiece() per piece;
// CombineSplitedCells() into a full-size image. Progress and cancel go
// through m_pProgress, which callers set around one call and clear after.
//
// Ownership and lifetime contract: pieces keep pointers into the channel
// planes and selection handed to SplitCells; those buffers must stay alive
// and unchanged until FreeSpliting(). While one of the long operations runs
// (a progress callback may pump events), a nested call of FreeSpliting,
// SplitCells, RenderPiece or CombineSplitedCells is refused with false.
//
// Effect records: SFX_ONEPIECE is the 92-byte effect state of one piece.
// Its multi-byte fields are stored little-endian on every machine
// (LoadLE/StoreLE), which is the order of the files every existing writer
// produced.
//
// Calls come from one thread at a time; the split, RenderPieces and the
// composites share their work out among the machine's threads (qnpar) and
// give the same bytes whatever the thread count.
#pragma once

#include "core/2DMath.h"
#include "core/Mem.h"
#include "core/Progress.h"
#include "core/Types.h"
#include "engine/LayoutLimits.h"
#include "engine/PieceArena.h"
#include "engine/TessoloServices.h"
#include "imaging/ImageDrawing.h"
#include "imaging/ImageFX.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

class CTessolo {
public:
    // ---- Limits -------------------------------------------------------
    static constexpr uint16_t kMaxInner = kQnMostGridCells - 1;  // inner guides per direction
    static constexpr uint32_t kMaxFreeKnives = 20000;    // free knives of a layout
    static constexpr uint32_t kMaxNodes = 64;            // inner nodes of one knife
    static constexpr uint32_t kKnifeOff = 0xFFFFFFFFu;   // node count of a knife that is off
    static constexpr uint32_t kMaxPieces = 100000;       // pieces one split may make
    static constexpr uint32_t kPieceTableStep = 1000;    // piece table growth
    static constexpr uint32_t kSettingsRecordSize = 92;  // SFX_ONEPIECE bytes

    // ---- Layout records -------------------------------------------------

    // Offset of a knot from its guide crossing: the fraction (-1..1) of the
    // gap toward the previous (negative) or next (positive) guide.
    struct KNOT {
        float dx;
        float dy;
    };

    // One knife as the engine draws it, from one knot to another. Node
    // coordinates: U along the knot-to-knot line (0..1), H across it in
    // units of its length (-3..3), S the node's tension (-2..2).
    struct KNIFESTRUCT_RENDERER {
        uint32_t width;      // line width in pixels (lines mode; cutting draws 1)
        uint32_t nodes;      // 0: straight; 1..64 inner nodes; kKnifeOff: not drawn
        float U[kMaxNodes];
        float H[kMaxNodes];
        float S[kMaxNodes];
    };

    // A free knife runs from knot A to knot B (single knot indices: row x
    // (columns + 1) + column).
    struct FREEKNIFE_RENDERER {
        KNIFESTRUCT_RENDERER knife;
        uint32_t knotA;
        uint32_t knotB;
    };

    // ---- Effect blocks: byte 0 of each is its on switch -------------------

    // A colour that works in every image mode: grey, then red, green, blue,
    // then the four CMYK plane values as the host stores them.
    struct SFX_COLOR {
        uint8_t gray;
        uint8_t red;
        uint8_t green;
        uint8_t blue;
        uint8_t cyan;
        uint8_t magenta;
        uint8_t yellow;
        uint8_t black;
    };

    struct SFX_COLOROVERLAY {
        uint8_t on;
        uint8_t opacity;
        SFX_COLOR color;
    };

    struct SFX_IMAGEOVERLAY {
        uint8_t on;
        uint8_t opacity;
        uint8_t layerChoice;  // 0 automatic, otherwise the layer with layerId
        uint8_t reserved;
        int32_t layerId;      // -1 = the document composite
    };

    struct SFX_STROKE {
        uint8_t on;
        uint8_t opacity;
        uint8_t size;  // pixels
        SFX_COLOR color;
    };

    struct SFX_HSL {
        uint8_t on;
        uint8_t reserved;
        int16_t hue;
        int8_t saturation;
        int8_t lightness;
    };

    struct SFX_OPACITY {
        uint8_t on;
        uint8_t opacity;
    };

    struct SFX_GAUSSIANBLUR {
        uint8_t on;
        uint8_t radius;
    };

    struct SFX_MOTIONBLUR {
        uint8_t on;
        int8_t angle;  // degrees
        uint8_t distance;
    };

    struct SFX_BRIGHTNESSCONTRAST {
        uint8_t on;
        int8_t brightness;
        int8_t contrast;
    };

    struct SFX_BEVEL {
        uint8_t on;
        uint8_t reserved0[3];
        float lightX;
        float lightY;
        float lightZ;
        uint8_t highlightOpacity;
        SFX_COLOR highlightColor;
        uint8_t shadowOpacity;
        SFX_COLOR shadowColor;
        uint8_t size;
        uint8_t reserved1;
        uint16_t depth;
        uint8_t soften;
        uint8_t reserved2;
    };

    // The effect state of one piece as documents, the last settings and the
    // piece undo store it (92 bytes). Built from a piece's applied copies,
    // put back into its requested copies.
    struct SFX_ONEPIECE {
        SFX_BRIGHTNESSCONTRAST brightnessContrast;
        uint8_t reserved0;
        SFX_BEVEL bevel;
        SFX_GAUSSIANBLUR gaussianBlur;
        SFX_COLOROVERLAY colorOverlay;
        SFX_IMAGEOVERLAY imageOverlay;
        SFX_STROKE stroke;
        uint8_t reserved1;
        SFX_HSL hsl;
        SFX_MOTIONBLUR motionBlur;
        SFX_OPACITY opacity;
        uint8_t invert;
        uint8_t selected;
        uint8_t shown;
        uint8_t row;     // low 8 bits of the piece's row
        uint8_t column;  // low 8 bits of the piece's column

        // The record from its 92 stored bytes (multi-byte fields
        // little-endian), and back.
        static SFX_ONEPIECE LoadLE(const uint8_t* bytes);
        void StoreLE(uint8_t* bytes) const;
    };

    // Which of the three copies every piece keeps of each effect: what the
    // current rendering shows, what the user asked for, and the copy the
    // effect windows keep for their Cancel.
    enum : uint8_t { FX_APPLIED = 0, FX_REQUESTED = 1, FX_BACKUP = 2 };

    // One piece. The table holds these records in place; the main window
    // and the effect windows read and write them directly.
    struct SPLITEDCELL {
        CQNF_Mem* mask;  // owned: coverage per pixel of the box, 0 outside .. 255 inside
        int32_t left;    // bounding box in image pixels, right and bottom exclusive
        int32_t top;
        int32_t right;
        int32_t bottom;
        uint8_t* sources[5];  // the box's first pixel in each split channel, then the mask
        uint32_t sourceStrides[5];
        uint8_t* selection;  // the selection at the box corner, or null
        uint32_t selectionStride;
        CQNF_Mem* planes;      // owned: the rendered piece's colour planes, channels planes of the box
        CQNF_Mem* alpha;  // owned: its own alpha plane, written only by renders that cannot take the mask as alpha
        uint8_t* planePtrs[5];  // each rendered plane; the last is the piece's alpha (its own or its mask)
        uint32_t planeStrides[5];
        uint32_t pixels;  // nonzero mask pixels
        // In the mask's block, after the mask: for each row of the box the
        // columns [first, last + 1) of its nonzero mask pixels, from the
        // box's left (an empty span for a clear row).
        int32_t* rowSpans;
        uint8_t selected;
        int32_t column;  // 1-based column and row of the nearest cell centre
        int32_t row;
        uint8_t shown;
        SFX_COLOROVERLAY colorOverlay[3];  // indexed by FX_APPLIED, FX_REQUESTED, FX_BACKUP
        SFX_IMAGEOVERLAY imageOverlay[3];
        SFX_STROKE stroke[3];
        SFX_HSL hsl[3];
        SFX_OPACITY opacity[3];
        SFX_GAUSSIANBLUR gaussianBlur[3];
        SFX_MOTIONBLUR motionBlur[3];
        SFX_BRIGHTNESSCONTRAST brightnessContrast[3];
        SFX_BEVEL bevel[3];
        uint8_t invert[3];

        int32_t Width() const { return right - left; }
        int32_t Height() const { return bottom - top; }
    };

    // The user data of the flood fill while a split runs.
    struct FILLCONTEXT {
        uint32_t rowBytes;  // bit raster bytes per row
        int32_t width;      // raster size (sub-pixels in the bit raster)
        int32_t height;
        uint8_t* test;      // the test raster
        uint8_t* output;    // the output mask (image pixels)
        uint32_t outputStride;
        uint8_t smooth;
        uint8_t linesMode;
        int32_t left;  // bounding box of the region, output pixels
        int32_t top;
        int32_t right;
        int32_t bottom;
        // The smooth bit fill writes only the output rows [bandTop,
        // bandBottom) and the raster rows behind them (one band of a region
        // made on several threads); it widens the box for the whole span.
        int32_t bandTop = 0;
        int32_t bandBottom = INT32_MAX;
    };

    // ---- Fields -----------------------------------------------------------
    uint8_t m_nColorMode = 1;  // 0 grey, 1 RGB, 2 CMYK (set by the host adapter)
    uint16_t m_nInnerColumns = 0;
    uint16_t m_nInnerRows = 0;
    float m_fColumnGuides[kMaxInner] = {};  // x of each inner column line, fraction of the width
    float m_fRowGuides[kMaxInner] = {};     // y of each inner row line, fraction of the height

    CQNF_Mem m_memKnots;
    KNOT* m_pKnots = nullptr;  // row by row
    uint32_t m_nKnots = 0;
    uint16_t m_nKnotColumns = 0;
    uint16_t m_nKnotRows = 0;

    CQNF_Mem m_memVKnives;  // vertical knives: inner columns per cell row
    KNIFESTRUCT_RENDERER* m_pVKnives = nullptr;
    uint32_t m_nVKnives = 0;
    uint16_t m_nVKnivesPerRow = 0;
    uint16_t m_nVKnifeRows = 0;

    CQNF_Mem m_memHKnives;  // horizontal knives: columns per inner row line
    KNIFESTRUCT_RENDERER* m_pHKnives = nullptr;
    uint32_t m_nHKnives = 0;
    uint16_t m_nHKnivesPerRow = 0;
    uint16_t m_nHKnifeRows = 0;

    CQNF_Mem m_memFreeKnives;
    FREEKNIFE_RENDERER* m_pFreeKnives = nullptr;
    uint32_t m_nFreeKnives = 0;

    uint8_t m_bCut = 1;     // 1: pieces cut along 1-pixel knives; 0: lines mode
    uint8_t m_bSmooth = 1;  // 1: anti-aliased knives and soft piece edges

    CQNF_Progress* m_pProgress = nullptr;  // set by the caller around one call

    CQNF_ImageDrawing m_Drawing;
    CQNF_2DMath m_2DMath;
    // What making one knife's line needs.
    struct KnifeScratch {
        CQNF_2DMath math;
        CQNF_2DMath::QNSPLINEPOINT nodes[kMaxNodes + 2] = {};
        CQNF_Mem line;  // the spline's points
        qntFPOS ends[2] = {};
        // Lets go of a line longer than a thread's share of the budget.
        void Trim(unsigned threads);
    };
    KnifeScratch m_KnifeScratch;
    // Bytes of knife lines that threads make and keep at once (a single
    // longer line is still made, alone).
    static constexpr uint64_t kKnifeLineBudget = 512ull << 20;
    uint32_t m_nPolyLinePoints = 0;
    // The knives to draw, kept to be made and drawn later (on several
    // threads) rather than drawn one by one.
    struct KnifeStrokes {
        struct Job {
            const KNIFESTRUCT_RENDERER* knife;
            qntFPOS a, b;
        };
        std::vector<Job> jobs;
    };
    // Set while a split runs: pieces' planes are not cleared as they are
    // made (the split's rasters lie where they go); SplitCells clears or
    // renders them after.
    bool m_bPlanesRendered = false;
    KnifeStrokes* m_pKnifeStrokes = nullptr;  // set: i_DrawSplitting records, clears and draws nothing

    // Default effect blocks, copied into every new piece.
    SFX_COLOROVERLAY m_DefColorOverlay;
    SFX_STROKE m_DefStroke;
    SFX_IMAGEOVERLAY m_DefImageOverlay;
    SFX_HSL m_DefHSL;
    SFX_OPACITY m_DefOpacity;
    uint8_t m_DefInvert;
    SFX_GAUSSIANBLUR m_DefGaussianBlur;
    SFX_BRIGHTNESSCONTRAST m_DefBrightnessContrast;
    SFX_MOTIONBLUR m_DefMotionBlur;
    SFX_BEVEL m_DefBevel;

    CQNF_Mem m_memPieces;
    SPLITEDCELL* m_pPieces = nullptr;
    uint32_t m_nPieces = 0;
    uint8_t m_bLinesMode = 0;  // 1 after a split with cut 0: piece 0 is the knife lines

    CQNF_ImageFX m_FX;
    CQNF_Mem m_memWork;
    uint8_t* m_pWorkPlanes[5] = {};
    uint32_t m_nWorkStride = 0;
    int32_t m_nLargestWidth = 0;
    int32_t m_nLargestHeight = 0;
    uint8_t m_nWorkPlaneCount = 0;  // colour channels + 1

    uint8_t m_bLayerAccess = 0;  // 1 when the host offers the document's layers
    CTessoloServices* m_pHost = nullptr;

    // ---- Operations ------------------------------------------------------
    CTessolo();
    virtual ~CTessolo();
    CTessolo(const CTessolo&) = delete;
    CTessolo& operator=(const CTessolo&) = delete;

    // The n inner guides of an even grid, as fractions 0..1, into guides:
    // the one place a grid's knots are laid, by the window, by the layout
    // documents made without it and by the descriptors made without it, so
    // that a grid of the same size replays the same pixels whichever made it.
    // Each guide is the one before plus one step, in float: the positions
    // documents and descriptors already hold.
    static void EvenGuides(float* guides, uint16_t n);

    // Sizes the layout for columns x rows cells (at most 101 x 101) and
    // freeKnives free knives (at most 20000): guides 0, knot offsets 0,
    // knife records zeroed. On failure (or while a long operation runs)
    // nothing changes.
    bool Init(uint16_t columns, uint16_t rows, uint32_t freeKnives);

    // Deletes every piece's mask and planes and empties the piece table.
    // Refused (false) while a split, render or composite is running.
    bool FreeSpliting();

    // Forwards to the services, each text cut to 250 characters.
    void PlatformMessageBox(const char* text, const char* title);

    // Reports from + (to - from) x percent / 100, truncated to a byte, when
    // that byte differs from the one reported last.
    void SetLocalProgress(double percent, double from, double to);

    // Pixel position of a knot for an image of width x height.
    qntFPOS i_ConvertKnot(uint32_t column, uint32_t row, double width, double height) const;
    qntFPOS i_ConvertKnot(uint32_t index, double width, double height) const;

    // Rasterises every knife into plane (cleared first). False for a null
    // plane, a zero size or a cancel.
    bool DrawSplitting(long width, long height, uint8_t* plane, uint32_t stride, uint8_t from, uint8_t to);
    // Draws one knife from a to b with the current line drawer settings.
    void i_DrawKnife(const KNIFESTRUCT_RENDERER* knife, qntFPOS a, qntFPOS b);
    // The line a knife draws from a to b: its points (in scratch) and width.
    // False when it draws nothing.
    bool i_KnifeLine(const KNIFESTRUCT_RENDERER* knife, qntFPOS a, qntFPOS b, KnifeScratch& scratch,
                     const qntFPOS*& points, unsigned long& count, double& width) const;
    // The spline's nodes of a knife that has some, into scratch.nodes.
    void i_KnifeNodes(const KNIFESTRUCT_RENDERER& knife, qntFPOS a, qntFPOS b, KnifeScratch& scratch) const;
    // About the bytes the points of a knife's line take.
    uint64_t i_KnifeLineBytes(const KnifeStrokes::Job& job, KnifeScratch& scratch) const;
    // How many of the knives from done on to draw at once: at most `most`,
    // and as many lines as a budget of memory holds (at least one).
    uint32_t i_NextKnifeBatch(const KnifeStrokes& strokes, uint32_t done, uint32_t total, uint32_t most);
    // Draws one knife with pen; the number of points drawn through (0: none).
    uint32_t i_DrawKnifeWith(CQNF_ImageDrawing& pen, KnifeScratch& scratch, const KNIFESTRUCT_RENDERER* knife,
                             qntFPOS a, qntFPOS b) const;

    // Cuts the image (channelCount planes of width x height, 1, 3 or 4) into
    // pieces appended to the table. False on a bad size, a memory failure,
    // too many pieces or a cancel.
    bool SplitCells(long width, long height, uint8_t* selection, uint32_t selectionStride, uint8_t** channels,
                    uint32_t channelStride, uint8_t channelCount, uint8_t from, uint8_t to, uint8_t renderAll);

    // Why the last split failed, for a caller that must tell its user: the
    // engine knows, and "failed" alone leaves them guessing.
    enum class SplitFailure : uint8_t { None, NoMemory, TooManyPieces, Cancelled };
    SplitFailure LastSplitFailure() const { return m_nSplitFailure; }
    // "out of memory", "more than 99999 pieces", "cancelled"; "" for None.
    static const char* SplitFailureText(SplitFailure why);

    // Renders one piece from its requested effects; false for an index
    // outside the table.
    bool RenderPiece(uint32_t index);
    // Renders the listed pieces as RenderPiece does, several at once on the
    // machine's threads (qnpar::ThreadCount(), TESSOLO_THREADS sets it): the
    // same bytes as one at a time, whatever the thread count. Pieces whose
    // image overlay reads the host's layers are rendered on the calling
    // thread. False when an index lies outside the table (the others are
    // still rendered).
    bool RenderPieces(const uint32_t* indices, uint32_t count);
    // Whether a batch of `pieces` pieces of `pixels` pixels in all is as
    // large as a window should render in one RenderPieces call on `threads`
    // threads before it looks at its events again: about a megapixel a
    // thread, or eight pieces a thread when they are small. Fewer calls
    // keep the threads busy to the end of each; more keep the window
    // answering.
    static bool RenderBatchFull(uint32_t pieces, uint64_t pixels, unsigned threads);

    // Composites every shown piece into planes (the colour planes then the
    // alpha plane, one stride) inside rect (qnNullRect: the whole image).
    // Every road composites by this one rule: where pieces meet, their soft
    // edges add up to a whole pixel (a piece at reduced opacity screens over
    // what lies under it). The picture starts from `start`, the document's
    // colour planes at `stride`: a pixel no shown piece covers keeps the
    // document's colour, whatever the planes held before. Null when the
    // planes hold the document's colours already.
    bool CombineSplitedCells(long width, long height, uint8_t** planes, uint32_t stride, uint8_t planeCount,
                             uint8_t* selection, uint32_t selectionStride, qntRECT_s rect,
                             const uint8_t* const* start, uint8_t from, uint8_t to);

    // Composites as CombineSplitedCells does, but only where the listed
    // pieces lie (in each row of their boxes, from the first to the last
    // pixel their masks cover; not the rectangle around them all): after an
    // effect change on a few pieces, the rest of the image is not touched.
    // Each part of the area is finished whole before the next, so a cancel
    // leaves every pixel either as it was or composited. False on a cancel
    // or when an index lies outside the table (the others are composited).
    // The pieces in `render` are rendered first, as RenderPieces would, in
    // the same job: threads with no piece left to render composite the
    // parts of the area whose pieces are done.
    bool CombinePieceAreas(long width, long height, uint8_t** planes, uint32_t stride, uint8_t planeCount,
                           uint8_t* selection, uint32_t selectionStride, const uint32_t* indices, uint32_t count,
                           const uint8_t* const* start, uint8_t from, uint8_t to, const uint32_t* render = nullptr,
                           uint32_t renderCount = 0);

    // Rebuilds the layout from a layout settings block. On success drawOnly
    // is 1 when the block asks for the knife lines only, and, when the block
    // carries effect records, recordCount and *records give them decoded to
    // this machine (owned by the engine, valid until the next call). A block
    // that is short, inconsistent or hostile is refused with false and the
    // engine left as it was.
    bool InitFromLastSettingsBinary(const CQNF_Mem* block, uint8_t& drawOnly, uint32_t& recordCount,
                                    SFX_ONEPIECE** records);

    // ---- Piece record helpers ---------------------------------------------

    // The effect record of a piece: its applied copies, flags, row, column.
    static SFX_ONEPIECE MakeOnePiece(const SPLITEDCELL& piece);
    // Puts a record's effect blocks into a piece's requested copies.
    static void PutOnePieceRequested(const SFX_ONEPIECE& record, SPLITEDCELL& piece);
    // The engine's default effect blocks as a record (flags 0, shown 1).
    SFX_ONEPIECE DefaultOnePiece() const;

    // ---- Flood fill callbacks (function-pointer form) -------------------
    static unsigned char fTestBounds(qntPOS pos, void* context);
    static unsigned char fTestBoundsBit(qntPOS pos, void* context);
    static void fFillLine(qntPOS pos, uint32_t length, void* context);

    // ---- Rendering internals ---------------------------------------------
    // A rendering thread's own filter engine and work planes (thread 0 uses
    // m_FX and m_memWork), kept from call to call.
    struct RenderSlot {
        CQNF_ImageFX fx;
        CQNF_Mem work;
        uint8_t* planes[5] = {};
    };
    std::vector<std::unique_ptr<RenderSlot>> m_Slots;
    // What the threads past the first may take for rendering pieces side by
    // side; more, and pieces are rendered one at a time on every thread.
    uint64_t m_nRenderSlotBytes = 32ull << 20;
    // A bevel that comes first reads a piece at least this wide where it
    // lies in the split image, a narrower one from a copy in the work
    // planes (0: every piece; tests render both ways).
    uint32_t m_nReadInPlaceWidth = 0;

    // The split's test and output rasters (released when the split ends),
    // and the blocks of the pieces freed last, kept for the next cut so that
    // its pieces reuse them instead of faulting in fresh pages (what the next
    // cut does not take is released when it ends).
    CQNF_Mem m_memSplitTest, m_memSplitOut;
    // The smooth cut on several threads makes its regions in batches of
    // about this many bytes of raster copies and coverage, so that its extra
    // memory stays bounded; a raster of more free runs than the limit is
    // filled one region after the other instead. Limit 0: a fifth of the
    // image's pixels and at least 2,000,000 (a run's labels and links take
    // 20 bytes, so they stay within 4 bytes a pixel, about what the split's
    // rasters take and less than the pieces' planes made later).
    uint64_t m_nRegionBatchBytes = 16ull << 20;
    uint64_t m_nLabelledRunLimit = 0;
    // Bands of output rows each region of a batch is made in, side by
    // side; 0: enough for four tasks a thread, of 32 rows at least.
    uint32_t m_nCoverageBands = 0;
    std::vector<CQNF_Mem*> m_PiecePool;
    // Where the pieces' masks and planes live; heap blocks (the pool) only
    // when an arena cannot have memory. The planes have an arena of their
    // own: the split writes the masks while its rasters are held, and the
    // planes' pages must not come in with them. The pieces' own alpha planes
    // have a third, in small pages, given back whole at every cut: few
    // renders write them, and a plane nobody wrote must cost no memory and
    // read 0 on the next cut without being cleared.
    PieceArena m_MaskArena, m_PlaneArena;
    PieceArena m_AlphaArena{size_t(256) << 20, false};
    // A block of at least `bytes` from the pool (the smallest that fits and
    // is not over twice the size), the arena or the heap; zeroed when asked.
    // readsZero, when given, tells whether its bytes read 0. Null on failure.
    CQNF_Mem* i_TakeBlock(uint64_t bytes, bool zero, PieceArena& arena, bool* readsZero = nullptr);
    // The pieces a running split made whose planes may not read 0.
    std::vector<uint32_t> m_PlanesToClear;

    bool i_SetFXData(CQNF_ImageFX& fx, uint8_t* const* work, uint8_t forward, uint32_t index);
    void i_PutDocumentLayerContentToDestinationImage(qntRECT_s box, uint8_t automatic, int32_t layerId);

    // Appends one piece cut from mask (stride x height) in box; see SplitCells.
    bool i_AddRectToSplitedCellsStorage(uint8_t* mask, long maskStride, long height, qntRECT_s box, uint8_t clear,
                                        uint8_t** channels, uint32_t channelStride, uint8_t channelCount,
                                        uint8_t* selection, uint32_t selectionStride, const qntFPOS* centres,
                                        const qntPOS* cells, uint32_t centreCount);

private:
    struct CentreIndex;
    struct SplitJob;  // what the stages of one split share (SplitCells.cpp)

    // Marks the engine busy for the lifetime of one long operation.
    class BusyScope {
    public:
        explicit BusyScope(uint8_t& flag) : m_flag(flag) { m_flag = 1; }
        ~BusyScope() { m_flag = 0; }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        uint8_t& m_flag;
    };

    bool i_DrawSplitting(long width, long height, uint8_t* plane, uint32_t stride, uint8_t from, uint8_t to);
    // Every knife of the layout handed to i_DrawKnife, in drawing order, for
    // a plane of w x h.
    void i_CollectKnives(double w, double h);
    bool i_DrawKnivesOnThreads(const KnifeStrokes& strokes, unsigned threads, uint8_t from, uint8_t to);
    bool i_SplitCells(long width, long height, uint8_t* selection, uint32_t selectionStride, uint8_t** channels,
                      uint32_t channelStride, uint8_t channelCount, uint8_t from, uint8_t to, uint8_t renderAll);
    // The stages of i_SplitCells, in order.
    void i_FindCellCentres(SplitJob& job);
    bool i_DrawTestRaster(SplitJob& job);
    bool i_CloseHoles(SplitJob& job);
    bool i_AddLinesPiece(SplitJob& job);
    bool i_CollectRegions(SplitJob& job);
    bool i_AddRegion(SplitJob& job, int32_t sx, int32_t sy);
    bool i_ClearSplitOutput(SplitJob& job);
    int i_CollectLabelledRegions(SplitJob& job);  // 1 done, 0 failed, -1 not taken
    bool i_SizeWorkPlanes();
    bool i_RenderPiece(uint32_t index);
    bool i_RenderPieceWith(uint32_t index, CQNF_ImageFX& fx, uint8_t* const* work);
    bool i_RenderPieces(const uint32_t* indices, uint32_t count);
    // skip[i] is 1 for an entry of the list that is outside the table or a
    // repeat; true when some entry is outside.
    bool i_MarkRenderList(const uint32_t* indices, uint32_t count, std::vector<uint8_t>& skip) const;
    // Readies a filter engine and work planes for every thread past the
    // first that renders `count` pieces side by side and gives the thread
    // count, or 0 when the pieces are too large to go side by side (each
    // then goes on every thread in turn). usable[t] is 0 for a thread that
    // could not have its memory.
    unsigned i_RenderSlots(uint32_t count, std::vector<uint8_t>& usable);
    // Renders a piece with the filters and work planes of thread `worker`
    // of a batch readied by i_RenderSlots.
    bool i_RenderPieceOn(uint32_t index, unsigned worker);
    bool i_ReadsHostLayers(const SPLITEDCELL& p) const;
    // One piece over the composite inside rect; with `spans`, row
    // rect.top + i only in columns [spans[2 i], spans[2 i + 1]), and the
    // piece's alpha taken to be 0 outside its rowSpans.
    void i_CompositePiece(const SPLITEDCELL& p, uint8_t** planes, uint32_t stride, uint8_t colours, qntRECT_s rect,
                          const int32_t* spans = nullptr) const;
    // The piece in `box` of mask; origin is where the mask's (0, 0) lies in
    // the image (channels and selection point at that place already).
    bool i_AddPiece(uint8_t* mask, long maskStride, long height, qntRECT_s box, uint8_t clear, uint8_t** channels,
                    uint32_t channelStride, uint8_t channelCount, uint8_t* selection, uint32_t selectionStride,
                    const CentreIndex* centres, qntPOS origin = {0, 0}, bool copyMask = true);
    // The piece's mask taken from `mask` (origin as for i_AddPiece) and its
    // pixels counted; the mask's box cleared after when asked. i_AddPiece
    // does this itself unless told not to, so that a caller can copy the
    // masks of many pieces at once on several threads.
    static void i_CopyPieceMask(SPLITEDCELL& p, uint8_t* mask, long maskStride, qntPOS origin, bool clear);
    // Rows [y0, y1) of it and of its rowSpans, so that one large piece is
    // copied in bands on several threads; the covered pixels among them.
    static uint32_t i_CopyPieceMaskRows(const SPLITEDCELL& p, uint8_t* mask, long maskStride, qntPOS origin,
                                        bool clear, uint32_t y0, uint32_t y1);
    bool i_NoteDirtyPlanes();  // the piece being added goes on m_PlanesToClear; false without memory
    bool i_ProgressStep(double percent, double from, double to);  // report, then false on cancel
    bool i_Canceled();
    // Shows the split's message for why and keeps why for LastSplitFailure.
    void i_SplitFailed(SplitFailure why);
    void i_FreePieces();
    void i_GetColorBytes(const SFX_COLOR& color, uint8_t out[4]) const;

    uint8_t m_bBusy = 0;
    SplitFailure m_nSplitFailure = SplitFailure::None;
    int m_nLastReported = -1;  // the byte SetLocalProgress sent last (-1: none)
    const CQNF_Progress* m_pLastReportedTo = nullptr;
    CQNF_Mem m_memRecords;   // effect records of the last settings block read
    CQNF_Mem m_memOverlay;   // scratch planes of the image overlay
};

static_assert(sizeof(CTessolo::KNIFESTRUCT_RENDERER) == 776);
static_assert(sizeof(CTessolo::SFX_COLOR) == 8);
static_assert(sizeof(CTessolo::SFX_COLOROVERLAY) == 10);
static_assert(sizeof(CTessolo::SFX_IMAGEOVERLAY) == 8);
static_assert(sizeof(CTessolo::SFX_STROKE) == 11);
static_assert(sizeof(CTessolo::SFX_HSL) == 6);
static_assert(sizeof(CTessolo::SFX_OPACITY) == 2);
static_assert(sizeof(CTessolo::SFX_GAUSSIANBLUR) == 2);
static_assert(sizeof(CTessolo::SFX_MOTIONBLUR) == 3);
static_assert(sizeof(CTessolo::SFX_BRIGHTNESSCONTRAST) == 3);
static_assert(sizeof(CTessolo::SFX_BEVEL) == 40);
static_assert(offsetof(CTessolo::SFX_BEVEL, lightX) == 4);
static_assert(offsetof(CTessolo::SFX_BEVEL, highlightOpacity) == 16);
static_assert(offsetof(CTessolo::SFX_BEVEL, shadowOpacity) == 25);
static_assert(offsetof(CTessolo::SFX_BEVEL, size) == 34);
static_assert(offsetof(CTessolo::SFX_BEVEL, depth) == 36);
static_assert(offsetof(CTessolo::SFX_BEVEL, soften) == 38);

static_assert(sizeof(CTessolo::SFX_ONEPIECE) == 92);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, brightnessContrast) == 0);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, reserved0) == 3);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) == 4);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, lightX) == 8);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, lightY) == 12);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, lightZ) == 16);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, highlightColor) == 21);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, shadowColor) == 30);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, size) == 38);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, depth) == 40);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, bevel) + offsetof(CTessolo::SFX_BEVEL, soften) == 42);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, gaussianBlur) == 44);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, colorOverlay) == 46);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, imageOverlay) == 56);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, imageOverlay) + offsetof(CTessolo::SFX_IMAGEOVERLAY, layerId) == 60);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, stroke) == 64);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, reserved1) == 75);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, hsl) == 76);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, hsl) + offsetof(CTessolo::SFX_HSL, hue) == 78);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, motionBlur) == 82);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, opacity) == 85);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, invert) == 87);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, selected) == 88);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, shown) == 89);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, row) == 90);
static_assert(offsetof(CTessolo::SFX_ONEPIECE, column) == 91);
