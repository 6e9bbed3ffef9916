// Shared pieces of the export tests: a temporary folder, a configuration
// storage in it, a small picture cut into pieces by an even layout, the file
// names a folder holds, and independent readers run as programs.
#pragma once

#include "app/ExportPicture.h"
#include "app_fixture.h"
#include "core/Storage.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace export_test {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string t = (fs::temp_directory_path() / "tessolo-export-XXXXXX").string();
        path = ::mkdtemp(t.data()) ? fs::path(t) : fs::path();
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // Every entry, hidden ones included.
    std::set<std::string> Names() const
    {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(path))
            out.insert(e.path().filename().string());
        return out;
    }
};

struct Conf {
    TempDir dir;
    CQNF_Storage st;
    Conf() { EXPECT_TRUE(st.Open(CQNF_String((dir / "plugin.conf").c_str()), 2)); }
};

// A picture whose every pixel differs from its neighbours, so that a piece
// read back from the wrong place shows.
struct Picture {
    uint16_t w, h;
    std::vector<uint8_t> planes[3];
    Picture(uint16_t width, uint16_t height) : w(width), h(height)
    {
        for (int k = 0; k < 3; ++k) {
            planes[k].resize(size_t(w) * h);
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x)
                    planes[k][size_t(y) * w + x] = uint8_t((x * (3 + k) + y * (5 + 2 * k) + 17 * k) & 255);
        }
    }
};

// columns x rows cells of the default knife over the picture, cut and
// rendered (every piece with the default bevel).
struct Cut {
    app_test::Model layout;
    Picture picture;
    CExportPicture pieces;
    Cut(uint16_t w, uint16_t h, uint16_t columns, uint16_t rows) : layout(w, h), picture(w, h)
    {
        EXPECT_TRUE(layout.spl_SplitEvenParts(columns, rows, 1, 1));
        layout.spl_DoReFillKnivesFromCutter(0, 0.0f, 0.0f, 0.0f, 0);
        const uint8_t* p[3] = {picture.planes[0].data(), picture.planes[1].data(), picture.planes[2].data()};
        std::string error;
        EXPECT_TRUE(pieces.Cut(layout, p, w, w, h, nullptr, 0, nullptr, error)) << error;
    }
    CTessolo& Engine() { return pieces.Engine(); }
};

// Cancels once it has been asked `after` times.
class CancelAfter : public CQNF_Progress {
public:
    explicit CancelAfter(int after) : m_after(after) {}
    bool IsCanceled() override { return ++m_asked > m_after; }
    void Progress(uint8_t percent, void*) override { last = percent; }
    uint8_t last = 0;

private:
    int m_after;
    int m_asked = 0;
};

// The standard output of a shell command (empty when it cannot run).
inline std::string Capture(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(command.c_str(), "r"), ::pclose);
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p.get())) > 0)
        out.append(buf, n);
    return out;
}

inline bool HaveProgram(const std::string& check) { return std::system((check + " >/dev/null 2>&1").c_str()) == 0; }

// A Python that has psd-tools (the system's, when another one comes first on
// the path), or "".
inline std::string PsdToolsPython()
{
    for (const char* py : {"python3", "/usr/bin/python3"})
        if (HaveProgram(std::string(py) + " -c 'import psd_tools'"))
            return py;
    return "";
}

}  // namespace export_test
