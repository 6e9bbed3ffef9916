// CQNF_ImagePSD: layered Photoshop documents (version 1, 8 bits per channel).
//
// Writing: Create(file), Write_Init, Write_AddLayer for each layer bottom
// first, SetProgress, WritePSD, WriteClean. Every layer carries its colour
// planes and a transparency plane, PackBits-compressed; a merged image of the
// visible layers over white follows for readers that ignore layers, or, given
// with Write_SetMerged (or made when it is reached, Write_SetMergedSource),
// the caller's own picture of them over white. The
// file is written from start to end, never gone back into (a disk that
// misplaces such a write gets the same bytes): every channel is packed once,
// its rows kept as small plans (PackBitsPlan) until the layer records are
// written, and the merged image is composited once and kept packed until its
// row table is written (a given merged picture is kept as plans, its rows
// put over white again; a made one is made after the layers are written and
// their plans let go, and put over white once); past 64 MB of either, rows
// are packed (and the merged image composited) again to be written. The file is never held in
// memory. A document is limited to 30000 pixels a side and 32767 layers
// (the format's own limits); the 4 GB that its 32-bit lengths address is
// checked as well.
//
// Reading: ParseImageByPtr decodes the merged image into planes 0..n-1;
// LParseByPtr reads every layer with its planes (GetLayersCount,
// GetLayerInfo). Modes: bitmap or greyscale (2), RGB (1), CMYK (3); 8-bit
// data with raw or PackBits channels. Every length, count and extent is
// checked against the data, and the planes of one parse share the byte
// budget of GetLimits(). The layers are judged whole before any is sized or
// decoded: a file whose records, channel lengths or row tables the data do
// not bear out is damaged (49) whatever else it holds, and only a sound one
// is refused for what it holds (48: a blend mode, a compression) or for its
// size. LJudge* gives that verdict without decoding a plane, so that a
// program reading only the merged image refuses the same damaged files.
//
// Error numbers: see imaging/CodecFormat.h; in particular 48 for a colour
// mode, depth, compression, blend mode or section divider the reader does not
// take, and for more than 100 channels in a layer; 49 for anything corrupt.
// A 48 comes with GetReason(): what was met and where, in words.
#pragma once

#include "imaging/CodecFormat.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CQNF_Image;

class CQNF_ImagePSD : public CQNF_ImageReader, public CQNF_ImageWriter {
public:
    struct PSDMLWRITE_INITPARAMS {
        uint16_t width = 0;
        uint16_t height = 0;
        uint8_t mode = 0;                       // qncodec::ModeColour, ModeGrey or ModeCMYK
        double resolution = 72.0;               // pixels per inch (across)
        double resolutionY = 0.0;               // pixels per inch down; 0: as resolution
        uint32_t globalAngle = 0;               // degrees
        const unsigned char* iccProfile = nullptr;  // may be null
        uint32_t iccSize = 0;                   // 0 = none
    };

    struct PSDMLWRITE_LAYERPARAMS {
        uint16_t width = 0;
        uint16_t height = 0;
        int16_t x = 0;  // left
        int16_t y = 0;  // top
        uint8_t visible = 1;
        uint8_t opacity = 255;
        char name[64] = {};  // NUL-terminated; at most 63 characters are used
    };

    // A layer read by LParse*. Pointers stay valid until Clean, the next
    // layered parse or the destruction.
    struct PSDLayerInfoExt_s {
        int32_t left;
        int32_t top;
        uint32_t width;
        uint32_t height;
        uint16_t channels;
        char* name;
        uint8_t folder;      // a section divider opening a group
        uint8_t sectionEnd;  // a section divider closing a group
        uint8_t visible;
        uint8_t opacity;
        CQNF_Mem* transparency;  // null when the layer has none
        CQNF_Mem* planes[4];     // null where the layer has no such channel
    };

    CQNF_ImagePSD();
    ~CQNF_ImagePSD() override;

