// The real programs on the built plug-in: tessolo-host loading the bundle,
// tessolo-mkdesc recording layouts, exit codes and the pictures they give.
#include "core/LibraryFile.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/ZipBlock.h"
#include "hostapp/HostDescriptor.h"
#include "hostapp/HostDocument.h"
#include "hostapp/HostProgram.h"
#include "hostapp/RasterImage.h"
#include "hostapp/PluginLoader.h"
#include "hostapp/StandInHost.h"
#include "host_programs.h"
#include "tests/library_loads.h"
#include "tests/no_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include <dlfcn.h>
#include <elf.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(TESSOLO_PLUGIN_FILE) && defined(TESSOLO_HOST_FILE) && defined(TESSOLO_MKDESC_FILE)

using namespace hostapp;
using namespace host_test;
namespace fs = std::filesystem;

namespace {

void WriteInput(const std::string& path, ColorMode mode, int w, int h, bool alpha)
{
    RasterImage img;
    img.Allocate(mode, w, h, alpha, 255);
    for (size_t p = 0; p < static_cast<size_t>(ColorPlanes(mode)); ++p)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.planes[p][static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(60 + (x + 2 * y + 40 * p) % 150);
    std::string err;
    ASSERT_TRUE(WritePngFile(path, img, err)) << err;
}

RasterImage ReadOutput(const std::string& path)
{
    RasterImage img;
    std::string err;
    EXPECT_TRUE(ReadImageFile(path, img, err)) << err;
    return img;
}

// A descriptor as the plug-in's writer makes one (the block compressed,
// in hexadecimal, one large chunk), whatever bytes the block holds.
std::vector<uint8_t> DescriptorHolding(const std::vector<uint8_t>& block)
{
    CQNF_Mem packed;
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(block.data(), block.size());
    zip.SetDestBlock(&packed);
    zip.SetMode(1);
    EXPECT_TRUE(zip.Process());
    std::vector<uint8_t> text = {'A', 'A', 'A'};
    static const char kHex[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < packed.GetSize(); ++i) {
        text.push_back(static_cast<uint8_t>(kHex[packed.GetPtr()[i] >> 4]));
        text.push_back(static_cast<uint8_t>(kHex[packed.GetPtr()[i] & 15]));
    }
    const int32_t length = static_cast<int32_t>(text.size() - 3);
    text.push_back(0);
    HostDescriptor d;
    d.PutText(FILTER_FOURCC('q', 'n', 'e', '0'), text);
    d.PutInteger(FILTER_FOURCC('q', 'n', 'e', 'S'), 20000000 + length);
    return d.Serialize();
}

int MinInRow(const RasterImage& img, int y, int x0, int x1)
{
    int m = 255;
    for (int x = x0; x < x1; ++x)
        m = std::min<int>(m, img.planes[0][static_cast<size_t>(y) * img.width + x]);
    return m;
}

TEST(PluginRun, TheLibraryExportsOnlyItsEntryFunction)
{
    std::string symbols;
    ASSERT_EQ(RunProgram("nm", std::string("-D --defined-only ") + TESSOLO_PLUGIN_FILE, &symbols), 0) << symbols;
    size_t lines = 0;
    for (size_t pos = 0; pos < symbols.size();) {
        const size_t end = symbols.find('\n', pos);
        const std::string line = symbols.substr(pos, end - pos);
        if (!line.empty()) {
            ++lines;
            EXPECT_NE(line.find(" PluginMain"), std::string::npos) << line;
        }
        pos = end == std::string::npos ? symbols.size() : end + 1;
    }
    EXPECT_EQ(lines, 1u);
}

TEST(PluginRun, ExitCodesTellSuccessCancelAndErrors)
{
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png");
    WriteInput(in, ColorMode::RGB, 32, 24, false);
    std::string text;
    // No settings anywhere: cancelled, and an existing output is left alone.
    ASSERT_EQ(qnReplaceFile(out, "keep", 4), 0);
    EXPECT_EQ(Host(b, in + " " + out, &text), kExitCancelled) << text;
    EXPECT_NE(text.find("cancelled"), std::string::npos);
    EXPECT_NE(text.find("tessolo-mkdesc"), std::string::npos) << text;
    std::vector<uint8_t> kept;
    ASSERT_TRUE(qnReadWholeFile(out, kept, text));
    EXPECT_EQ(kept, (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    // A refused mode or depth is a plug-in error.
    EXPECT_EQ(Host(b, "--image-mode 9 " + in + " " + out, &text), kExitPluginError) << text;
    EXPECT_NE(text.find("does not take the image it was sent"), std::string::npos) << text;
    EXPECT_EQ(Host(b, "--depth 16 " + in + " " + out), kExitPluginError);
    // The dialog and About need a display: without one, or with one that
    // cannot be opened (one no server can answer), one line and a host
    // error that names the display.
    const std::string noServer = nodisplay::kDisplay;
    for (const std::string& road : {"--dialog " + in + " " + out, std::string("--about")})
        for (const auto& [env, says] :
             {std::pair<std::string, std::string>{"env -u DISPLAY ", "DISPLAY is not set"},
              {"env DISPLAY=" + noServer + " ", "the X display \"" + noServer + "\" cannot be opened"}}) {
            EXPECT_EQ(RunProgram(env + TESSOLO_HOST_FILE, "--plugin " + b.Path("Tessolo.so") + " " + road, &text),
                      kExitHostError)
                << text;
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
            EXPECT_NE(text.find(says), std::string::npos) << text;
        }
    // A bad command line, as in every program; then host errors: missing
    // input, no plug-in.
    EXPECT_EQ(Host(b, "--frobnicate " + in + " " + out, &text), kExitBadArguments);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    EXPECT_EQ(Host(b, b.Path("missing.png") + " " + out), kExitHostError);
    EXPECT_EQ(RunProgram(TESSOLO_HOST_FILE, "--plugin " + b.Path("nothing.so") + " " + in + " " + out),
              kExitHostError);
    // A plug-in cut short (a copy a full disk stopped) would be mapped past
    // its end and end the host with a bus error: refused in one line, a
    // host error, wherever it ends.
    std::vector<uint8_t> library;
    ASSERT_TRUE(qnReadWholeFile(TESSOLO_PLUGIN_FILE, library, text));
    for (const size_t keep : {size_t(40), size_t(100), size_t(4096), library.size() / 2}) {
        const std::string cut = b.Path("cut.so");
        ASSERT_EQ(qnReplaceFile(cut, library.data(), keep), 0);
        EXPECT_EQ(RunProgram(TESSOLO_HOST_FILE, "--plugin " + cut + " " + in + " " + out, &text), kExitHostError)
            << keep << ": " << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << keep << ": " << text;
        EXPECT_NE(text.find("cannot load plug-in " + cut + ": it is cut short: the file has " + std::to_string(keep) +
                            " bytes"),
                  std::string::npos)
            << keep << ": " << text;
    }
    EXPECT_EQ(RunProgram(TESSOLO_HOST_FILE, "--help", &text), 0);
    EXPECT_NE(text.find("usage:"), std::string::npos);
    // What becomes of the descriptor, which a replay only reads.
    EXPECT_NE(text.find("a replay reads it and leaves it as it is"), std::string::npos) << text;
    // The run created the plug-in's configuration in its own folder.
    EXPECT_TRUE(fs::exists(b.Path("plugin.conf")));
}

// A library of the right length whose tail was lost (a copy cut short on a
// disk that preallocates, then grown back; blocks lost in a crash), as
// zeros or as garbage, wherever the loss starts, or with a block in its
// middle lost or scrambled: the plug-in and its window backend are judged
// damaged, and the host says so in one line (a host error, never a
// signal). So are a library of another machine and files that are no
// library at all.
TEST(PluginRun, ALibraryWhoseTailWasLostIsRefusedInOneLine)
{
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png");
    WriteInput(in, ColorMode::RGB, 32, 24, false);
    const std::string backend = (fs::path(TESSOLO_PLUGIN_FILE).parent_path() / "tessolo_gtk.so").string();
    const std::string lost = b.Path("lost.so");
    std::string text, why;
    // Through the host: exit 3 and one line naming the file and the fault.
    auto hostSays = [&](const std::string& plugin, const std::string& says, const std::string& what) {
        EXPECT_EQ(RunProgram(TESSOLO_HOST_FILE, "--plugin " + plugin + " " + in + " " + out, &text), kExitHostError)
            << what << ": " << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << what << ": " << text;
        EXPECT_EQ(text.rfind("tessolo-host: cannot load plug-in " + plugin + ": " + says, 0), 0u)
            << what << ": " << text;
        EXPECT_FALSE(fs::exists(out)) << what;
    };
    for (const std::string& library : {std::string(TESSOLO_PLUGIN_FILE), backend}) {
        SCOPED_TRACE(library);
        std::vector<uint8_t> whole;
        ASSERT_TRUE(qnReadWholeFile(library, whole, text)) << text;
        ASSERT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::Sound) << why;
        const uint64_t size = whole.size();
        Elf64_Ehdr header;
        ASSERT_GE(size, sizeof header);
        std::memcpy(&header, whole.data(), sizeof header);
        // Where the loss starts: 32 places spread over the file, and 8 in
        // the table of sections at its end; longest kept part first.
        std::vector<uint64_t> keeps;
        for (uint64_t k = 1; k <= 32; ++k)
            keeps.push_back(size * k / 33);
        const uint64_t table = uint64_t(header.e_shnum) * sizeof(Elf64_Shdr);
        ASSERT_EQ(header.e_shoff + table, size);
        for (uint64_t k = 0; k < 8; ++k)
            keeps.push_back(header.e_shoff + table * k / 8);
        std::sort(keeps.rbegin(), keeps.rend());
        // Zeros: each shorter part kept only zeroes more (cut, then grown
        // back to the whole length).
        fs::remove(lost);
        fs::copy_file(library, lost);
        for (size_t i = 0; i < keeps.size(); ++i) {
            fs::resize_file(lost, keeps[i]);
            fs::resize_file(lost, size);
            ASSERT_EQ(fs::file_size(lost), size);
            EXPECT_EQ(qnJudgeLibraryFile(lost, why), qnLibraryFile::Damaged) << "zeros from " << keeps[i];
            EXPECT_EQ(why.rfind("it is damaged: ", 0), 0u) << why;
            if (library != backend && i % 8 == 3)
                hostSays(lost, "it is damaged: ", "zeros from " + std::to_string(keeps[i]));
        }
        // Garbage: every byte from there on differs from the library's.
        fs::remove(lost);
        fs::copy_file(library, lost);
        uint32_t noise = 79;
        uint64_t scrambledFrom = size;
        for (size_t i = 0; i < keeps.size(); ++i) {
            {
                std::vector<char> garbage(whole.begin() + std::ptrdiff_t(keeps[i]),
                                          whole.begin() + std::ptrdiff_t(scrambledFrom));
                for (char& c : garbage) {
                    noise = noise * 1664525u + 1013904223u;
                    c = char(uint8_t(c) ^ uint8_t(1 + (noise >> 24) % 255));
                }
                std::fstream f(lost, std::ios::in | std::ios::out | std::ios::binary);
                f.seekp(std::streamoff(keeps[i]));
                f.write(garbage.data(), std::streamsize(garbage.size()));
                ASSERT_TRUE(f.good());
            }
            scrambledFrom = keeps[i];
            EXPECT_EQ(qnJudgeLibraryFile(lost, why), qnLibraryFile::Damaged) << "garbage from " << keeps[i];
            EXPECT_EQ(why.rfind("it is damaged: ", 0), 0u) << why;
            if (library != backend && i % 8 == 5)
                hostSays(lost, "it is damaged: ", "garbage from " + std::to_string(keeps[i]));
        }
        // Blocks lost in the middle, the tail whole, where the tables above
        // may all stay whole: zeroed or scrambled, of one byte to a
        // sixty-fourth of the file, at 24 places over it, those that touch
        // what the loader maps. Each is put back before the next.
        fs::remove(lost);
        fs::copy_file(library, lost);
        const std::vector<library_loads::Range> loads = library_loads::Loaded(whole);
        const uint64_t lengths[] = {1, 7, 512, 4096, 65536, size / 64};
        size_t changedCopies = 0;
        for (uint64_t k = 1; k <= 24; ++k)
            for (const bool zeros : {true, false}) {
                const uint64_t at = size * k / 25 + k * 37, n = std::min(lengths[k % 6], size - at);
                const auto from = whole.begin() + std::ptrdiff_t(at);
                std::vector<char> block(from, from + std::ptrdiff_t(n));
                for (char& c : block) {
                    noise = noise * 1664525u + 1013904223u;
                    c = zeros ? char(0) : char(uint8_t(c) ^ uint8_t(1 + (noise >> 24) % 255));
                }
                if (std::equal(block.begin(), block.end(), from))
                    continue;  // zeros where zeros were: nothing lost
                if (!library_loads::Overlaps(loads, at, n))
                    continue;  // nothing the loader maps (debug data, symbols)
                ++changedCopies;
                const std::string what = std::string(zeros ? "zeros" : "garbage") + " at " + std::to_string(at) +
                                         ", " + std::to_string(n) + " bytes";
                auto put = [&](const char* bytes) {
                    std::fstream f(lost, std::ios::in | std::ios::out | std::ios::binary);
                    f.seekp(std::streamoff(at));
                    f.write(bytes, std::streamsize(n));
                    ASSERT_TRUE(f.good()) << what;
                };
                put(block.data());
                EXPECT_EQ(qnJudgeLibraryFile(lost, why), qnLibraryFile::Damaged) << what;
                EXPECT_EQ(why.rfind("it is damaged: ", 0), 0u) << what << ": " << why;
                if (library != backend)
                    hostSays(lost, "it is damaged: ", what);
                put(reinterpret_cast<const char*>(whole.data()) + at);
            }
        EXPECT_GE(changedCopies, 30u);
        EXPECT_EQ(qnJudgeLibraryFile(lost, why), qnLibraryFile::Sound) << why;
    }
    // Another machine's library: the plug-in as it would be for ARM.
    std::vector<uint8_t> plugin;
    ASSERT_TRUE(qnReadWholeFile(TESSOLO_PLUGIN_FILE, plugin, text)) << text;
    const uint16_t arm = EM_AARCH64;
    std::memcpy(plugin.data() + offsetof(Elf64_Ehdr, e_machine), &arm, sizeof arm);
    const std::string other = b.Path("other.so");
    ASSERT_EQ(qnReplaceFile(other, plugin.data(), plugin.size()), 0);
    EXPECT_EQ(qnJudgeLibraryFile(other, why), qnLibraryFile::NotLibrary);
    hostSays(other, "it is not a Tessolo plug-in", "another machine");
    // One bit of the plug-in flipped where its header places its program
    // headers (far past its end), in its magic, word size, type or
    // machine: a damaged plug-in, neither one cut short nor another kind of
    // file.
    const struct {
        size_t at;
        int bit;
    } flips[] = {{offsetof(Elf64_Ehdr, e_phoff) + 7, 0},
                 {1, 2},
                 {EI_CLASS, 0},
                 {offsetof(Elf64_Ehdr, e_type), 0},
                 {offsetof(Elf64_Ehdr, e_machine), 0}};
    for (const auto& flip : flips) {
        ASSERT_TRUE(qnReadWholeFile(TESSOLO_PLUGIN_FILE, plugin, text)) << text;
        plugin[flip.at] ^= uint8_t(1u << flip.bit);
        ASSERT_EQ(qnReplaceFile(other, plugin.data(), plugin.size()), 0);
        hostSays(other, "it is damaged: ", "byte " + std::to_string(flip.at));
        EXPECT_NE(text.find("; install or copy it again\n"), std::string::npos) << text;
    }
    // No library: a picture, and a program (built to load anywhere, as a
    // library is, which the loader would only refuse in its own words).
    for (const std::string& none : {in, std::string(TESSOLO_HOST_FILE)}) {
        EXPECT_EQ(qnJudgeLibraryFile(none, why), qnLibraryFile::NotLibrary) << none;
        hostSays(none, "it is not a Tessolo plug-in", none);
    }
}

// What a packager does to the plug-in's libraries (strip them of what
// they can lose, give them a debug link) keeps them loading: the packaged
// plug-in replays the bytes the built one writes, and its packaged window
// backend is whole, its seal required. One byte changed in the packaged
// plug-in's code is still refused in one line.
TEST(PluginRun, APackagedPluginLoadsAndReplaysTheSameBytes)
{
    Bundle b;
    const std::string in = b.Path("in.png"), job = b.Path("job.qnds");
    WriteInput(in, ColorMode::RGB, 40, 30, false);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 " + job), 0);
    std::string text, why;
    ASSERT_EQ(Host(b, "--descriptor " + job + " " + in + " " + b.Path("built.png"), &text), kExitOk) << text;
    std::vector<uint8_t> built, packed;
    ASSERT_TRUE(qnReadWholeFile(b.Path("built.png"), built, text)) << text;
    const std::string backend = (fs::path(TESSOLO_PLUGIN_FILE).parent_path() / "tessolo_gtk.so").string();
    const std::string debug = b.Path("Tessolo.debug"), plugin = b.Path("packed.so"), out = b.Path("packed.png");
    ASSERT_EQ(RunProgram("objcopy", "--only-keep-debug " + std::string(TESSOLO_PLUGIN_FILE) + " " + debug, &text), 0)
        << text;
    const std::string packagings[] = {"strip --strip-unneeded", "strip --strip-debug", "strip --strip-all",
                                      "objcopy --add-gnu-debuglink=" + debug};
    for (const std::string& packaging : packagings) {
        SCOPED_TRACE(packaging);
        const std::string packedBackend = b.Path("tessolo_gtk.so");
        for (const auto& [from, to] : {std::pair{std::string(TESSOLO_PLUGIN_FILE), plugin}, {backend, packedBackend}}) {
            fs::remove(to);
            fs::copy_file(from, to);
            ASSERT_EQ(RunProgram(packaging, to, &text), 0) << text;
            ASSERT_NE(fs::file_size(to), fs::file_size(from));
        }
        EXPECT_EQ(qnJudgeLibraryFile(packedBackend, why, qnLibrarySeal::Required), qnLibraryFile::Sound) << why;
        fs::remove(out);
        EXPECT_EQ(RunProgram(TESSOLO_HOST_FILE, "--plugin " + plugin + " --descriptor " + job + " " + in + " " + out,
                             &text),
                  kExitOk)
            << text;
        ASSERT_TRUE(qnReadWholeFile(out, packed, text)) << text;
        EXPECT_EQ(packed, built);
    }
    // A byte in the middle of the code (the loaded part that executes).
    std::vector<uint8_t> library;
    ASSERT_TRUE(qnReadWholeFile(plugin, library, text)) << text;
    Elf64_Ehdr header;
    std::memcpy(&header, library.data(), sizeof header);
    uint64_t code = 0;
    for (uint64_t i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr p;
        std::memcpy(&p, library.data() + header.e_phoff + i * sizeof p, sizeof p);
        if (p.p_type == PT_LOAD && (p.p_flags & PF_X) != 0)
            code = p.p_offset + p.p_filesz / 2;
    }
    ASSERT_NE(code, 0u);
    library[code] ^= 0x01;
    ASSERT_EQ(qnReplaceFile(plugin, library.data(), library.size()), 0);
    fs::remove(out);
    EXPECT_EQ(RunProgram(TESSOLO_HOST_FILE, "--plugin " + plugin + " --descriptor " + job + " " + in + " " + out, &text),
              kExitHostError);
    EXPECT_EQ(text, "tessolo-host: cannot load plug-in " + plugin +
                        ": it is damaged: it is not the file that was built (changed since, or a copy that went "
                        "wrong?); install or copy it again\n");
    EXPECT_FALSE(fs::exists(out));
}

// An image the plug-in refuses is named with what the host sent and the
// option that chose it, and its result with the filter interface's name;
// so is the result in the verbose log.
TEST(PluginRun, RefusedImagesNameWhatWasSentAndTheResult)
{
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png");
    WriteInput(in, ColorMode::RGB, 32, 24, false);
    const struct {
        const char* options;
        const char* sent;
    } cases[] = {
        {"--image-mode 9", "image mode 9 (Lab, from --image-mode)"},
        {"--image-mode 77", "image mode 77 (a mode the filter interface does not define, from --image-mode)"},
        {"--depth 16", "16 bits per channel (from --depth)"},
        {"--filter-case 99", "filter case 99 (no case the filter interface defines, from --filter-case)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        std::string text;
        EXPECT_EQ(Host(b, std::string(c.options) + " " + in + " " + out, &text), kExitPluginError);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_NE(text.find("does not take the image it was sent"), std::string::npos) << text;
        EXPECT_NE(text.find(c.sent), std::string::npos) << text;
        EXPECT_EQ(text.find("-30101"), std::string::npos) << text;
        EXPECT_EQ(text.find("result"), std::string::npos) << text;
        EXPECT_FALSE(fs::exists(out));
    }
    std::string text;
    EXPECT_EQ(Host(b, "-v --depth 16 " + in + " " + out, &text), kExitPluginError);
    EXPECT_NE(text.find("): result -30101: bad mode, "), std::string::npos) << text;
}

TEST(PluginRun, RecordedLayoutReplaysOnEverySize)
{
    Bundle b;
    const std::string desc = b.Path("lines.qnds");
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 2x1 --straight --lines " + desc), 0);
    std::vector<uint8_t> recorded;
    std::string err;
    ASSERT_TRUE(qnReadWholeFile(desc, recorded, err));
    for (int w : {40, 90}) {
        const std::string in = b.Path("in.png"), out = b.Path("out.png");
        WriteInput(in, ColorMode::RGB, w, 30, false);
        std::string text;
        ASSERT_EQ(Host(b, "--descriptor " + desc + " --fg 000000 --bg FFFFFF " + in + " " + out, &text), 0) << text;
        const RasterImage img = ReadOutput(out);
        ASSERT_EQ(img.width, w);
        for (int y = 3; y < 30; y += 7) {
            EXPECT_EQ(MinInRow(img, y, 0, w / 2 - 4), 255) << w << " " << y;
            EXPECT_LT(MinInRow(img, y, w / 2 - 2, w / 2 + 2), 128) << w << " " << y;
            EXPECT_EQ(MinInRow(img, y, w / 2 + 4, w), 255) << w << " " << y;
        }
        // A replay records nothing new.
        std::vector<uint8_t> after;
        ASSERT_TRUE(qnReadWholeFile(desc, after, err));
        EXPECT_EQ(after, recorded);
    }
    // A layout too large for one small chunk, written for a host that takes
    // texts of the smallest length that works, goes in small chunks and
    // gives the same picture.
    const std::string layout = b.Path("varied.qntd"), block = b.Path("varied.block");
    ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE, "layout new --grid 4x3 --seed 7 --randomize 8 --mutate 20,20,10 " + layout),
              0);
    ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE, "layout block " + layout + " " + block), 0);
    const std::string large = b.Path("large.qnds"), small = b.Path("small.qnds");
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--block " + block + " " + large), 0);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--block " + block + " --max-text 1004 " + small), 0);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(qnReadWholeFile(small, bytes, err)) << err;
    HostDescriptor chunks;
    ASSERT_TRUE(HostDescriptor::Parse(bytes.data(), bytes.size(), chunks, err)) << err;
    EXPECT_NE(chunks.Find(FILTER_FOURCC('q', 'n', 'a', 'b')), nullptr) << "not written in small chunks";
    for (const DescriptorItem& item : chunks.items)
        EXPECT_LE(item.value.size(), 1004u);
    const std::string in = b.Path("in.png");
    WriteInput(in, ColorMode::RGB, 40, 30, false);
    ASSERT_EQ(Host(b, "--descriptor " + large + " " + in + " " + b.Path("a.png")), 0);
    ASSERT_EQ(Host(b, "--descriptor " + small + " " + in + " " + b.Path("b.png")), 0);
    EXPECT_EQ(ReadOutput(b.Path("a.png")).planes, ReadOutput(b.Path("b.png")).planes);
}

