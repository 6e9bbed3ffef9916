// "fx NAME [ARGS] IN.png OUT.png": runs one filter of the filter engine on a
// PNG picture, so that a person can look at each effect.
//
// The picture is read as RGB, or RGBA when it carries transparency (--grey
// reads one grey plane, with alpha when present). The result replaces OUT.png
// only once it is complete, so a failed run never leaves half a file. --time
// prints the filter's own time (best of --repeat N runs) on stderr;
// bench/compare uses it.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/PictureLimits.h"
#include "core/String.h"
#include "imaging/ImageFX.h"
#include "imaging/ImageFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* kName = "fx";

// ---- PNG in and out ----------------------------------------------------------

struct Picture {
    int w = 0;
    int h = 0;
    int channels = 0;  // colour planes + alpha
    bool alpha = false;
    std::vector<uint8_t> data;  // planes back to back
    uint8_t* planes[5] = {};

    void Allocate(int width, int height, int ch, bool hasAlpha)
    {
        w = width;
        h = height;
        channels = ch;
        alpha = hasAlpha;
        data.assign(static_cast<size_t>(w) * h * ch, 0);
        for (int p = 0; p < 5; ++p)
            planes[p] = p < ch ? data.data() + static_cast<size_t>(p) * w * h : nullptr;
    }
};

// The file's planes as RGB, or one grey plane, plus its alpha when it carries
// transparency. A grey file read as colour gives three equal planes; a colour
// file read as grey weighs its channels by their share of brightness
// (0.2126, 0.7152, 0.0722 in fifteen bits).
bool ReadPng(const std::string& path, bool grey, Picture& pic, std::string& error)
{
    CQNF_ImageFile file;
    if (!file.Load(path, CQNF_ImageFile::KindPNG)) {
        error = file.Reason();
        return false;
    }
    const bool hasAlpha = file.HasAlpha();
    const int colours = grey ? 1 : 3;
    pic.Allocate(file.GetWidth(), file.GetHeight(), colours + (hasAlpha ? 1 : 0), hasAlpha);
    const size_t n = static_cast<size_t>(pic.w) * pic.h;
    const bool fileGrey = file.GetMode() == qncodec::ModeGrey;
    const uint8_t* in[3] = {file.GetPlane(0), file.GetPlane(fileGrey ? 0 : 1), file.GetPlane(fileGrey ? 0 : 2)};
    if (grey && !fileGrey) {
        for (size_t i = 0; i < n; ++i)
            pic.planes[0][i] =
                static_cast<uint8_t>((6968u * in[0][i] + 23434u * in[1][i] + 2366u * in[2][i] + 16384u) >> 15);
    } else {
        for (int p = 0; p < colours; ++p)
            std::memcpy(pic.planes[p], in[p], n);
    }
    if (hasAlpha)
        std::memcpy(pic.planes[colours], file.GetPlane(qncodec::PlaneAlpha), n);
    return true;
}

bool WritePng(const std::string& path, const Picture& pic, std::string& error)
{
    const int colours = pic.channels - (pic.alpha ? 1 : 0);
    const unsigned char* planes[4] = {pic.planes[0], pic.planes[1], pic.planes[2], nullptr};
    unsigned short code = 0;
    if (!qnCodecSavePNG(path.c_str(), static_cast<uint16_t>(pic.w), static_cast<uint16_t>(pic.h),
                        colours == 1 ? qncodec::ModeGrey : qncodec::ModeColour, planes,
                        pic.alpha ? pic.planes[colours] : nullptr, static_cast<uint32_t>(pic.w), 72.0, "tessolo-tool",
                        code, pic.alpha)) {
        error = qnFileFailure(path, true, code);
        return false;
    }
    return true;
}

// ---- Arguments --------------------------------------------------------------

// A blur's sigma or distance: from nothing to the largest the filters take.
double Spread(const std::string& s, const char* what)
{
    return tool::RealNumber(s, what, 0.0, CQNF_ImageFX::kMaxBlurSigma);
}