    // ---- reader
    bool GetImageInfoByPtr(const void* data, size_t size) override;
    bool ParseImageByPtr(const void* data, size_t size) override;
    virtual bool LParseByPtr(const void* data, size_t size);
    virtual bool LParseByMem(CQNF_Mem& block);
    virtual bool LParseByFile(CQNF_StdFile& file);
    virtual bool LParseLocal();
    // Whether LParse* would read the layers, judged without decoding any
    // plane and without touching the merged image's planes: true when it
    // would; else false with its error (49 damaged, 48 refused with the
    // reason, or a memory failure). No layer is kept.
    bool LJudgeByPtr(const void* data, size_t size);
    bool LJudgeLocal();
    // LParseLocal for a caller that has the merged image already: its
    // planes are left as they are, and a document without layers reads as
    // none (no second decoding of the merged image).
    bool LParseLayersLocal();
    // Whether ParseImageLocal would decode the merged image, judged as it
    // judges the data, without making or touching any plane.
    bool JudgeImageLocal();
    // Whether the local copy opens as a document the reader takes: its
    // header, colour data and image resources judged (and the resolution
    // read) as a parse judges them, nothing after them looked at. What
    // CQNF_ImageReader::GetImageInfoByFileHead leaves is enough.
    bool JudgeOpeningLocal();

    uint32_t GetLayersCount() const { return static_cast<uint32_t>(m_layers.size()); }
    bool GetLayerInfo(uint32_t index, PSDLayerInfoExt_s& info);
    // Releases the layers read.
    void Clean();
    uint16_t GetFileChannels() const { return m_fileChannels; }
    // Pixels per inch of the resolution resource after a parse, across and
    // down; 0 for none.
    double GetResolution() const { return m_resolution; }
    double GetResolutionY() const { return m_resolutionY; }
    // GetReason() after a parse refused with 48: what was not read, e.g.
    // "layer 2 (\"Cat\"): channels compressed with ZIP are not read".

    // ---- writer
    bool Write_Init(const PSDMLWRITE_INITPARAMS* params);
    bool Write_AddLayer(const PSDMLWRITE_LAYERPARAMS* params, unsigned char* const* planes, uint32_t stride);
    // Takes the planes of an image (4 for colour, 2 for grey, 5 for CMYK,
    // one after another in its block, stride = width); error 1 when the
    // image does not hold that many.
    bool Write_AddLayer(const PSDMLWRITE_LAYERPARAMS* params, CQNF_Image* image);
    // The merged image as the caller composited the layers (where a plain
    // stack of them is not the picture: pieces whose soft edges meet), as
    // the mode's colour planes and a transparency plane of the document's
    // size, stride bytes a row; written over white. Null: the writer
    // composites the visible layers itself. After Write_Init; the planes are
    // read by WritePSD.
    bool Write_SetMerged(const unsigned char* const* planes, uint32_t stride);
    // The caller's merged picture made only when the writer comes to it,
    // so that it is not held while the layers are packed: source(planes)
    // fills the mode's colour planes and a transparency plane of the
    // document's size (stride = width) that the writer holds, and returns
    // false to stop the write (no error set: the source says why). The
    // colours are put over white in place and the transparency let go
    // before the rows are packed. Empty: none. After Write_Init; it takes
    // the place of a picture given to Write_SetMerged, and that of it.
    using MergedSource = std::function<bool(unsigned char* const* planes)>;
    bool Write_SetMergedSource(MergedSource source);
    bool WritePSD();
    void WriteClean() override;
    bool Write_MACWord(uint16_t value, uint32_t position = qncodec::CurrentPos);
    bool Write_MACDWord(uint32_t value, uint32_t position = qncodec::CurrentPos);