TEST(PluginRun, PiecesModeGivesABevelledPuzzleOfThePicture)
{
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png");
    WriteInput(in, ColorMode::RGB, 120, 80, false);
    // The layout comes from "last.data" in the plug-in's folder this time.
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 --raw " + b.Path("last.data")), 0);
    std::string text;
    ASSERT_EQ(Host(b, "-v " + in + " " + out, &text), 0) << text;
    const RasterImage before = ReadOutput(in);
    const RasterImage after = ReadOutput(out);
    size_t changed = 0;
    for (size_t p = 0; p < 3; ++p)
        for (size_t i = 0; i < before.PixelCount(); ++i)
            changed += before.planes[p][i] != after.planes[p][i];
    // The edges of the pieces are bevelled; their middles keep the picture.
    EXPECT_GT(changed, before.PixelCount() / 20);
    const size_t centre = 20 * 120 + 20;  // the middle of the first piece
    EXPECT_EQ(after.planes[0][centre], before.planes[0][centre]);
}

TEST(PluginRun, TransparentLayerAndSelectionThroughTheProgram)
{
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png"), sel = b.Path("sel.png");
    WriteInput(in, ColorMode::RGB, 60, 40, true);
    RasterImage mask;
    mask.Allocate(ColorMode::Gray, 60, 40, false, 0);
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 50; ++x)
            mask.planes[0][static_cast<size_t>(y) * 60 + x] = 255;
    std::string err;
    ASSERT_TRUE(WritePngFile(sel, mask, err));
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 2x1 --straight --lines --raw " + b.Path("last.data")), 0);
    std::string text;
    ASSERT_EQ(Host(b, "--selection " + sel + " " + in + " " + out, &text), 0) << text;
    const RasterImage img = ReadOutput(out);
    ASSERT_TRUE(img.hasAlpha);
    // Outside the selection nothing changed; inside, the editable
    // transparency shows only the knife at x = 30.
    EXPECT_EQ(img.planes[3][5 * 60 + 5], 255);
    EXPECT_EQ(img.planes[3][20 * 60 + 15], 0);
    int alphaOnKnife = 0;
    for (int x = 27; x < 33; ++x)
        alphaOnKnife += img.planes[3][20 * 60 + x];
    EXPECT_GE(alphaOnKnife, 250);
    // Gray and CMYK documents replay as well.
    EXPECT_EQ(Host(b, "--mode gray " + in + " " + out), 0);
    EXPECT_EQ(Host(b, "--mode cmyk --protect-transparency " + in + " " + out), 0);
}

