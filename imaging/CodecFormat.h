// The image codec framework: what every codec knows about an image, decoding
// from bytes, and encoding into an open file.
//
//   CQNF_ImageFormat   size, codec mode, depth, comment texts, decoded planes
//                      (-1 alpha, 0..3 channels in the file's order) and the
//                      progress reporter.
//   CQNF_ImageReader   decoding from a pointer, a memory block or a file; a
//                      codec supplies only the two pointer forms, the others
//                      chain to them.
//   CQNF_ImageWriter   encoding into a caller's open CQNF_StdFile, with
//                      positioned writes so earlier length fields can be
//                      patched while the rest is written at the end.
//
// Reader and writer derive virtually from the format, so a codec that does
// both (PSD, PNG) holds one format part.
//
// Readers trust nothing in the data: every length, count and extent is
// checked against the bytes present, and the limits below cap what a hostile
// header can make a decoder allocate. Failures return false and leave the
// reason in the codec's error number (CQNF_ErrorManager):
//   1   a writer without an open, writable file, or an argument the writer
//       cannot take (mode, size, missing planes)
//   17  no memory
//   48  an image kind the codec does not support (mode, depth, compression,
//       blend mode, or larger than the limits)
//   49  not a file of the codec's format, or corrupt or truncated data
//   any the file's or a memory block's own number when one of them fails
// A 48 or 49 comes with GetReason() where the codec can tell more than the
// number: what is not read or too large, or whether the data is truncated
// or damaged, and where. A cancelled operation returns false and leaves the
// error number at 0.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/Progress.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "core/Types.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The codecs' own mode numbers (not CQNF_Image's modes).
namespace qncodec {
inline constexpr uint8_t ModeColour = 1;  // three channels: RGB
inline constexpr uint8_t ModeGrey = 2;    // one channel
inline constexpr uint8_t ModeCMYK = 3;    // four channels

// Plane indices of the decoded data.
inline constexpr signed char PlaneAlpha = -1;

// Positioned writes: "write at the current position" / "only ask".
inline constexpr uint32_t CurrentPos = 0xFFFFFFFF;

// Error numbers shared by the codecs (the core's numbers, named for codecs).
inline constexpr unsigned short ErrArgument = qnerr::BadArgument;
inline constexpr unsigned short ErrMemory = qnerr::NoMemory;
inline constexpr unsigned short ErrUnsupported = qnerr::ImageUnsupported;
inline constexpr unsigned short ErrCorrupt = qnerr::ImageCorrupt;

// The plain conversion of CMYK in plane form (255 = no ink) to RGB where no
// colour management is wanted: each colour plane times the black plane.
inline constexpr unsigned char RGBFromCMYK(unsigned colour, unsigned black)
{
    return static_cast<unsigned char>(colour * black / 255);
}
}  // namespace qncodec

// What one decoding may take. Sizes come from untrusted headers; a request
// beyond a limit is refused (48) before anything is allocated.
struct qntCODECLIMITS {
    // Longest image side a reader accepts (the size fields are 16-bit).
    uint32_t maxSide = 65535;
    // Bytes one decoding may allocate for the picture: its planes, and a
    // second whole copy where a format puts the picture together before
    // splitting it into planes (an interlaced PNG). Buffers of a row or so
    // are not counted, so a picture whose planes take exactly this much is
    // read and one pixel more is refused.
    uint64_t maxBytes = uint64_t{1} << 30;
};

class CQNF_ImageFormat : public CQNF_FrameWork {
public:
    CQNF_ImageFormat() = default;
    CQNF_ImageFormat(const CQNF_ImageFormat&) = delete;
    CQNF_ImageFormat& operator=(const CQNF_ImageFormat&) = delete;
    ~CQNF_ImageFormat() override = default;

    // Always succeeds.
    virtual bool GetMainImageSize(unsigned short& width, unsigned short& height);
    virtual unsigned char GetImageMode();
    virtual unsigned char GetImageBPP();
    // Plane -1 (alpha) to 3 when decoded and not empty, else null.
    virtual CQNF_Mem* GetImageDataMem(signed char index);
    virtual unsigned char* GetImageDataPtr(signed char index);
    // Gives back the decoded planes' memory once they have been used.
    void FreeImageData() { i_FreePlanes(); }
    // No codec fills these; they stay empty.
    virtual CQNF_String GetComments();
    virtual CQNF_String GetEXIF();

    void SetProgress(CQNF_Progress* progress) { m_progress = progress; }
    CQNF_Progress* GetProgress() const { return m_progress; }

    void SetLimits(const qntCODECLIMITS& limits) { m_limits = limits; }
    const qntCODECLIMITS& GetLimits() const { return m_limits; }
    // After a refusal (48): whether the picture is larger than the limits.
    bool OverLimits() const { return m_overLimits; }

protected:
    // One reporting point: report, then ask for cancellation. False when
    // the operation must stop (cancelled).
    bool i_Report(uint8_t percent);
    // The same with the cancellation check first (the PNG writer's order).
    bool i_CheckThenReport(uint8_t percent);
    // Releases every decoded plane.
    void i_FreePlanes();
    CQNF_Mem& i_Plane(signed char index) { return m_data[index + 1]; }
    // Clears the error number and the reason, as every operation starts.
    void i_Begin()
    {
        ResetError();
        m_reason.clear();
        m_overLimits = false;
    }
    // True when a decoding of the given total may proceed; else error 48
    // with the reason (too many pixels a side, or too many bytes), or 49 for
    // a picture without pixels.
    bool i_WithinLimits(uint64_t width, uint64_t height, uint64_t bytes);
    // Error 49 with a reason: "truncated" (the data ends before the picture
    // does), with where it ends when given; "damaged: what".
    bool i_Truncated(const std::string& where = std::string());
    bool i_Damaged(const std::string& what);
    // Error 48 with what is not read.
    bool i_Refuse(std::string reason);

