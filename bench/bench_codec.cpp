// Codec speed: PackBits, PSD writing (layers and merged image), PNG encoding
// (the fast form of a 24-megapixel picture beside libpng's own compressor)
// and decoding, JPEG decoding and the refusal of a file that repeats a scan. Files go to a temporary folder.
//   build/release/bench/bench_codec   (the release build scripts/test.sh makes)
#include "imaging/JPEGCodec.h"
#include "imaging/JPEGSource.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDCodec.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string TempPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// A picture-like plane: smooth gradients with some noise, so that both
// PackBits runs and literals occur.
Bytes Plane(uint32_t w, uint32_t h, unsigned seed)
{
    Bytes p(size_t{w} * h);
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            p[size_t{y} * w + x] = static_cast<unsigned char>((x / 4 + y / 3 + seed * 40) + (rng() % 8 == 0 ? rng() % 16 : 0));
    return p;
}

void BM_PackBits(benchmark::State& state)
{
    const Bytes row = Plane(static_cast<uint32_t>(state.range(0)), 1, 1);
    Bytes out(CQNF_ImagePSD::PackBitsBound(row.size()));
    for (auto _ : state) {
        long n = 0;
        CQNF_ImagePSD::PackBits(row.data(), static_cast<long>(row.size()), out.data(), &n);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(row.size()));
}
BENCHMARK(BM_PackBits)->Arg(256)->Arg(4096);

// A document of side x side cut into an n x n grid of layers.
void BM_PSDWrite(benchmark::State& state)
{
    const uint32_t side = static_cast<uint32_t>(state.range(0));
    const uint32_t grid = static_cast<uint32_t>(state.range(1));
    const uint32_t cell = side / grid;
    std::vector<Bytes> planes;
    for (unsigned k = 0; k < 4; ++k)
        planes.push_back(Plane(cell, cell, k));
    const std::string path = TempPath("tessolo_bench.psd");
    for (auto _ : state) {
        CQNF_StdFile file;
        file.Open(path.c_str(), 2);
        CQNF_ImagePSD psd;
        CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
        init.width = static_cast<uint16_t>(side);
        init.height = static_cast<uint16_t>(side);
        init.mode = qncodec::ModeColour;
        init.globalAngle = 130;
        psd.Create(file);
        psd.Write_Init(&init);
        for (uint32_t gy = 0; gy < grid; ++gy)
            for (uint32_t gx = 0; gx < grid; ++gx) {
                CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS l;
                l.width = l.height = static_cast<uint16_t>(cell);
                l.x = static_cast<int16_t>(gx * cell);
                l.y = static_cast<int16_t>(gy * cell);
                std::snprintf(l.name, sizeof l.name, "Layer %u", gy * grid + gx);
                unsigned char* p[5] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data(), nullptr};
                psd.Write_AddLayer(&l, p, cell);
            }
        if (!psd.WritePSD())
            state.SkipWithError("WritePSD failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
    std::remove(path.c_str());
}
BENCHMARK(BM_PSDWrite)->Args({1024, 4})->Args({1024, 16})->Unit(benchmark::kMillisecond);

// Encodes planes (RGBA when four, RGB when three) into a temporary file
// and returns its bytes.
Bytes EncodePNG(uint32_t w, uint32_t h, const std::vector<Bytes>& planes,
                CQNF_ImagePNG::PNGWRITE_PARAMS::Speed speed = CQNF_ImagePNG::PNGWRITE_PARAMS::Speed::Default)
{
    CQNF_ImagePNG::PNGWRITE_PARAMS p;
    p.width = static_cast<uint16_t>(w);
    p.height = static_cast<uint16_t>(h);
    p.mode = planes.size() == 4 ? CQNF_ImagePNG::WriteRGBA : CQNF_ImagePNG::WriteRGB;
    for (size_t k = 0; k < planes.size(); ++k)
        p.planes[k] = const_cast<unsigned char*>(planes[k].data());
    p.stride = w;
    p.product = "bench";
    p.speed = speed;
    const std::string path = TempPath("tessolo_bench.png");
    CQNF_StdFile file;
    file.Open(path.c_str(), 2);
    CQNF_ImagePNG png;
    png.Create(file);
    png.WritePNG(&p);
    file.Close();
    std::ifstream in(path, std::ios::binary);
    Bytes out(std::istreambuf_iterator<char>(in), {});
    std::remove(path.c_str());
    return out;
}

std::vector<Bytes> Planes(uint32_t w, uint32_t h, unsigned count)
{
    std::vector<Bytes> planes;
    for (unsigned k = 0; k < count; ++k)
        planes.push_back(Plane(w, h, k));
    return planes;
}

Bytes EncodePNG(uint32_t side) { return EncodePNG(side, side, Planes(side, side, 4)); }

void BM_PNGEncode(benchmark::State& state)
{
    const uint32_t side = static_cast<uint32_t>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodePNG(side).size());
    state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
}
BENCHMARK(BM_PNGEncode)->Arg(1024)->Unit(benchmark::kMillisecond);

