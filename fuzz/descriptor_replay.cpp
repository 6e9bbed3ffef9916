// Fuzz target: the replay road from a hostile scripting descriptor. The
// plug-in object runs in-process in the stand-in host on a tiny document and
// replays whatever settings the descriptor holds.
//
// The first byte chooses how the rest becomes a descriptor:
//   bits 0-1  0: the rest is a serialised descriptor ("QNDS"), as a host
//                would hand over any bytes;
//             1: the rest is the hexadecimal text itself,
//             2: the rest is the compressed block (hex-encoded here),
//             3: the rest is the settings block (compressed and hex-encoded
//                here); in 1-3 the text is cut into chunks under the keys the
//                writer uses, with a matching 'qneS' value, so the fuzzer
//                reaches the hex, zip and settings layers past the framing.
//   bit 2     small chunks ('qnaa'..) instead of large ones ('qne0'..)
//   bit 3     the chunks in reverse order
//   bit 4     'qneS' before the chunks instead of after them
//   bit 5     the last chunk left out
//   bit 6     the layer has transparency
//   bit 7     a grey document instead of RGB
//
// Every run must leave the host without breaches (handles leaked, tokens left
// open, requests outside the image, suites still held), and a failed run must
// leave the document as it was.
#include "core/FSRef.h"
#include "core/Mem.h"
#include "core/ZipBlock.h"
#include "host/PluginEntry.h"
#include "host/PluginMain.h"
#include "host/ScriptChunks.h"
#include "hostapp/HostDescriptor.h"
#include "hostapp/HostDocument.h"
#include "hostapp/StandInHost.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace {

using hostapp::ColorMode;
using hostapp::HostDescriptor;
using hostapp::HostDocument;
using hostapp::RasterImage;
using hostapp::StandInHost;

constexpr int kWidth = 16;
constexpr int kHeight = 12;

// One data folder for the whole run, removed at exit. The replay road reads
// "last.data" from it only when the descriptor fails, and it never holds one,
// so every input meets the same folder.
struct DataFolder {
    FSRef ref;
    DataFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessolo_fuzzdesc_XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        ref.path = pattern;
    }
    ~DataFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(ref.path, ec);
    }
};

DataFolder& Folder()
{
    static DataFolder folder;
    return folder;
}

CPluginMain* g_plugin = nullptr;

void Entry(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result)
{
    qnPluginDispatch(*g_plugin, Folder().ref, selector, record, data, result);
}

HostDocument TinyDocument(ColorMode mode, bool alpha)
{
    RasterImage img;
    img.Allocate(mode, kWidth, kHeight, alpha);
    const int colours = hostapp::ColorPlanes(mode);
    for (int p = 0; p < colours; ++p)
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                img.planes[static_cast<size_t>(p)][static_cast<size_t>(y) * kWidth + x] =
                    static_cast<uint8_t>(30 + (x * 7 + y * 11 + p * 50) % 200);
    if (alpha)
        for (size_t i = 0; i < img.planes.back().size(); ++i)
            img.planes.back()[i] = static_cast<uint8_t>(i % 3 == 0 ? 0 : 255);
    return HostDocument::FromImage(std::move(img), "Layer 1");
}

std::vector<uint8_t> Chunk(uint32_t index, const char* text, uint32_t n)
{
    char letters[3];
    if (!qnscript::IndexLetters(index, letters))
        return {};
    std::vector<uint8_t> v(letters, letters + 3);
    v.insert(v.end(), text, text + n);
    v.push_back(0);
    return v;
}

