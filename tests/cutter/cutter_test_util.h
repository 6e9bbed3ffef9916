// Shared pieces of the knife shape tests: temporary files, sample shapes, an
// in-memory presets file with failures on demand, and containers built
// record by record (for files no writer of ours would make).
#pragma once

#include "core/Mem.h"
#include "core/Storage.h"
#include "core/String.h"
#include "cutter/CutterModel.h"
#include "cutter/PresetsModel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace cutter_test {

using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;
using PM = CWnd_PresetsManagerModel;
using Bytes = std::vector<uint8_t>;

// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        static int made = 0;
        m_path = std::filesystem::path(::testing::TempDir()) /
                 ("cutter_" + std::to_string(getpid()) + "_" + std::to_string(++made) + "_" + name);
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& b)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline Bytes ToBytes(const CQNF_Mem& m) { return Bytes(m.GetPtr(), m.GetPtr() + m.GetSize()); }

// n nodes with distinct values, H running past -3..3 on purpose.
inline SPLINE MakeShape(uint32_t n)
{
    SPLINE s{};
    s.nodeCount = uint8_t(n);
    for (uint32_t i = 0; i < n; ++i) {
        s.pos[i].U = i / 64.0 + 1.0 / 3.0;
        s.pos[i].H = (i % 2 ? -1.0 : 1.0) * (0.1 + i * 0.07);
        s.S[i] = (i % 11) / 10.0;
    }
    return s;
}

// A shape that no read may ever produce, to see that refusals leave it.
inline SPLINE Sentinel()
{
    SPLINE s{};
    s.nodeCount = 3;
    for (int i = 0; i < 3; ++i) {
        s.pos[i] = {7.5 + i, -7.5 - i};
        s.S[i] = 42.0;
        s.selected[i] = uint8_t(i % 2);
    }
    return s;
}

inline bool SameShape(const SPLINE& a, const SPLINE& b) { return qnSameShapeValues(a, b); }

// A stamped container of whatever records fill writes.
inline Bytes Container(const std::function<void(CQNF_Storage&)>& fill)
{
    CQNF_Mem image;
    const ShapeIoError e = qnBuildStorageImage(
        [&](CQNF_Storage& st) {
            fill(st);
            return ShapeIoError::None;
        },
        image);
    EXPECT_EQ(e, ShapeIoError::None);
    return ToBytes(image);
}

// "ckss.data" in memory; reads and writes can be made to fail.
class MemPresetsFile : public CQNF_PresetsFile {
public:
    bool exists = false;
    bool failRead = false;
    bool failWrite = false;
    int writes = 0;
    Bytes bytes;

    ReadResult Read(Bytes& out) override
    {
        if (failRead)
            return ReadResult::Failed;
        if (!exists)
            return ReadResult::Absent;
        out = bytes;
        return ReadResult::Ok;
    }
    bool Write(const void* data, size_t size) override
    {
        if (failWrite)
            return false;
        ++writes;
        exists = true;
        bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return true;
    }
    // The store holding these names (each shape of i + 1 nodes).
    void Hold(const std::vector<std::string>& names)
    {
        std::vector<PM::SHAPESETREC> recs;
        for (size_t i = 0; i < names.size(); ++i)
            recs.push_back(PM::MakeRecord(names[i].c_str(), MakeShape(uint32_t(i % 64) + 1)));
        exists = true;
        bytes.assign(reinterpret_cast<const uint8_t*>(recs.data()),
                     reinterpret_cast<const uint8_t*>(recs.data()) + recs.size() * sizeof(PM::SHAPESETREC));
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> out;
        for (size_t at = 0; at + sizeof(PM::SHAPESETREC) <= bytes.size(); at += sizeof(PM::SHAPESETREC))
            out.emplace_back(reinterpret_cast<const char*>(bytes.data() + at));
        return out;
    }
};

inline std::vector<std::string> Names(const PM& model)
{
    std::vector<std::string> out;
    for (const auto& r : model.Records())
        out.emplace_back(r.name);
    return out;
}

// A set image of records named as given (shape i of i % 5 nodes).
inline Bytes SetImage(const std::vector<std::string>& names)
{
    std::vector<PM::SHAPESETREC> recs;
    for (size_t i = 0; i < names.size(); ++i)
        recs.push_back(PM::MakeRecord(names[i].c_str(), MakeShape(uint32_t(i % 5))));
    std::vector<const PM::SHAPESETREC*> ptrs;
    for (const auto& r : recs)
        ptrs.push_back(&r);
    CQNF_Mem image;
    EXPECT_EQ(PM::ShapeSetImage(ptrs, image), ShapeIoError::None);
    return ToBytes(image);
}

}  // namespace cutter_test