// The plug-in finds its folder even when the host loaded it by a relative
// path and changed its directory afterwards.
TEST(PluginRun, FolderIsFoundAfterARelativeLoadAndAChangeOfDirectory)
{
    Bundle b;
    const fs::path before = fs::current_path();
    fs::current_path(b.dir.parent_path());
    PluginLoader loader;
    std::string err;
    ASSERT_TRUE(loader.Load("./" + b.dir.filename().string() + "/Tessolo.so", err)) << err;
    fs::current_path(before);
    {
        RasterImage img;
        img.Allocate(ColorMode::RGB, 8, 8, false, 100);
        StandInHost host(HostDocument::FromImage(img, "L"), HostSettings{});
        EXPECT_EQ(host.Run(loader.Entry(), StandInHost::Sequence::Replay), userCanceledErr);
        EXPECT_TRUE(host.Violations().empty());
        loader.Unload();
    }
    EXPECT_TRUE(fs::exists(b.Path("plugin.conf")));
}

// The plug-in judged is the plug-in loaded: a file renamed over its name
// between the judge and the load (another plug-in) is not what the loader
// maps. The same plug-in loaded again, by another name of the same file,
// is the library already loaded.
TEST(PluginRun, APluginReplacedAfterItWasJudgedIsNotTheOneLoaded)
{
    Bundle b;
    const std::string plugin = b.Path("Tessolo.so"), other = b.Path("other.so"), again = b.Path("again.so");
    fs::copy_file(TESSOLO_GATE_PLUGIN_FILE, other);
    fs::create_hard_link(plugin, again);
    int swaps = 0;
    qnOpenLibrary::SetJudgedHook([&](const std::string& path) {
        if (path == plugin && swaps++ == 0)
            fs::rename(other, plugin);
    });
    PluginLoader loader, loaderAgain;
    std::string err;
    const bool loaded = loader.Load(plugin, err);
    qnOpenLibrary::SetJudgedHook({});
    EXPECT_EQ(swaps, 1);
    ASSERT_TRUE(loaded) << err;
    ASSERT_NE(loader.Entry(), nullptr);
    ASSERT_TRUE(loaderAgain.Load(again, err)) << err;
    EXPECT_EQ(loaderAgain.Entry(), loader.Entry());
}