    std::string m_reason;
    bool m_overLimits = false;

    CQNF_Progress* m_progress = nullptr;
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_mode = 0;
    uint8_t m_depth = 0;
    CQNF_String m_comments;
    CQNF_String m_exif;
    CQNF_Mem m_data[5];
    qntCODECLIMITS m_limits;
};

class CQNF_ImageReader : public virtual CQNF_ImageFormat {
public:
    CQNF_ImageReader() = default;
    ~CQNF_ImageReader() override = default;

    // Header only: width, height, mode and depth. The base fails without
    // setting an error; each codec supplies it.
    virtual bool GetImageInfoByPtr(const void* data, size_t size);
    virtual bool GetImageInfoByMem(CQNF_Mem& block);
    virtual bool GetImageInfoByFile(CQNF_StdFile& file);
    virtual bool GetImageInfoLocal();
    // The same from the file's headers alone: only the bytes before the
    // picture's data are read (kept as the local copy, so that what the
    // headers say besides the size can be read from them), and the picture
    // is judged by the limits as a whole read would judge it. A file whose
    // headers cannot be told apart this way is read whole.
    bool GetImageInfoByFileHead(CQNF_StdFile& file);
    // The whole image into the planes. The base fails without an error.
    virtual bool ParseImageByPtr(const void* data, size_t size);
    virtual bool ParseImageByMem(CQNF_Mem& block);
    virtual bool ParseImageByFile(CQNF_StdFile& file);
    virtual bool ParseImageLocal();

    // The file content kept by the last file form.
    CQNF_Mem& GetLocalCopy() { return m_local; }
    // After a refusal: what was met, in words, when the codec says more
    // than its error number; else empty. With 49 it begins "truncated" or
    // "damaged".
    const std::string& GetReason() const { return m_reason; }

protected:
    // Reads the whole file into the local copy. A length of 0 fails with
    // 49 (or the file's number when it has one). The header is judged first
    // (JudgeHeader), so a picture refused by its header, or a file longer
    // than its format can need for that picture (48), costs no more than
    // the header's bytes.
    bool i_LoadFile(CQNF_StdFile& file);
    // Judges the picture from the header read from file, before the file is
    // read whole: false with the error and reason for a picture refused by
    // its header alone (too large for the limits, a kind not read, a
    // damaged header); else true, with largest set to the most bytes a file
    // of the format can take for that picture (left at length when the
    // header cannot tell, so that the decoder judges the file).
    virtual bool JudgeHeader(CQNF_StdFile& file, uint64_t length, uint64_t& largest);
    // The bytes of file (length bytes long) before the picture's data, into
    // the local copy: false when the format's headers cannot be told apart
    // from its data (the base: never), and the file is then read whole.
    virtual bool ReadHeaderBytes(CQNF_StdFile& file, uint64_t length);
    // The opening the last ReadHeaderBytes read, at the file's position 0.
    bool i_ReadOpening(CQNF_StdFile& file, uint64_t size);

    CQNF_Mem m_local;
    // True while the local copy holds only the file's headers: a reader
    // does not judge the file's length by it.
    bool m_headerOnly = false;
};

class CQNF_ImageWriter : public virtual CQNF_ImageFormat {
public:
    CQNF_ImageWriter() = default;
    ~CQNF_ImageWriter() override = default;

    // Binds an open, writable file (not owned); else error 1.
    virtual bool Create(CQNF_StdFile& file);
    // Releases what the writer collected for writing.
    virtual void WriteClean();

    // Returns the current position and, unless position is CurrentPos,
    // moves there. 0xFFFFFFFF without a file, when the move fails, or when
    // the position does not fit 32 bits.
    uint32_t Write_SetPos(uint32_t position);
    // Writes size bytes at position (then returns to where the file was)
    // or, with CurrentPos, at the current position. A short write takes
    // over the file's error number (33 when it has none).
    bool Write_Buffer(const unsigned char* data, size_t size, uint32_t position = qncodec::CurrentPos);
    bool Write_Flush();

    CQNF_StdFile* GetFile() const { return m_file; }

protected:
    CQNF_StdFile* m_file = nullptr;
};

// Placeholder for vector output of paths: nothing is produced yet, every
// operation reports success.
class CQNF_PostScriptGenerator : public CQNF_FrameWork {
public:
    CQNF_PostScriptGenerator() = default;
    ~CQNF_PostScriptGenerator() override = default;

    void Clean();
    bool EPS_AddPath(qntFPOS* points, qntFPOS* controls, unsigned long count);
    bool EPS_GetData(CQNF_String* out);
    bool AI_AddPath(qntFPOS* points, qntFPOS* controls, unsigned long count);
    bool AI_GetData(CQNF_String* out);

private:
    CQNF_String m_text;
    double m_values[4] = {0.0, 0.0, 0.0, 0.0};
};