// LX,LY,LZ: three numbers, not all zero (a light without a direction).
qnt3D_VECTOR Light(const std::string& s)
{
    const size_t c1 = s.find(','), c2 = c1 == std::string::npos ? c1 : s.find(',', c1 + 1);
    if (c2 == std::string::npos || s.find(',', c2 + 1) != std::string::npos)
        throw tool::BadArgument("expected the light as LX,LY,LZ, got '" + s + "'");
    const qnt3D_VECTOR light{float(tool::RealNumber(s.substr(0, c1), "LX", -1e6, 1e6)),
                             float(tool::RealNumber(s.substr(c1 + 1, c2 - c1 - 1), "LY", -1e6, 1e6)),
                             float(tool::RealNumber(s.substr(c2 + 1), "LZ", -1e6, 1e6))};
    if (light.x == 0.0f && light.y == 0.0f && light.z == 0.0f)
        throw tool::BadArgument("the light LX,LY,LZ needs a direction, not 0,0,0");
    return light;
}

long Integer(const std::string& s, const char* what, long lo, long hi)
{
    int64_t v = 0;
    if (!qnParseInteger(s, lo, hi, v))
        throw tool::BadArgument(std::string(what) + " must be an integer from " + std::to_string(lo) + " to " +
                                std::to_string(hi) + ", got '" + s + "'");
    return static_cast<long>(v);
}

// RRGGBB (or a grey byte in decimal) into one byte per colour plane.
std::vector<uint8_t> Colour(const std::string& s, int colours)
{
    std::vector<uint8_t> c(std::max(colours, 3));
    if (s.size() == 6 && s.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        const unsigned long v = std::strtoul(s.c_str(), nullptr, 16);
        c[0] = static_cast<uint8_t>(v >> 16);
        c[1] = static_cast<uint8_t>(v >> 8);
        c[2] = static_cast<uint8_t>(v);
        if (colours == 1)
            c[0] = static_cast<uint8_t>((c[0] + c[1] + c[2]) / 3);
        return c;
    }
    throw tool::BadArgument("expected a colour RRGGBB, got '" + s + "'");
}

// A size typed for the output is checked before anything is allocated; one
// no picture may have is a wrong command line.
void CheckOutputSize(int w, int h, int channels)
{
    std::string error;
    if (!qnCheckPictureSize(uint64_t(w), uint64_t(h), uint64_t(channels), error))
        throw tool::BadArgument(error);
}

struct Options {
    bool grey = false;
    bool time = false;
    int repeat = 1;
    bool blurAlpha = false;
    bool recover = true;
    bool keepAspect = false;
};

struct Filter {
    const char* name;
    const char* args;  // usage of the arguments between NAME and IN.png
    size_t count;      // number of those arguments
    // Prepares what the filter needs (may resize the destination) and
    // returns the call that runs it.
    std::function<std::function<int(CQNF_ImageFX&)>(const std::vector<std::string>&, const Picture& src,
                                                     Picture& dst, const Options&)>
        make;
    bool colour = false;  // changes hue or saturation: there must be colour planes
};

// The options a filter makes use of besides --grey, --time and --repeat:
// any other would change nothing.
std::vector<std::string> OwnOptions(const std::string& filter)
{
    if (filter == "gauss" || filter == "motion")
        return {"--blur-alpha", "--no-recover"};
    if (filter == "convolution" || filter == "sharpen")
        return {"--blur-alpha"};
    if (filter == "resize" || filter == "resizezo")
        return {"--keep-aspect"};
    return {};
}

using Call = std::function<int(CQNF_ImageFX&)>;

