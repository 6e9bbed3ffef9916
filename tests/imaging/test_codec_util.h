// Helpers shared by the codec tests.
#pragma once

#include "core/Progress.h"
#include "core/StdFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace codectest {

using Bytes = std::vector<unsigned char>;

// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("tessolo_codec_") + (info ? info->test_suite_name() : "x") + "_" +
                           (info ? info->name() : "y");
        for (char& c : name)
            if (c == '/')
                c = '_';
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline Bytes ReadAll(const std::string& path)
{
    // One read of the whole file: byte by byte is slow in a debug build.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes b(in ? static_cast<size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return b;
}

inline void WriteAll(const std::string& path, const Bytes& b)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Big-endian appends, to spell out expected file bytes.
struct BE {
    Bytes b;
    BE& u8(unsigned v)
    {
        b.push_back(static_cast<unsigned char>(v));
        return *this;
    }
    BE& u16(unsigned v) { return u8(v >> 8).u8(v); }
    BE& u32(uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
    BE& tag(const char* s)
    {
        while (*s)
            u8(static_cast<unsigned char>(*s++));
        return *this;
    }
    BE& raw(const Bytes& r)
    {
        b.insert(b.end(), r.begin(), r.end());
        return *this;
    }
    BE& zeros(size_t n)
    {
        b.insert(b.end(), n, 0);
        return *this;
    }
};

// Records every report; cancels once a report reaches cancelAt.
class RecordingProgress : public CQNF_Progress {
public:
    explicit RecordingProgress(int cancelAt = 1000) : m_cancelAt(cancelAt) {}
    void Progress(uint8_t percent, void* data) override
    {
        reports.push_back(percent);
        lastData = data;
        if (percent >= m_cancelAt)
            Cancel();
    }
    std::vector<int> reports;
    void* lastData = nullptr;

private:
    int m_cancelAt;
};

inline bool Rising(const std::vector<int>& r)
{
    for (size_t i = 1; i < r.size(); ++i)
        if (r[i] < r[i - 1])
            return false;
    return true;
}

// Runs a shell command; true when it exits with 0.
inline bool Sh(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

}  // namespace codectest