// A plug-in named without a folder is the file of that name in the current
// folder, never one found along the library path: the bundle's library runs
// from its own folder, and a system library's name finds nothing here.
TEST(PluginRun, APluginNamedWithoutAFolderIsTheFileInTheCurrentFolder)
{
    Bundle b;
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 2x2 " + b.Path("job.qnds")), 0);
    WriteInput(b.Path("in.png"), ColorMode::RGB, 40, 30, false);
    const std::string cd = "cd '" + b.dir.string() + "' && ";
    const std::string inFolder = cd + TESSOLO_HOST_FILE;
    std::string text;
    EXPECT_EQ(RunProgram(inFolder, "--plugin Tessolo.so --descriptor job.qnds in.png out.png", &text), kExitOk) << text;
    EXPECT_TRUE(fs::exists(b.Path("out.png")));
    EXPECT_EQ(RunProgram(cd + "TESSOLO_PLUGIN=Tessolo.so " + TESSOLO_HOST_FILE, "--descriptor job.qnds in.png env.png",
                         &text),
              kExitOk)
        << text;
    EXPECT_TRUE(fs::exists(b.Path("env.png")));
    EXPECT_EQ(RunProgram(inFolder, "--plugin libm.so.6 --descriptor job.qnds in.png libm.png", &text),
              kExitHostError);
    EXPECT_NE(text.find("cannot read libm.so.6: no such file; the plug-in is missing: name one with --plugin FILE "
                        "or the environment variable TESSOLO_PLUGIN"),
              std::string::npos)
        << text;
    EXPECT_FALSE(fs::exists(b.Path("libm.png")));
}

