// A resource storage for control tests, built record by record in a fresh
// temporary file: skin images, hot zones, fonts and plain number records laid
// out as the resource file holds them.
#pragma once

#include "core/Storage.h"
#include "core/Types.h"
#include "core/ZipBlock.h"
#include "ui/gallery/ResourceWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace ctrltest {

inline std::vector<uint8_t> Zip(const std::vector<uint8_t>& bytes) { return qnui::Pack(bytes); }

// The unpacked image record; pixel(x, y) gives the RGBA of each pixel by its
// window coordinates.
inline std::vector<uint8_t> ImageRecord(qntRECT_s r, const std::function<qntRGBA8(int, int)>& pixel)
{
    return qnui::ImageRecordBytes(r, [&](int32_t x, int32_t y) {
        return pixel ? pixel(int(r.left + x), int(r.top + y)) : qntRGBA8{0, 0, 0, 0};
    });
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
    void Folder(const std::string& key) { EXPECT_TRUE(qnui::ResourceWriter(storage).Folder(key)) << key; }
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
