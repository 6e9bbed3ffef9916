// CQNF_ImageFX: the filter engine behind every piece effect.
//
// An engine is bound to a source and a destination, each a set of up to five
// 8-bit planes sharing one row stride and one size, and then runs one filter
// at a time from the source into the destination:
//   blurs         GaussianBlur, MotionBlur                  (ImageFX_Blur.cpp)
//   tone, colour  Invert, ColorOverlay, Combine_DonStoD, BrightnessContrast,
//                 HSLCorrection, HSLColorize, ConvertSourceToGray
//                                                           (ImageFX_Tone.cpp)
//   relief        Bevel, StrokeInside                       (ImageFX_Bevel.cpp)
//   geometry      Tile, Resize, Resize_Int_ZO, ApplyConvolutionMask and the
//                 three sharpening masks                    (ImageFX_Resample.cpp)
//
// Plane order is the image's: red, green, blue (or one grey plane), then
// alpha when the alpha flag is set. The colour planes are the first
// (channels - alpha flag) planes.
//
// Every filter returns 1 on success and 0 on failure with the reason in the
// engine's error number: 1 for a bad argument (source and destination that
// differ in channel count, width or height; values out of range; NaN), or the
// error number of a work block that could not be had (17).
//
// Pixel bytes computed in floating point are converted to single precision
// and truncated toward zero. The fast kernels (many lines of a blur at once,
// lookup tables for the tone filters) give the same bytes as the line-by-line
// formulas; the tests hold them to slow references.
//
// The engine keeps its work blocks between calls and only grows them, so the
// same filter on pieces of similar size does not allocate again.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/Types.h"

#include <cstdint>

class CQNF_Image;
class CQNF_Progress;

class CQNF_ImageFX : public CQNF_FrameWork {
public:
    static constexpr int kMaxPlanes = 5;
    // The largest blur sigma (and motion distance) taken. Beyond it the
    // padding of every line (seven sigma) costs more than any picture a host
    // hands over, and the result is an even grey long before; larger values
    // are refused as bad arguments instead of running for minutes.
    static constexpr double kMaxBlurSigma = 4096.0;

    // State of the one-dimensional blur (Blur_PrepareBlurData/Blur_BlurVector).
    struct STRUCT_Blur_VectorData {
        double B1 = 0.0, B2 = 0.0, B3 = 0.0, B = 0.0;  // recursive coefficients
        uint32_t length = 0;                           // samples in the line
        double* line = nullptr;                        // blurred in place
        double sigma = 0.0;
        CQNF_Mem* work = nullptr;   // extended line, or the direct kernel's results
        uint8_t constantEdge = 0;   // 1: pad with constantValue, else replicate the ends
        uint8_t constantValue = 0;
        double weights[20] = {};    // direct kernel
        uint8_t direct = 0;         // 1: direct kernel (sigma < 1.5)
        uint16_t halfWidth = 0;     // direct kernel taps on each side, centre included
    };

    // A convolution kernel: weights row by row, width x height cells.
    struct QNFFX_CONVOLUTIONMASK {
        const int16_t* weights = nullptr;
        uint16_t width = 0;
        uint16_t height = 0;
    };

    CQNF_ImageFX() = default;
    ~CQNF_ImageFX() override = default;
    CQNF_ImageFX(const CQNF_ImageFX&) = delete;
    CQNF_ImageFX& operator=(const CQNF_ImageFX&) = delete;

    // ---- Binding -------------------------------------------------------
    // Plane-pointer lists: the first `channels` pointers are kept (the planes
    // themselves are not copied). More than five planes, a missing plane
    // pointer, an alpha flag on no planes or a stride shorter than a row give
    // error 1, return 0 and leave the side unbound.
    int SetSource(uint8_t** planes, uint32_t stride, uint8_t channels, uint8_t alphaFlag, uint16_t width,
                  uint16_t height);
    int SetDestination(uint8_t** planes, uint32_t stride, uint8_t channels, uint8_t alphaFlag, uint16_t width,
                       uint16_t height);
    // Planes back to back from base: plane p starts at base + p * stride * height.
    int SetSource(uint8_t* base, uint32_t stride, uint8_t channels, uint8_t alphaFlag, uint16_t width,
                  uint16_t height);
    int SetDestination(uint8_t* base, uint32_t stride, uint8_t channels, uint8_t alphaFlag, uint16_t width,
                       uint16_t height);
    // Planes as SetSource takes them, the last the alpha plane at a row
    // stride of its own (a piece's colours in the image it was cut from,
    // its mask apart). Only Bevel reads such a source; every other filter
    // refuses it with error 1.
    int SetSourceWithAlphaStride(uint8_t** planes, uint32_t stride, uint32_t alphaStride, uint8_t channels,
                                 uint16_t width, uint16_t height);
    // An image's own planes with stride = width and the channel layout of its mode.
    int SetSource(CQNF_Image* image);
    int SetDestination(CQNF_Image* image);
    void GetDestination(uint8_t** planes, uint32_t& stride, uint8_t& channels, uint8_t& alphaFlag, int32_t& width,
                        int32_t& height) const;