// A plug-in that is missing or is none is told in words a user can act
// on, with no code or name from inside the filter interface: the host
// program copied away from its bundle, a library that is no plug-in, and
// a file that is no library at all.
TEST(PluginRun, APluginMissingOrNoneIsToldWithoutCodes)
{
    Bundle b;
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 2x2 " + b.Path("job.qnds")), 0);
    WriteInput(b.Path("in.png"), ColorMode::RGB, 40, 30, false);
    fs::create_directories(b.dir / "bin");
    fs::copy_file(TESSOLO_HOST_FILE, b.dir / "bin" / "tessolo-host");
    std::ofstream(b.Path("text.so")) << "not a library";
    const std::string copied = "env -u TESSOLO_PLUGIN '" + b.Path("bin/tessolo-host") + "'";
    const std::string host = std::string(TESSOLO_HOST_FILE) + " --plugin ";
    const std::string run = " --descriptor " + b.Path("job.qnds") + " " + b.Path("in.png") + " " + b.Path("out.png");
    // A system library this process has loaded: the one that holds cos.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<const void*>(static_cast<double (*)(double)>(&::cos)), &info), 0);
    const std::string library = info.dli_fname;
    const struct {
        std::string command;
        std::string says;
    } cases[] = {
        {copied, "cannot read " + b.Path("bundle/Tessolo/Tessolo.so") +
                     ": no such folder; the plug-in is missing: name one with --plugin FILE or the environment "
                     "variable TESSOLO_PLUGIN"},
        {host + library, "cannot load plug-in " + library + ": it is not a Tessolo plug-in"},
        {host + b.Path("text.so"), "cannot load plug-in " + b.Path("text.so") + ": it is not a Tessolo plug-in"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        std::string text;
        EXPECT_EQ(RunProgram(c.command, run, &text), kExitHostError);
        EXPECT_EQ(text, "tessolo-host: " + c.says + "\n");
        EXPECT_FALSE(fs::exists(b.Path("out.png")));
    }
}

TEST(HostPluginRun, DescriptorsMissingOrDamagedAreNeverReplacedByLastData)
{
    // Saved settings are there to be replayed in their place.
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png");
    WriteInput(in, ColorMode::RGB, 40, 30, false);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--raw --grid 2x2 " + b.Path("last.data")), 0);
    const std::string good = b.Path("good.qnds"), damaged = b.Path("damaged.qnds");
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 " + good), 0);
    std::vector<uint8_t> bytes;
    std::string err;
    ASSERT_TRUE(qnReadWholeFile(good, bytes, err)) << err;
    // A hexadecimal digit of the settings text turned into a letter that is none.
    const auto digit = std::find(bytes.begin() + bytes.size() / 2, bytes.end(), '0');
    ASSERT_NE(digit, bytes.end());
    *digit = 'Z';
    ASSERT_EQ(qnReplaceFile(damaged, bytes.data(), bytes.size()), 0);
    // Descriptors that hold no settings at all.
    const std::string empty = b.Path("empty.qnds"), none = b.Path("none.qnds");
    ASSERT_EQ(qnReplaceFile(empty, "", 0), 0);
    ASSERT_EQ(qnReplaceFile(none, "QNDS\0\0\0\0", 8), 0);
    // Files that are no whole descriptor: the good one cut inside its header,
    // its first item and its settings, random bytes and a text; each is
    // damaged, and the message says how.
    std::vector<uint8_t> whole;
    ASSERT_TRUE(qnReadWholeFile(good, whole, err)) << err;
    std::vector<uint8_t> noise(400);
    uint32_t seed = 12345;
    for (uint8_t& v : noise)
        v = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    const std::string prose = "settings: a 3x2 grid\n";
    const std::vector<std::tuple<std::string, std::vector<uint8_t>, std::string>> broken = {
        {"cut6.qnds", std::vector<uint8_t>(whole.begin(), whole.begin() + 6), "descriptor cut short in its header"},
        {"cut14.qnds", std::vector<uint8_t>(whole.begin(), whole.begin() + 14),
         "descriptor item count larger than the data"},
        {"cuthalf.qnds", std::vector<uint8_t>(whole.begin(), whole.begin() + long(whole.size() / 2)),
         "descriptor value longer than the data"},
        {"noise.qnds", noise, "not a descriptor (it does not begin with QNDS; tessolo-mkdesc makes one)"},
        {"text.qnds", std::vector<uint8_t>(prose.begin(), prose.end()),
         "not a descriptor (it does not begin with QNDS; tessolo-mkdesc makes one)"},
    };
    for (const auto& [name, held, why] : broken)
        ASSERT_EQ(qnReplaceFile(b.Path(name), held.data(), held.size()), 0);
    // Settings blocks that decode but make no layout: cut short, and with
    // the grid's sizes overwritten. The descriptor maker refuses them; a host
    // may still hold them, as the plug-in's own writer would put them.
    const std::string blockFile = b.Path("good.block");
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--raw --grid 3x2 " + blockFile), 0);
    std::vector<uint8_t> block;
    ASSERT_TRUE(qnReadWholeFile(blockFile, block, err)) << err;
    std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<long>(block.size() / 2)), overwritten = block;
    std::fill(overwritten.begin() + 2, overwritten.begin() + 10, uint8_t{0xFF});
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> refused = {
        {b.Path("cut.qnds"), DescriptorHolding(cut)}, {b.Path("overwritten.qnds"), DescriptorHolding(overwritten)}};
    for (const auto& [path, held] : refused) {
        ASSERT_EQ(qnReplaceFile(path, held.data(), held.size()), 0);
        const std::string raw = path + ".block";
        const std::vector<uint8_t>& inside = path == refused[0].first ? cut : overwritten;
        ASSERT_EQ(qnReplaceFile(raw, inside.data(), inside.size()), 0);
        std::string said;
        EXPECT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--block " + raw + " " + b.Path("made.qnds"), &said), 1) << said;
        EXPECT_NE(said.find("not a layout settings block"), std::string::npos) << said;
        EXPECT_FALSE(fs::exists(b.Path("made.qnds")));
    }
    // Settings whose mode key is lost: the chunk is still there.
    HostDescriptor lost;
    ASSERT_TRUE(qnReadWholeFile(good, bytes, err)) << err;
    ASSERT_TRUE(HostDescriptor::Parse(bytes.data(), bytes.size(), lost, err)) << err;
    for (DescriptorItem& item : lost.items)
        if (item.key == FILTER_FOURCC('q', 'n', 'e', 'S'))
            item.key = FILTER_FOURCC('x', 'x', 'x', 'x');
    const std::string modeless = b.Path("modeless.qnds");
    const std::vector<uint8_t> modelessBytes = lost.Serialize();
    ASSERT_EQ(qnReplaceFile(modeless, modelessBytes.data(), modelessBytes.size()), 0);
    struct Case {
        std::string options;
        int code;
        std::string says;
    };
    const std::string unread = "could not read the settings in this descriptor";
    // No regular file at all (a FIFO, a folder) is no damaged descriptor: an
    // input the host cannot read, said at once, without waiting on a writer.
    const std::string fifo = b.Path("fifo.qnds"), folder = b.Path("folder.qnds");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(folder);
    std::vector<Case> cases = {
        {"--descriptor " + b.Path("nosuch.qnds"), kExitBadArguments, "no such file"},
        {"--descriptor " + damaged, kExitPluginError, unread},
        {"--descriptor " + empty, kExitPluginError, "holds no settings (damaged"},
        {"--descriptor " + none, kExitPluginError, "holds no settings (damaged"},
        {"--descriptor " + refused[0].first, kExitPluginError, unread},
        {"--descriptor " + refused[1].first, kExitPluginError, unread},
        {"--descriptor " + modeless, kExitPluginError, unread},
        {"--no-descriptor --descriptor " + good, kExitBadArguments, "no descriptors (--no-descriptor)"},
        // The host's own limits are named as its own, never as damage.
        {"--max-space 39 --descriptor " + good, kExitHostError, "host's buffer (--max-space 39 bytes)"},
        {"--max-space 39", kExitHostError, "host's buffer (--max-space 39 bytes)"},
        {"--no-advance-state --descriptor " + good, kExitHostError, "no advanceState"},
        {"--max-space 40 --descriptor " + good, kExitOk, ""},
        {"--descriptor " + good, kExitOk, ""},
        {"--descriptor " + fifo, kExitHostError, "cannot read " + fifo + ": not a regular file"},
        {"--descriptor " + folder, kExitHostError, "cannot read " + folder + ": is a folder"},
    };
    for (const auto& [name, held, why] : broken)
        cases.push_back({"--descriptor " + b.Path(name), kExitPluginError,
                         b.Path(name) + " is damaged: " + why + "; the image is unchanged"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        fs::remove(out);
        std::string text;
        EXPECT_EQ(Host(b, c.options + " " + in + " " + out, &text), c.code) << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_EQ(text.find("damaged") != std::string::npos, c.code == kExitPluginError) << text;
        // One line: what was written, or why nothing was.
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_EQ(text.rfind("wrote " + out + ", ", 0) == 0, c.code == kExitOk) << text;
        EXPECT_EQ(fs::exists(out), c.code == kExitOk);
    }
}

TEST(HostPluginRun, LastSettingsThatDoNotReadAreCalledDamaged)
{
    // Without a descriptor the replay takes "last.data"; one that is there
    // but does not read is damaged, not missing; one that is no file at all
    // is named with what it is.
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png"), last = b.Path("last.data");
    WriteInput(in, ColorMode::RGB, 40, 30, false);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--raw --grid 2x2 " + last), 0);
    std::vector<uint8_t> good;
    std::string err;
    ASSERT_TRUE(qnReadWholeFile(last, good, err)) << err;
    std::vector<uint8_t> ones(good.size(), 0xFF);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;  // empty: no "last.data" file
        int code;
        std::string says;
    };
    const std::string noFile = "found no settings to replay: cannot read " + last + ": ";
    const std::vector<Case> cases = {
        {"whole", good, kExitOk, ""},
        {"cut in half", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2)), kExitPluginError,
         "\"last.data\" in its folder) are damaged"},
        {"overwritten", ones, kExitPluginError, "\"last.data\" in its folder) are damaged"},
        {"missing", {}, kExitCancelled, "found no settings to replay and has no window"},
        {"a folder", {}, kExitCancelled, noFile + "a folder, not a regular file; "},
        {"a FIFO", {}, kExitCancelled, noFile + "a FIFO, not a regular file; "},
        {"a device", {}, kExitCancelled, noFile + "a device, not a regular file; "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(out);
        fs::remove_all(last);
        const std::string what = c.what;
        if (!c.bytes.empty()) {
            ASSERT_EQ(qnReplaceFile(last, c.bytes.data(), c.bytes.size()), 0);
        } else if (what == "a folder") {
            fs::create_directory(last);
        } else if (what == "a FIFO") {
            ASSERT_EQ(::mkfifo(last.c_str(), 0600), 0);
        } else if (what == "a device") {
            fs::create_symlink("/dev/null", last);
        }
        std::string text;
        EXPECT_EQ(Host(b, in + " " + out, &text), c.code) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_EQ(fs::exists(out), c.code == kExitOk);
    }
}

