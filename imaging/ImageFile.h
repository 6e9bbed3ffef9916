// Picture files as a whole, through the codecs: the one way the tools and
// the stand-in host read and write PNG, JPEG and PSD files.
//
// CQNF_ImageFile::Load reads a file, tells its kind by its signature and
// decodes it (a PSD: its merged image) into the codec's planes. A PSD is
// judged whole, its layers too: one whose layers are damaged is refused
// here, so that no program opens it from its merged image. A photo (a
// PNG or JPEG) comes upright by its EXIF orientation, as editors show it:
// this is the one rule for every program that reads a picture, and the
// resolution the file names is turned with it. CMYK always
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
    // How much of a PSD LoadHeader reads. Whole: all of it, judged whole
    // as Load judges it (one damaged in its layers or merged image is
    // refused), for a caller that goes on to open it. Opening: its header,
    // colour data and image resources alone, judged as Load judges them,
    // for a caller that wants only what they say: its memory and time do
    // not grow with the pixels.
    enum class PsdRead : uint8_t { Whole, Opening };

    // The same without decoding: what the headers say (kind, upright size,
    // mode, transparency, orientation, resolution), with the same refusals
    // for a picture the headers refuse. Only the bytes before the picture's
    // data are read; a PSD as psd says. No plane is made. maxBytes is the
    // memory decoding would be allowed: a caller that never decodes the
    // picture (it wants only its size) lifts it, so that only maxSide holds.
    bool LoadHeader(const std::string& path, uint8_t kinds = AllKinds, uint32_t maxSide = 65535,
                    uint64_t maxBytes = qntCODECLIMITS{}.maxBytes, PsdRead psd = PsdRead::Whole);
    Failure GetFailure() const { return m_failure; }
    // The last failure as a one-line reason that names the file and the
    // cause the codec found, else the words of core/ErrorWords.h:
    // "in.png: PNG file is truncated".
    const std::string& Reason() const { return m_reason; }

    // The kind a file's signature names (0: none, or unreadable).
    static uint8_t KindOfFile(const std::string& path);

    uint8_t GetKind() const { return m_kind; }
    // "PNG", "JPEG", "PSD" (empty before a Load).
    const char* GetKindName() const;
    // The size upright (a quarter turn swaps the stored width and height).
    uint16_t GetWidth() const { return m_width; }
    uint16_t GetHeight() const { return m_height; }
    // The EXIF orientation (1..8) the photo was turned upright by; 1 for
    // none and for a PSD.
    int GetOrientation() const { return m_orientation; }
    // Pixels per inch across and down the picture as it comes (upright),
    // as qnTakenResolution takes what the file names: 72 where it names
    // none.
    double GetResolutionX() const { return m_resolutionX; }
    double GetResolutionY() const { return m_resolutionY; }
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
    // Opens path and makes the reader its kind asks for; false with the
    // failure set.
    bool i_Open(const std::string& path, uint8_t kinds, uint32_t maxSide, uint64_t maxBytes, CQNF_StdFile& file);
    // The facts of the file's headers (the local copy), and the upright size.
    void i_ReadFacts();
    // Turns the decoded planes upright; false without memory.
    bool i_TurnUpright();
    // "in.png: PNG file is truncated" after a refusal.
    std::string i_Unreadable(const std::string& path, unsigned short error) const;
    // Fails with what the reader refused the header for.
    bool i_HeaderRefused(const std::string& path);

    std::unique_ptr<CQNF_ImageReader> m_reader;
    Failure m_failure = Failure::None;
    std::string m_reason;
    uint8_t m_kind = 0;
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_mode = 0;
    bool m_hasAlpha = false;
    int m_orientation = 1;
    double m_resolutionX = 0.0;
    double m_resolutionY = 0.0;
};

// The resolution a picture with none is taken at, in pixels per inch.
inline constexpr double kQnNoResolution = 72.0;
// The resolutions, across and down in pixels per inch, a picture is taken
// at for the ones its file names: one under 1 (0 above all) names none and
// takes the other's; with neither, both are kQnNoResolution. Every reader's
// resolution goes through it, and every PNG written.
void qnTakenResolution(double& x, double& y);

// Saves decoded planes as a PNG at path, at resolutionX x resolutionY pixels
// per inch (taken by qnTakenResolution):
// colour (codec mode 1) and CMYK
// (mode 3, in the inverted form above) become RGB, grey (mode 2) grey; with
// alphaChannel an alpha channel is added (alpha null reads as opaque),
// without it alpha is ignored. planes holds the channels in the file's order
// (null channels read as 0). Returns false with the codec's or file's number
// in error. These are the pictures saved for a user (the tools' and the
// stand-in host's outputs): written fast (PNGWRITE_PARAMS::Speed::Fast).
bool qnCodecSavePNG(const char* path, uint16_t width, uint16_t height, uint8_t codecMode,
                    const unsigned char* const planes[4], const unsigned char* alpha, uint32_t stride,
                    double resolutionX, double resolutionY, const char* product, unsigned short& error,
                    bool alphaChannel = true);
// The same at one resolution both ways.
bool qnCodecSavePNG(const char* path, uint16_t width, uint16_t height, uint8_t codecMode,
                    const unsigned char* const planes[4], const unsigned char* alpha, uint32_t stride,
                    double resolution, const char* product, unsigned short& error, bool alphaChannel = true);

// Saves an RGB or RGBA image (1 otherwise) as an RGB or RGBA PNG at 72 ppi.
bool qnSaveImagePNG(const char* path, CQNF_Image& image, const char* product, unsigned short& error);