    // Byte written into the margins by Resize and Resize_Int_ZO (0 by default).
    void SetFillByte(uint8_t value) { m_fillByte = value; }
    uint8_t GetFillByte() const { return m_fillByte; }
    // Progress for Tile and Resize (not owned; null: no reports, no cancel).
    void SetProgress(CQNF_Progress* progress) { m_progress = progress; }
    CQNF_Progress* GetProgress() const { return m_progress; }

    // ---- Blurs (ImageFX_Blur.cpp) -----------------------------------------
    // sigma < 0.1 copies every plane. blurAlpha 0 copies the alpha plane;
    // recoverTransparent fills the colour under transparent pixels from their
    // visible neighbours before the horizontal pass (the colour planes only:
    // an alpha plane filled that way would spread every shape to the ends
    // of its rows).
    int GaussianBlur(double sigma, uint8_t blurAlpha, uint8_t recoverTransparent);
    // angle in degrees (0 horizontal, 90 vertical, between them lines rising to
    // the right on screen), distance = the sigma along the line. A NaN or
    // infinite angle is refused; any finite one folds into 0..180 at once.
    // Off the axes each pixel, once its line is blurred, takes the share of
    // its neighbour along the line (the neighbour's stored byte) that its
    // line sits off the pixel grid.
    int MotionBlur(double angle, double distance, uint8_t blurAlpha, uint8_t recoverTransparent);

    // ---- Tone and colour (ImageFX_Tone.cpp) -------------------------------
    int Invert();
    // colour: one byte per colour plane. Opacity 255 fills with the colour.
    int ColorOverlay(const uint8_t* colour, uint8_t opacity);
    // Composites the overlay the caller put in the destination over the source.
    int Combine_DonStoD(uint8_t opacity);
    int BrightnessContrast(int8_t brightness, int8_t contrast, uint8_t mid);
    int HSLCorrection(int16_t hue, int16_t saturation, int16_t lightness, uint8_t lightnessFirst);
    int HSLColorize(uint16_t hue, int16_t saturation, int16_t lightness, uint8_t lightnessFirst);
    // In place on the source's three colour planes; 0 (no error) for any other layout.
    int ConvertSourceToGray();

    // ---- Relief (ImageFX_Bevel.cpp) ---------------------------------------
    // Colours: one byte per colour plane.
    int Bevel(uint16_t size, uint16_t depth, double soften, qnt3D_VECTOR light, const uint8_t* highlightColour,
              uint8_t highlightOpacity, const uint8_t* shadowColour, uint8_t shadowOpacity);
    int StrokeInside(const uint8_t* colour, uint8_t opacity, uint8_t size);

    // ---- Geometry and convolution (ImageFX_Resample.cpp) -------------------
    int Tile();
    int Resize(uint8_t keepAspect);
    int Resize_Int_ZO(uint8_t keepAspect);
    int ApplyConvolutionMask(QNFFX_CONVOLUTIONMASK mask, uint8_t processAlpha);
    int filter_UnsharpenMaskDelicate(uint8_t processAlpha);
    int filter_UnsharpenMaskNormal(uint8_t processAlpha);
    int filter_UnsharpenMaskMore(uint8_t processAlpha);

