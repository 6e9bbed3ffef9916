// Picture files as a whole, through the codecs: the one way the tools and
// the stand-in host read and write PNG, JPEG and PSD files.
//
// CQNF_ImageFile::Load reads a file, tells its kind by its signature and
// decodes it (a PSD: its merged image) into the codec's planes. CMYK always
// comes in the form PSD and Adobe JPEG files store it (inverted, 255 = no
// ink): a JPEG file that stores ink amounts is turned on loading.
//
// qnCodecSavePNG and qnSaveImagePNG write a PNG through a CQNF_SafeFile, so a
// failure leaves any existing file untouched.
#pragma once

#include "core/ErrorManager.h"
#include "imaging/CodecFormat.h"

#include <cstdint>
#include <memory>
#include <string>

class CQNF_Image;

class CQNF_ImageFile : public CQNF_FrameWork {
public:
    // File kinds, also as a mask of the kinds Load accepts.
    static constexpr uint8_t KindPNG = 1;
    static constexpr uint8_t KindJPEG = 2;
    static constexpr uint8_t KindPSD = 4;
    static constexpr uint8_t AllKinds = KindPNG | KindJPEG | KindPSD;

    // Why the last Load failed.
    enum class Failure : uint8_t { None, CannotOpen, TooShort, UnknownKind, TooLarge, Undecodable };

    CQNF_ImageFile();
    ~CQNF_ImageFile() override;
    CQNF_ImageFile(const CQNF_ImageFile&) = delete;
    CQNF_ImageFile& operator=(const CQNF_ImageFile&) = delete;

    // Loads a file of one of the kinds asked for, no wider or taller than
    // maxSide. False with GetFailure(), Reason() and the error number (the
    // file's, or the codec's: see imaging/CodecFormat.h).
    bool Load(const std::string& path, uint8_t kinds = AllKinds, uint32_t maxSide = 65535);
    Failure GetFailure() const { return m_failure; }
    // The last failure as a one-line reason that names the file and the
    // cause the codec found, else the words of core/ErrorWords.h:
    // "in.png: PNG file is truncated (error 49)".
    const std::string& Reason() const { return m_reason; }

    // The kind a file's signature names (0: none, or unreadable).
    static uint8_t KindOfFile(const std::string& path);

    uint8_t GetKind() const { return m_kind; }
    // "PNG", "JPEG", "PSD" (empty before a Load).
    const char* GetKindName() const;
    uint16_t GetWidth() const { return m_width; }
    uint16_t GetHeight() const { return m_height; }
    // qncodec::ModeColour, ModeGrey or ModeCMYK.
    uint8_t GetMode() const { return m_mode; }
    // Whether the file carries transparency (a PNG alpha channel or
    // transparent colour).
    bool HasAlpha() const { return m_hasAlpha; }
    // Plane -1 (alpha: a PNG's always, 255 where it has none; null for the
    // other kinds) to 3; null where there is no such plane. Rows are
    // GetWidth() bytes apart.
    unsigned char* GetPlane(signed char index) const;
    // The codec that read the file (CQNF_ImagePNG, CQNF_ImageJPEG or
    // CQNF_ImagePSD by GetKind()), holding the file's bytes: a PSD's layers
    // are read from it with LParseLocal. Null before a Load.
    CQNF_ImageReader* GetReader() const { return m_reader.get(); }

private:
    bool i_Fail(Failure failure, const std::string& reason, unsigned short error);

    std::unique_ptr<CQNF_ImageReader> m_reader;
    Failure m_failure = Failure::None;
    std::string m_reason;
    uint8_t m_kind = 0;
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_mode = 0;
    bool m_hasAlpha = false;
};

// Saves decoded planes as a PNG at path: colour (codec mode 1) and CMYK
// (mode 3, in the inverted form above) become RGB, grey (mode 2) grey; with
// alphaChannel an alpha channel is added (alpha null reads as opaque),
// without it alpha is ignored. planes holds the channels in the file's order
// (null channels read as 0). Returns false with the codec's or file's number
// in error. These are the pictures saved for a user (the tools' and the
// stand-in host's outputs): written fast (PNGWRITE_PARAMS::Speed::Fast).
bool qnCodecSavePNG(const char* path, uint16_t width, uint16_t height, uint8_t codecMode,
                    const unsigned char* const planes[4], const unsigned char* alpha, uint32_t stride,
                    double resolution, const char* product, unsigned short& error, bool alphaChannel = true);

// Saves an RGB or RGBA image (1 otherwise) as an RGB or RGBA PNG at 72 ppi.
bool qnSaveImagePNG(const char* path, CQNF_Image& image, const char* product, unsigned short& error);
