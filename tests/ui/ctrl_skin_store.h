// A resource storage for control tests, built record by record in a fresh
// temporary file: skin images, hot zones, fonts and plain number records laid
// out as the resource file holds them.
#pragma once

#include "core/Storage.h"
#include "core/Types.h"
#include "core/ZipBlock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace ctrltest {

inline std::vector<uint8_t> Zip(const std::vector<uint8_t>& bytes)
{
    CQNF_Mem out;
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(bytes.data(), bytes.size());
    zip.SetDestBlock(&out);
    zip.SetMode(1);
    EXPECT_TRUE(zip.Process());
    return std::vector<uint8_t>(out.GetPtr(), out.GetPtr() + out.GetSize());
}

// The unpacked image record: BE left, top, right, bottom, then the planes.
// pixel(x, y) gives the RGBA of each window-coordinate pixel.
inline std::vector<uint8_t> ImageRecord(qntRECT_s r, const std::function<qntRGBA8(int, int)>& pixel)
{
    const size_t w = size_t(r.right - r.left);
    const size_t h = size_t(r.bottom - r.top);
    std::vector<uint8_t> rec(8 + 4 * w * h);
    const int32_t v[4] = {r.left, r.top, r.right, r.bottom};
    for (int i = 0; i < 4; ++i) {
        rec[size_t(2 * i)] = uint8_t(v[i] >> 8);
        rec[size_t(2 * i + 1)] = uint8_t(v[i]);
    }
    for (size_t y = 0; y < h; ++y) {
        for (size_t x = 0; x < w; ++x) {
            const qntRGBA8 c = pixel(int(r.left + int32_t(x)), int(r.top + int32_t(y)));
            rec[8 + 0 * w * h + y * w + x] = c.r;
            rec[8 + 1 * w * h + y * w + x] = c.g;
            rec[8 + 2 * w * h + y * w + x] = c.b;
            rec[8 + 3 * w * h + y * w + x] = c.a;
        }
    }
    return rec;
}

class SkinStore {
public:
    SkinStore()
    {
        static std::atomic<int> serial{0};
        dir_ = std::filesystem::temp_directory_path() /
               ("tessolo_ctrl_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "skin.qns4").string();
        EXPECT_TRUE(storage.Open(CQNF_String(path_.c_str()), 2));
    }
    ~SkinStore()
    {
        storage.Close();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    SkinStore(const SkinStore&) = delete;
    SkinStore& operator=(const SkinStore&) = delete;

    // Makes the folder and every missing parent.
    void Folder(const std::string& key)
    {
        std::string path;
        size_t from = 0;
        while (from <= key.size()) {
            const size_t cut = key.find('>', from);
            path = key.substr(0, cut);
            if (storage.GetRecType(CQNF_String(path.c_str())) == kQnStorageNoRecord) {
                EXPECT_TRUE(storage.AddFolder(CQNF_String(path.c_str()))) << path;
            }
            if (cut == std::string::npos) {
                break;
            }
            from = cut + 1;
        }
    }
    void Bytes(const std::string& key, const std::vector<uint8_t>& bytes)
    {
        EXPECT_TRUE(storage.SetRecord(CQNF_String(key.c_str()), bytes.data(), uint32_t(bytes.size()))) << key;
    }
    // A solid image record (zip-packed) at the rectangle.
    void Image(const std::string& key, qntRECT_s r, qntRGBA8 colour)
    {
        Bytes(key, Zip(ImageRecord(r, [&](int, int) { return colour; })));
    }
    void Image(const std::string& key, qntRECT_s r, const std::function<qntRGBA8(int, int)>& pixel)
    {
        Bytes(key, Zip(ImageRecord(r, pixel)));
    }
    template <typename T>
    void Number(const std::string& key, T value)
    {
        EXPECT_TRUE(storage.SetRecord(CQNF_String(key.c_str()), value)) << key;
    }

    // Closes the storage so that another reader can open the file.
    void Finish() { storage.Close(); }
    const std::string& Path() const { return path_; }

    CQNF_Storage storage;

private:
    std::filesystem::path dir_;
    std::string path_;
};

}  // namespace ctrltest