    // ---- Shared helpers ----------------------------------------------------
    // Kernel preparation for sigma with the replicate edge rule, or the
    // constant rule with value c. Grows nothing; always returns 1.
    static int Blur_PrepareBlurData(double sigma, STRUCT_Blur_VectorData* data, CQNF_Mem* work,
                                    uint8_t constantEdge, uint8_t constantValue);
    // Blurs data->line (data->length doubles) in place, one sample after the
    // other. Returns 0 with the work block's error when it cannot grow.
    static int Blur_BlurVector(STRUCT_Blur_VectorData* data);
    static int Blur_BlurVectorHQ(STRUCT_Blur_VectorData* data);
    // Gives transparent pixels (alpha 0) of a line of colour values the
    // values of their visible neighbours; an all-transparent line becomes 128.
    static void Blur_ZeroAlphaRecoveryData(uint8_t* values, const uint8_t* alpha, uint32_t count);
    // A (2r+1)-square matrix of the coverage of a disc of radius r, sampled
    // (1 << shift)-fold per axis; the block is grown to hold it. 0 on failure.
    static int Stroke_FillCircleMatrix(CQNF_Mem* matrix, uint8_t radius, uint8_t shift);
    // Colour model conversions (hue in degrees, lightness and saturation 0..1).
    static void Color_RGB2HLS(uint8_t r, uint8_t g, uint8_t b, double& h, double& l, double& s);
    static void Color_HLS2RGB(double h, double l, double s, uint8_t& r, uint8_t& g, uint8_t& b);
    static uint8_t Color_CorrectLightness(uint8_t value, int lightness);

private:
    struct Desc {
        uint8_t* base = nullptr;
        uint8_t* planes[kMaxPlanes] = {};
        uint32_t stride = 0;
        uint32_t alphaStride = 0;  // the alpha plane's, stride but for SetSourceWithAlphaStride
        int32_t width = 0;
        int32_t height = 0;
        uint8_t channels = 0;
        uint8_t alpha = 0;

        int ColourPlanes() const { return channels - alpha; }
        uint8_t* AlphaPlane() const { return alpha ? planes[channels - 1] : nullptr; }
        uint32_t Stride(int p) const { return alpha && p == channels - 1 ? alphaStride : stride; }
    };

    int i_Bind(Desc& d, uint8_t** planes, uint32_t stride, uint8_t channels, uint8_t alphaFlag, uint16_t width,
               uint16_t height);
    int i_BindBase(Desc& d, uint8_t* base, uint32_t stride, uint8_t channels, uint8_t alphaFlag, uint16_t width,
                   uint16_t height);
    int i_BindImage(Desc& d, CQNF_Image* image);
    // The common rule: same channel count, width and height (error 1 otherwise).
    // Source and destination of one shape; a source whose alpha has a stride
    // of its own only where the filter reads it so (error 1 otherwise).
    bool i_SameShape(bool alphaStrideRead = false);
    // False, with error 1, for a source whose alpha has a stride of its own.
    bool i_OneStride();
    // Copies plane p of the source to the destination, row by row.
    void i_CopyPlane(int p);
    // Rows [y0, y1) of it.
    void i_CopyPlaneRows(int p, int32_t y0, int32_t y1);
    void i_CopyAllPlanes();
    void i_CopyAlphaPlane();
    // Makes the block hold at least bytes bytes (contents not kept); null and
    // the block's error in the engine when it cannot.
    unsigned char* i_Grow(CQNF_Mem& block, uint64_t bytes);
    // Reports through the attached progress; true when the caller must stop.
    bool i_Report(uint8_t percent);

    // Blur internals (ImageFX_Blur.cpp).
    bool i_BlurRows(const STRUCT_Blur_VectorData& kd, const uint8_t* src, uint32_t srcStride, uint8_t* dst,
                    uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride, int32_t width, int32_t height);
    bool i_BlurColumns(const STRUCT_Blur_VectorData& kd, const uint8_t* src, uint32_t srcStride, uint8_t* dst,
                       uint32_t dstStride, const uint8_t* alpha, uint32_t alphaStride, int32_t width,
                       int32_t height);
    bool i_MotionAngle(const STRUCT_Blur_VectorData& kd, double angle, uint8_t blurAlpha, uint8_t recover);

    int i_Sharpen(int16_t centre, uint8_t processAlpha);
    int i_ResizeCopy();

    // Work blocks: the blurs' line and lane buffers; the front-pad states of
    // the recursive filter; the angled motion blur's offsets, fractions, line
    // and gathered values; the bevel's height, highlight and shadow maps.
    CQNF_Mem m_memBlurLine;
    CQNF_Mem m_memBlurWork;
    CQNF_Mem m_memMotionOffsets;
    CQNF_Mem m_memMotionFracs;
    CQNF_Mem m_memMotionLine;
    CQNF_Mem m_memMotionGather;
    uint8_t m_fillByte = 0;
    CQNF_Progress* m_progress = nullptr;
    Desc m_src;
    Desc m_dst;
    CQNF_Mem m_memBevelHeight;
    CQNF_Mem m_memBevelHigh;
    CQNF_Mem m_memBevelShadow;
};