// The text cut as the writer cuts it, with a 'qneS' value for its length.
std::vector<uint8_t> ChunkedDescriptor(const std::vector<uint8_t>& text, uint8_t how)
{
    const bool small = how & 0x04;
    const bool reverse = how & 0x08;
    const bool modeFirst = how & 0x10;
    const bool dropLast = how & 0x20;
    const uint32_t length = static_cast<uint32_t>(text.size());
    const uint32_t chunkSize = small ? qnscript::kSmallChunk : qnscript::kLargeChunk;
    const uint32_t keys = small ? qnscript::kSmallKeys : qnscript::kLargeMaxChunks;
    uint32_t chunks = length == 0 ? 0 : (length - 1) / chunkSize + 1;
    if (chunks > keys)
        chunks = keys;  // the rest has no key; the reader refuses such a length
    if (dropLast && chunks > 1)
        --chunks;

    HostDescriptor d;
    const int32_t modeValue = static_cast<int32_t>(length) + (small ? qnscript::kSmallBase : qnscript::kLargeBase);
    if (modeFirst)
        d.PutInteger(qnscript::kModeKey, modeValue);
    const char* hex = reinterpret_cast<const char*>(text.data());
    for (uint32_t k = 0; k < chunks; ++k) {
        const uint32_t i = reverse ? chunks - 1 - k : k;
        const uint32_t start = i * chunkSize;
        const uint32_t n = length - start < chunkSize ? length - start : chunkSize;
        d.PutText(small ? qnscript::SmallKey(i) : qnscript::LargeKey(i), Chunk(i, hex + start, n));
    }
    if (!modeFirst)
        d.PutInteger(qnscript::kModeKey, modeValue);
    return d.Serialize();
}

bool Hex(const uint8_t* data, size_t n, std::vector<uint8_t>& text)
{
    CQNF_Mem mem;
    if (n == 0 || !qnscript::EncodeHex(data, static_cast<uint32_t>(n), mem))
        return false;
    text.assign(mem.GetPtr(), mem.GetPtr() + mem.GetSize());
    return true;
}

bool Pack(const uint8_t* data, size_t n, CQNF_Mem& packed)
{
    if (n == 0)
        return false;
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(data, n);
    zip.SetDestBlock(&packed);
    zip.SetMode(3);  // the fastest level: the reader does not care which
    return zip.Process();
}

std::vector<uint8_t> DescriptorFrom(const uint8_t* data, size_t size, uint8_t how)
{
    std::vector<uint8_t> text;
    switch (how & 0x03) {
    case 0:
        return std::vector<uint8_t>(data, data + size);
    case 1:
        text.assign(data, data + size);
        break;
    case 2:
        if (!Hex(data, size, text))
            return {};
        break;
    default: {
        CQNF_Mem packed;
        if (!Pack(data, size, packed) || !Hex(packed.GetPtr(), packed.GetSize(), text))
            return {};
        break;
    }
    }
    return ChunkedDescriptor(text, how);
}

void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "descriptor_replay: %s %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    const uint8_t how = data[0];
    const std::vector<uint8_t> descriptor = DescriptorFrom(data + 1, size - 1, how);
    if (descriptor.empty())
        return 0;  // no descriptor: the road would read "last.data", which is not ours to fuzz

    const ColorMode mode = (how & 0x80) ? ColorMode::Gray : ColorMode::RGB;
    const bool alpha = how & 0x40;
    StandInHost host(TinyDocument(mode, alpha), hostapp::HostSettings{});
    host.SetDescriptor(descriptor);
    const RasterImage before = host.Document().Target().pixels;

    auto plugin = std::make_unique<CPluginMain>();
    g_plugin = plugin.get();
    const int16_t result = host.Run(&Entry, StandInHost::Sequence::Replay);
    g_plugin = nullptr;

    if (!host.Violations().empty())
        Fail("host breach:", host.Violations().front());
    if (host.LeakedHandles() != 0)
        Fail("handles left:", std::to_string(host.LeakedHandles()));
    if (host.HeldSuites() != 0)
        Fail("suites held:", std::to_string(host.HeldSuites()));
    if (result != 0 && result != userCanceledErr && result != filterBadParameters && result != memFullErr)
        Fail("unexpected result:", std::to_string(result));
    if (result != 0 && host.Document().Target().pixels.planes != before.planes)
        Fail("failed run changed the document", "");
    return 0;
}