// A replay that fails says what failed: damaged last settings alike however
// they are damaged, a layout of more pieces than a cut makes as the
// plug-in's own stop (never as settings that are missing), a lack of memory
// as one (never as a cancel).
TEST(HostPluginRun, ReplayFailuresSayWhatFailed)
{
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png"), last = b.Path("last.data");
    WriteInput(in, ColorMode::RGB, 600, 600, false);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--raw --grid 2x2 " + last), 0);
    std::vector<uint8_t> good;
    std::string text;
    ASSERT_TRUE(qnReadWholeFile(last, good, text)) << text;
    const std::string damaged = "tessolo-host: the last settings the plug-in keeps (\"last.data\" in its folder) are "
                                "damaged: they do not read as settings; the image is unchanged\n";

    // Damage: cut short; followed by 100 MB of zeros (far more than any
    // block, refused by its size); a knife node that is not a number.
    std::vector<uint8_t> nan = good;
    // The first column knife's first node value (U) of a 2 x 2 grid: after
    // the header, 2 guides, the knot count and 3 x 3 knots, the knife count
    // and the knife's 5 header bytes.
    const size_t firstNode = 10 + 2 * 4 + 4 + 9 * 8 + 4 + 5;
    ASSERT_LT(firstNode + 4, nan.size());
    nan[firstNode] = 0x7F;
    nan[firstNode + 1] = 0xC0;
    nan[firstNode + 2] = nan[firstNode + 3] = 0;
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> broken = {
        {"cut short", std::vector<uint8_t>(good.begin(), good.begin() + 20)}, {"a NaN node", nan}, {"zeros", good}};
    for (const auto& [what, bytes] : broken) {
        SCOPED_TRACE(what);
        ASSERT_EQ(qnReplaceFile(last, bytes.data(), bytes.size()), 0);
        if (std::string(what) == "zeros")
            fs::resize_file(last, good.size() + (uint64_t(100) << 20));
        EXPECT_EQ(Host(b, in + " " + out, &text), kExitPluginError) << text;
        EXPECT_EQ(text, damaged);
        EXPECT_FALSE(fs::exists(out));
    }

    // More than 99999 pieces: the plug-in says so, and the host does not
    // send the user after settings that are there.
    const std::string layout = b.Path("wild.qntd");
    ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE,
                         "layout new --grid 101x101 --randomize 100 --mutate 100,100,100 --seed 3 " + layout, &text),
              0)
        << text;
    ASSERT_EQ(RunProgram(TESSOLO_TOOL_FILE, "layout block " + layout + " " + last, &text), 0) << text;
    EXPECT_EQ(Host(b, in + " " + out, &text), kExitCancelled) << text;
    EXPECT_NE(text.find("Too many (>100'000!) pieces"), std::string::npos) << text;
    EXPECT_NE(text.find("tessolo-host: the plug-in stopped its replay on its own"), std::string::npos) << text;
    EXPECT_EQ(text.find("no settings"), std::string::npos) << text;
    EXPECT_EQ(text.find("tessolo-mkdesc"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(out));

    // Memory that cannot be had: the plug-in's planes of a 2000 x 2000
    // picture (16 MB at once) past what the allocator may give.
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--raw --grid 2x2 " + last), 0);
    const std::string large = b.Path("large.png");
    WriteInput(large, ColorMode::RGB, 2000, 2000, false);
#if defined(__SANITIZE_ADDRESS__)
    const std::string limited = "env ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=15 ";
#else
    const std::string limited = "ulimit -v 300000; ";
#endif
    EXPECT_EQ(RunProgram(limited + TESSOLO_HOST_FILE, "--plugin " + b.Path("Tessolo.so") + " " + large + " " + out,
                         &text),
              kExitPluginError)
        << text;
    EXPECT_NE(text.find("tessolo-host: the plug-in ran out of memory"), std::string::npos) << text;
    EXPECT_EQ(text.find("cancel"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(out));
}

TEST(HostPluginRun, DamagedConfigurationIsKeptAsideAndNamed)
{
    // The user's preferences and window positions live in "plugin.conf":
    // one that does not read is never written over.
    Bundle b;
    const std::string in = b.Path("in.png"), out = b.Path("out.png"), conf = b.Path("plugin.conf");
    WriteInput(in, ColorMode::RGB, 40, 30, false);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC_FILE, "--raw --grid 2x2 " + b.Path("last.data")), 0);
    {
        CQNF_Storage st;
        ASSERT_TRUE(st.Open(CQNF_String(conf.c_str()), 2));
        ASSERT_TRUE(st.AddFolder(CQNF_String("Preferences")));
        ASSERT_TRUE(st.SetRecord(CQNF_String("Preferences>OnLoadZoom"), uint8_t(3)));
        ASSERT_TRUE(st.Close());
    }
    std::vector<uint8_t> damaged;
    std::string err;
    ASSERT_TRUE(qnReadWholeFile(conf, damaged, err)) << err;
    ASSERT_GT(damaged.size(), 52u);
    // The first record's length now runs far past the end of the file.
    damaged[32] = 0x7F;
    ASSERT_EQ(qnReplaceFile(conf, damaged.data(), damaged.size()), 0);
    {
        CQNF_Storage st;
        ASSERT_FALSE(st.Open(CQNF_String(conf.c_str()), 0)) << "the damage must keep it from reading";
    }
    std::string text;
    EXPECT_EQ(Host(b, in + " " + out, &text), kExitOk) << text;
    // The copy keeps every byte, the user is told where it is, and the run
    // goes on with a new container.
    std::vector<uint8_t> kept;
    ASSERT_TRUE(qnReadWholeFile(conf + ".bad", kept, err)) << err;
    EXPECT_EQ(kept, damaged);
    EXPECT_NE(text.find("damaged; it was kept as " + conf + ".bad"), std::string::npos) << text;
    CQNF_Storage fresh;
    EXPECT_TRUE(fresh.Open(CQNF_String(conf.c_str()), 1));
}

}  // namespace

#endif