// The user's road: a 24-megapixel RGB picture saved fast (zlib level 1, Sub
// on every row), in bands on every core the process may use, beside the same
// settings through libpng's own row-by-row compressor on one thread (what
// the fast form was before the bands).
void BM_PNGEncodeFast(benchmark::State& state)
{
    const uint32_t w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const std::vector<Bytes> planes = Planes(w, h, 3);
    size_t size = 0;
    for (auto _ : state)
        size = EncodePNG(w, h, planes, CQNF_ImagePNG::PNGWRITE_PARAMS::Speed::Fast).size();
    state.counters["MB"] = double(size) / 1e6;
}
BENCHMARK(BM_PNGEncodeFast)->Args({6000, 4000})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

extern "C" void BenchPngCount(png_structp png, png_bytep, png_size_t n) { *static_cast<size_t*>(png_get_io_ptr(png)) += n; }
extern "C" void BenchPngFlush(png_structp) {}

void BM_PNGEncodeFastLibpng(benchmark::State& state)
{
    const uint32_t w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const std::vector<Bytes> planes = Planes(w, h, 3);
    Bytes row(size_t{w} * 3);
    size_t size = 0;
    for (auto _ : state) {
        size = 0;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(png, &size, BenchPngCount, BenchPngFlush);
        png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 1);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_write_info(png, info);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x)
                for (unsigned c = 0; c < 3; ++c)
                    row[size_t{x} * 3 + c] = planes[c][size_t{y} * w + x];
            png_write_row(png, row.data());
        }
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
    }
    state.counters["MB"] = double(size) / 1e6;
}
BENCHMARK(BM_PNGEncodeFastLibpng)->Args({6000, 4000})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PNGDecode(benchmark::State& state)
{
    const uint32_t side = static_cast<uint32_t>(state.range(0));
    const Bytes file = EncodePNG(side);
    for (auto _ : state) {
        CQNF_ImagePNG png;
        if (!png.ParseImageByPtr(file.data(), file.size()))
            state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
}
BENCHMARK(BM_PNGDecode)->Arg(1024)->Unit(benchmark::kMillisecond);

// A JPEG of the library's compressor: colour (from Plane) or flat grey,
// baseline or progressive.
Bytes EncodeJPEG(uint32_t side, bool grey, bool progressive)
{
    const int components = grey ? 1 : 3;
    Bytes pixels(size_t{side} * side * components, 128);
    for (unsigned c = 0; !grey && c < 3; ++c) {
        const Bytes p = Plane(side, side, c);
        for (size_t i = 0; i < p.size(); ++i)
            pixels[i * 3 + c] = p[i];
    }
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = c.image_height = side;
    c.input_components = components;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    for (uint32_t y = 0; y < side; ++y) {
        JSAMPROW row = pixels.data() + size_t{y} * side * components;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    const Bytes file(mem, mem + size);
    std::free(mem);
    return file;
}

void BM_JPEGDecode(benchmark::State& state)
{
    const uint32_t side = static_cast<uint32_t>(state.range(0));
    const Bytes file = EncodeJPEG(side, false, false);
    for (auto _ : state) {
        CQNF_ImageJPEG jpeg;
        if (!jpeg.ParseImageByPtr(file.data(), file.size()))
            state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
}
BENCHMARK(BM_JPEGDecode)->Arg(1024)->Unit(benchmark::kMillisecond);

// Refusing a small progressive file that repeats its last scan (a refinement
// of every coefficient) over and over: 8000 x 8000 grey, the scan 2,000
// times in under 0.5 MB. Each repeat would be a pass over a million blocks.
void BM_JPEGRefuseRepeatedScan(benchmark::State& state)
{
    const Bytes whole = EncodeJPEG(8000, true, true);
    size_t last = 0;
    for (size_t i = 2; i + 1 < whole.size(); ++i)
        if (whole[i] == 0xFF && whole[i + 1] == 0xDA)
            last = i;
    const Bytes scan(whole.begin() + static_cast<long>(last), whole.end() - 2);
    Bytes file(whole.begin(), whole.end() - 2);
    for (int64_t k = 0; k < state.range(0); ++k)
        file.insert(file.end(), scan.begin(), scan.end());
    file.push_back(0xFF);
    file.push_back(0xD9);
    for (auto _ : state) {
        CQNF_ImageJPEG jpeg;
        if (jpeg.ParseImageByPtr(file.data(), file.size()) || jpeg.GetError() != qncodec::ErrCorrupt)
            state.SkipWithError("the file was not refused as damaged");
    }
    state.counters["bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_JPEGRefuseRepeatedScan)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