std::vector<Filter> Filters()
{
    std::vector<Filter> f;
    f.push_back({"gauss", "SIGMA", 1, [](auto& a, auto&, auto&, const Options& o) -> Call {
                     const double s = Spread(a[0], "SIGMA");
                     return [=](CQNF_ImageFX& fx) { return fx.GaussianBlur(s, o.blurAlpha, o.recover); };
                 }});
    f.push_back({"motion", "ANGLE DISTANCE", 2, [](auto& a, auto&, auto&, const Options& o) -> Call {
                     // Every direction lies within a turn either way.
                     const double an = tool::RealNumber(a[0], "ANGLE", -360.0, 360.0);
                     const double d = Spread(a[1], "DISTANCE");
                     return [=](CQNF_ImageFX& fx) { return fx.MotionBlur(an, d, o.blurAlpha, o.recover); };
                 }});
    f.push_back({"bevel", "SIZE DEPTH SOFTEN LX,LY,LZ HIGHLIGHT_OPACITY SHADOW_OPACITY", 6,
                 [](auto& a, const Picture& src, auto&, const Options&) -> Call {
                     const uint16_t size = static_cast<uint16_t>(Integer(a[0], "SIZE", 0, 65535));
                     const uint16_t depth = static_cast<uint16_t>(Integer(a[1], "DEPTH", 0, 65535));
                     const double soften = Spread(a[2], "SOFTEN");
                     const qnt3D_VECTOR light = Light(a[3]);
                     const uint8_t ho = static_cast<uint8_t>(Integer(a[4], "HIGHLIGHT_OPACITY", 0, 255));
                     const uint8_t so = static_cast<uint8_t>(Integer(a[5], "SHADOW_OPACITY", 0, 255));
                     const int colours = src.channels - (src.alpha ? 1 : 0);
                     const std::vector<uint8_t> white(std::max(colours, 1), 255), black(std::max(colours, 1), 0);
                     return [=](CQNF_ImageFX& fx) {
                         return fx.Bevel(size, depth, soften, light, white.data(), ho, black.data(), so);
                     };
                 }});
    f.push_back({"stroke", "SIZE OPACITY RRGGBB", 3, [](auto& a, const Picture& src, auto&, const Options&) -> Call {
                     // A stroke of no width draws nothing: no command asks for it.
                     const uint8_t size = static_cast<uint8_t>(Integer(a[0], "SIZE", 1, 255));
                     const uint8_t op = static_cast<uint8_t>(Integer(a[1], "OPACITY", 0, 255));
                     const std::vector<uint8_t> c = Colour(a[2], src.channels - (src.alpha ? 1 : 0));
                     if (!src.alpha)
                         throw std::runtime_error("stroke draws inside the edge of the picture's transparency, and "
                                                  "the picture has none");
                     return [=](CQNF_ImageFX& fx) { return fx.StrokeInside(c.data(), op, size); };
                 }});
    f.push_back({"hsl", "HUE SATURATION LIGHTNESS", 3, [](auto& a, auto&, auto&, const Options&) -> Call {
                     const int16_t hh = static_cast<int16_t>(Integer(a[0], "HUE", -180, 180));
                     const int16_t s = static_cast<int16_t>(Integer(a[1], "SATURATION", -100, 100));
                     const int16_t l = static_cast<int16_t>(Integer(a[2], "LIGHTNESS", -100, 100));
                     return [=](CQNF_ImageFX& fx) { return fx.HSLCorrection(hh, s, l, 1); };
                 }, true});
    f.push_back({"colorize", "HUE SATURATION LIGHTNESS", 3, [](auto& a, auto&, auto&, const Options&) -> Call {
                     const uint16_t hh = static_cast<uint16_t>(Integer(a[0], "HUE", 0, 360));
                     const int16_t s = static_cast<int16_t>(Integer(a[1], "SATURATION", 0, 100));
                     const int16_t l = static_cast<int16_t>(Integer(a[2], "LIGHTNESS", -100, 100));
                     return [=](CQNF_ImageFX& fx) { return fx.HSLColorize(hh, s, l, 1); };
                 }, true});
    f.push_back({"bc", "BRIGHTNESS CONTRAST", 2, [](auto& a, auto&, auto&, const Options&) -> Call {
                     const int8_t b = static_cast<int8_t>(Integer(a[0], "BRIGHTNESS", -128, 127));
                     const int8_t c = static_cast<int8_t>(Integer(a[1], "CONTRAST", -128, 127));
                     return [=](CQNF_ImageFX& fx) { return fx.BrightnessContrast(b, c, 128); };
                 }});
    f.push_back({"invert", "", 0, [](auto&, auto&, auto&, const Options&) -> Call {
                     return [](CQNF_ImageFX& fx) { return fx.Invert(); };
                 }});
    f.push_back({"gray", "", 0, [](auto&, auto&, auto&, const Options&) -> Call {
                     // Grey in place on the source, then carried to the destination.
                     return [](CQNF_ImageFX& fx) { return fx.ConvertSourceToGray() && fx.BrightnessContrast(0, 0, 128); };
                 }, true});
    f.push_back({"overlay", "RRGGBB OPACITY", 2, [](auto& a, const Picture& src, auto&, const Options&) -> Call {
                     const std::vector<uint8_t> c = Colour(a[0], src.channels - (src.alpha ? 1 : 0));
                     const uint8_t op = static_cast<uint8_t>(Integer(a[1], "OPACITY", 0, 255));
                     return [=](CQNF_ImageFX& fx) { return fx.ColorOverlay(c.data(), op); };
                 }});
    f.push_back({"combine", "OVERLAY.png OPACITY", 2,
                 [](auto& a, const Picture& src, Picture& dst, const Options& o) -> Call {
                     Picture over;
                     std::string error;
                     if (!ReadPng(a[0], o.grey, over, error))
                         throw std::runtime_error(error);
                     if (over.w != src.w || over.h != src.h || over.channels != src.channels)
                         throw std::runtime_error("the overlay must have the picture's size and planes");
                     const uint8_t op = static_cast<uint8_t>(Integer(a[1], "OPACITY", 0, 255));
                     auto saved = std::make_shared<std::vector<uint8_t>>(over.data);
                     uint8_t* d = dst.data.data();
                     return [=](CQNF_ImageFX& fx) {
                         std::memcpy(d, saved->data(), saved->size());
                         return fx.Combine_DonStoD(op);
                     };
                 }});
    auto resize = [](bool zo) {
        return [zo](auto& a, const Picture& src, Picture& dst, const Options& o) -> Call {
            const int w = static_cast<int>(Integer(a[0], "WIDTH", 1, 65535));
            const int h = static_cast<int>(Integer(a[1], "HEIGHT", 1, 65535));
            CheckOutputSize(w, h, src.channels);
            dst.Allocate(w, h, src.channels, src.alpha);
            const uint8_t keep = o.keepAspect ? 1 : 0;
            if (zo)
                return [=](CQNF_ImageFX& fx) { return fx.Resize_Int_ZO(keep); };
            return [=](CQNF_ImageFX& fx) { return fx.Resize(keep); };
        };
    };
    f.push_back({"resize", "WIDTH HEIGHT", 2, resize(false)});
    f.push_back({"resizezo", "WIDTH HEIGHT", 2, resize(true)});
    f.push_back({"tile", "WIDTH HEIGHT", 2, [](auto& a, const Picture& src, Picture& dst, const Options&) -> Call {
                     const int w = static_cast<int>(Integer(a[0], "WIDTH", 1, 65535));
                     const int h = static_cast<int>(Integer(a[1], "HEIGHT", 1, 65535));
                     CheckOutputSize(w, h, src.channels);
                     dst.Allocate(w, h, src.channels, src.alpha);
                     return [](CQNF_ImageFX& fx) { return fx.Tile(); };
                 }});
    f.push_back({"convolution", "W H w0,w1,...", 3, [](auto& a, auto&, auto&, const Options& o) -> Call {
                     const int w = static_cast<int>(Integer(a[0], "W", 1, 255));
                     const int h = static_cast<int>(Integer(a[1], "H", 1, 255));
                     auto weights = std::make_shared<std::vector<int16_t>>();
                     size_t at = 0;
                     const std::string& list = a[2];
                     while (at <= list.size()) {
                         const size_t comma = std::min(list.find(',', at), list.size());
                         weights->push_back(
                             static_cast<int16_t>(Integer(list.substr(at, comma - at), "weight", -32768, 32767)));
                         at = comma + 1;
                     }
                     if (weights->size() != static_cast<size_t>(w) * h)
                         throw tool::BadArgument("expected W x H = " + std::to_string(w * h) + " weights");
                     const uint8_t alpha = o.blurAlpha ? 1 : 0;
                     return [=](CQNF_ImageFX& fx) {
                         CQNF_ImageFX::QNFFX_CONVOLUTIONMASK m;
                         m.weights = weights->data();
                         m.width = static_cast<uint16_t>(w);
                         m.height = static_cast<uint16_t>(h);
                         return fx.ApplyConvolutionMask(m, alpha);
                     };
                 }});
    f.push_back({"sharpen", "delicate|normal|more", 1, [](auto& a, auto&, auto&, const Options& o) -> Call {
                     const uint8_t alpha = o.blurAlpha ? 1 : 0;
                     if (a[0] == "delicate")
                         return [=](CQNF_ImageFX& fx) { return fx.filter_UnsharpenMaskDelicate(alpha); };
                     if (a[0] == "normal")
                         return [=](CQNF_ImageFX& fx) { return fx.filter_UnsharpenMaskNormal(alpha); };
                     if (a[0] == "more")
                         return [=](CQNF_ImageFX& fx) { return fx.filter_UnsharpenMaskMore(alpha); };
                     throw tool::BadArgument("expected delicate, normal or more, got '" + a[0] + "'");
                 }});
    return f;
}