    // ---- PackBits
    // Packs one row; out must hold PackBitsBound(length) bytes.
    static void PackBits(const unsigned char* in, long length, unsigned char* out, long* outLength);
    static size_t PackBitsBound(size_t length) { return 3 * length + 1; }
    // The plan of a packed row: the headers of its packets alone, one byte
    // each, without the bytes they take from the row (a literal's, a run's
    // byte), which the row holds. Far smaller than the packed row, it lets
    // a row be packed once, kept small and written later from the row
    // itself. plan must hold PackBitsBound(length) bytes; returns the
    // length of the packed row.
    static long PackBitsPlan(const unsigned char* in, long length, unsigned char* plan, long* planLength);
    // The packed row from the row and its plan (out: PackBitsBound(length)
    // bytes), as PackBits packs it; with out null only its length (in
    // null too: the row is not read). Returns the plan's bytes taken.
    static size_t PackBitsByPlan(const unsigned char* in, long length, const unsigned char* plan, unsigned char* out,
                                 long* outLength);
    // Unpacks one row of outLength bytes; false when the input runs out or
    // a packet reaches beyond the row. used receives the input bytes
    // consumed. With out null the row is only walked: what it would take of
    // the input, nothing written.
    bool UnpackMacPack(const unsigned char* in, size_t inLength, unsigned char* out, size_t outLength,
                       size_t* used);
    // Decodes one channel of width x height bytes, raw (0) or PackBits (1).
    // PackBits rows lie where their table of 2 x height row lengths puts
    // them: the table leads in, or lies at rowTable when given. Each row's
    // bytes must unpack to exactly width bytes (no-op bytes aside), and the
    // table must give its rows exactly what follows it, with used null, or
    // no more, with used (which then receives what the channel took). A
    // table the rows do not bear out is damage (49, with the row in
    // GetReason()). With out null the data are only judged, as a decoding
    // would judge them.
    bool ExpandChanelPixels(unsigned char compression, const unsigned char* in, size_t inLength,
                            unsigned char* out, uint32_t width, uint32_t height, size_t* used,
                            const unsigned char* rowTable);

    // The largest side and layer count a written document may have.
    static constexpr uint32_t MaxSide = 30000;
    static constexpr uint32_t MaxLayers = 32767;

private:
    struct WriteLayer {
        PSDMLWRITE_LAYERPARAMS params;
        unsigned char* planes[5];
        uint32_t stride;
    };
    struct ReadLayer {
        uint32_t width = 0;
        uint32_t height = 0;
        int32_t left = 0;
        int32_t top = 0;
        uint16_t channels = 0;
        char name[256] = {};
        uint8_t folder = 0;
        uint8_t sectionEnd = 0;
        uint8_t visible = 0;
        uint8_t opacity = 0;
        uint32_t lengths[100] = {};
        int16_t ids[100] = {};
        CQNF_Mem planes[5];  // index 0 transparency, 1..4 channels 0..3
    };
    class Writer;
    class Reader;
    // Header checks up to the end of the image resources.
    // keepPlanes: the merged image's planes stay as they are.
    bool i_OpenSections(const void* data, size_t size, size_t& resourcesEnd, bool keepPlanes = false);
    void i_ReadResolution(const unsigned char* resources, size_t size);
    // decode false: judged only (JudgeImageLocal).
    bool i_ParseMerged(const void* data, size_t size, bool decode);
    // What a layered parse makes: nothing (LJudge*), the layers alone
    // (LParseLayersLocal), or the layers, else the merged image (LParse*).
    enum class Layers { Judged, Alone, AndMerged };
    bool i_ParseLayers(const void* data, size_t size, Layers what);
    bool i_Unsupported(std::string reason) { return i_Refuse(std::move(reason)); }
    bool JudgeHeader(CQNF_StdFile& file, uint64_t length, uint64_t& largest) override;
    bool ReadHeaderBytes(CQNF_StdFile& file, uint64_t length) override;
    // Colour planes of the merged image in a codec mode.
    static uint32_t ColourPlanes(uint8_t codecMode)
    {
        return codecMode == qncodec::ModeColour ? 3 : codecMode == qncodec::ModeGrey ? 1 : 4;
    }

    std::vector<std::unique_ptr<ReadLayer>> m_layers;
    uint16_t m_fileChannels = 0;
    double m_resolution = 0.0;
    double m_resolutionY = 0.0;
    PSDMLWRITE_INITPARAMS m_writeParams;
    bool m_writeInit = false;
    std::vector<std::unique_ptr<WriteLayer>> m_writeLayers;
    bool m_mergedGiven = false;
    const unsigned char* m_merged[5] = {};
    uint32_t m_mergedStride = 0;
    MergedSource m_mergedSource;
};