std::string FilterList()
{
    std::string s;
    for (const auto& f : Filters())
        s += (s.empty() ? " " : ", ") + std::string(f.name);
    return s;
}

int Run(const tool::Args& all)
{
    Options o;
    std::vector<std::string> args;
    std::vector<std::string> given;  // the filter's own options, as given
    bool repeat = false;
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string& a = all[i];
        if (a == "--blur-alpha" || a == "--alpha" || a == "--no-recover" || a == "--keep-aspect")
            given.push_back(a);
        if (a == "--grey")
            o.grey = true;
        else if (a == "--time")
            o.time = true;
        else if (a == "--blur-alpha" || a == "--alpha")
            o.blurAlpha = true;
        else if (a == "--no-recover")
            o.recover = false;
        else if (a == "--keep-aspect")
            o.keepAspect = true;
        else if (a == "--repeat")
            o.repeat = static_cast<int>(Integer(tool::OptionValue(all, i), "--repeat", 1, 1000)), repeat = true;
        else if (a.size() > 2 && a[0] == '-' && a[1] == '-')
            return tool::BadArguments(kName, "unknown option " + a);
        else
            args.push_back(a);
    }
    if (args.empty())
        return tool::BadArguments(kName, "expected a filter name; filters:" + FilterList());
    const std::vector<Filter> filters = Filters();
    const auto it = std::find_if(filters.begin(), filters.end(), [&](const Filter& f) { return args[0] == f.name; });
    if (it == filters.end())
        return tool::BadArguments(kName, "unknown filter '" + args[0] + "'; filters:" + FilterList());
    if (args.size() != it->count + 3)
        return tool::BadArguments(kName, std::string("usage: fx ") + it->name + (it->count ? " " : "") + it->args +
                                     " IN.png OUT.png");
    const std::vector<std::string> own = OwnOptions(it->name);
    for (const std::string& g : given)
        if (std::find(own.begin(), own.end(), g == "--alpha" ? "--blur-alpha" : g) == own.end())
            return tool::BadArguments(kName, g + " is not taken by " + it->name + " (see fx " + it->name + " --help)");
    if (repeat && !o.time)
        return tool::BadArguments(kName, "--repeat goes with --time: the runs are repeated to time them");
    if (o.grey && it->colour)
        return tool::BadArguments(kName, std::string(it->name) +
                                             " changes colours, and --grey reads the picture as one grey plane: "
                                             "leave out --grey (a grey picture is read as colour without it)");
    // A file among the filter's own arguments (an overlay) is named as
    // IN.png and OUT.png are when empty.
    tool::RefuseEmptyNames(std::string("fx ") + it->name + " " + it->args + " IN.png OUT.png", args);
    const std::vector<std::string> fargs(args.begin() + 1, args.begin() + 1 + static_cast<long>(it->count));
    const std::string& in = args[args.size() - 2];
    const std::string& out = args[args.size() - 1];
    if (const int refused = tool::RefuseOutput(kName, out, {args.begin() + 1, args.end() - 1}, {".png"}, true))
        return refused;

    Picture src;
    std::string error;
    if (!ReadPng(in, o.grey, src, error))
        return tool::Fail(kName, error);
    Picture dst;
    dst.Allocate(src.w, src.h, src.channels, src.alpha);
    const Call call = it->make(fargs, src, dst, o);
    // The source is kept for repeats: some filters (gray) change it in place.
    const std::vector<uint8_t> original = src.data;

    double best = 1e300;
    for (int r = 0; r < o.repeat; ++r) {
        src.data = original;
        CQNF_ImageFX fx;
        fx.SetSource(src.planes, static_cast<uint32_t>(src.w), static_cast<uint8_t>(src.channels), src.alpha,
                     static_cast<uint16_t>(src.w), static_cast<uint16_t>(src.h));
        fx.SetDestination(dst.planes, static_cast<uint32_t>(dst.w), static_cast<uint8_t>(dst.channels), dst.alpha,
                          static_cast<uint16_t>(dst.w), static_cast<uint16_t>(dst.h));
        const auto t0 = std::chrono::steady_clock::now();
        const int ok = call(fx);
        const auto t1 = std::chrono::steady_clock::now();
        if (!ok) {
            const unsigned e = fx.GetError();
            const std::string why = e == 1 ? "a size, plane layout or value the filter refuses"
                                           : qnErrorWords(static_cast<unsigned short>(e));
            return tool::Fail(kName, std::string(it->name) + " failed: " + why);
        }
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    if (o.time)
        std::fprintf(stderr, "fx %s: %.3f ms\n", it->name, best);
    if (!WritePng(out, dst, error))
        return tool::Fail(kName, error);
    std::fprintf(qnReportStream(out), "%s: %s %d x %d -> %s\n", qnShownName(in).c_str(), it->name, dst.w, dst.h, qnShownName(out).c_str());
    return 0;
}

// One form for each filter with the options it takes, then the notes.
std::string Usage()
{
    std::string usage;
    for (const Filter& f : Filters()) {
        usage += std::string(usage.empty() ? "" : "\n  | ") + "fx " + f.name + (f.count ? " " : "") + f.args +
                 " IN.png OUT.png" + (f.colour ? "" : " [--grey]");
        for (const std::string& option : OwnOptions(f.name))
            usage += " [" + option + "]";
        usage += " [--time [--repeat N]]";
    }
    return usage +
           "\n  --grey reads the picture as one grey plane (with its alpha)\n"
           "  --blur-alpha: gauss, motion, convolution and sharpen change the alpha plane too\n"
           "  --no-recover: gauss and motion leave the colour under transparent pixels as it is\n"
           "    (by default it is filled from their visible neighbours before the blur)\n"
           "  --keep-aspect: resize and resizezo fit the picture into W x H by its own proportions,\n"
           "    centred; the margins are 0 (black, or transparent with alpha)\n"
           "  --time prints the filter's best time of --repeat N runs (1) on standard error";
}

const std::string kUsage = Usage();

tool::Registrar reg({kName, kUsage.c_str(), "run one image filter on a PNG picture", Run});

}  // namespace
