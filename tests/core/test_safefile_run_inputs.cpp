// The libraries mapped into the process are files the run reads: the write
// gate refuses a file that leads to one from the moment it is loaded, as it
// refuses every other input.
#include "core/LibraryFile.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <dlfcn.h>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

// A library loaded while the program runs (as a plug-in and its window
// backend are) counts from then on: before, a link to its file may be
// written; after, neither a symbolic nor a hard link to it is, for an
// output or a file the program keeps for itself, and the file is unchanged.
// The refusal names it as the loaded library, by its path, whether it was
// loaded by its name or from the file opened to judge it.
TEST(RunInputs, ALibraryLoadedWhileRunningIsAnInputFromThen)
{
    std::string pattern = (fs::temp_directory_path() / "tessolo_loaded_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    Dl_info zlib{};
    ASSERT_NE(::dladdr(reinterpret_cast<const void*>(&zlibVersion), &zlib), 0);
    for (const bool opened : {false, true}) {
        SCOPED_TRACE(opened ? "loaded from its open file" : "loaded by its name");
        const std::string way = opened ? "opened" : "named";
        const std::string copy = (dir / ("libz-" + way + ".so.1")).string();
        fs::copy_file(zlib.dli_fname, copy);
        const std::string soft = (dir / (way + "-soft.dat")).string(), hard = (dir / (way + "-hard.dat")).string();
        fs::create_symlink(copy, soft);
        fs::create_hard_link(copy, hard);
        const std::string before = Slurp(copy);
        EXPECT_EQ(qnWriteRefusal(soft).Line(), "");
        EXPECT_EQ(qnWriteRefusal(hard, QnWrite::OwnFile).Line(), "");

        qnOpenLibrary library(copy);
        void* loaded = opened ? library.Load(RTLD_NOW | RTLD_LOCAL) : ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(loaded, nullptr) << (opened ? library.LoadError() : ::dlerror());
        for (const std::string& out : {soft, hard}) {
            SCOPED_TRACE(out);
            EXPECT_NE(qnReplaceFile(out, "over", 4), 0);
            EXPECT_EQ(qnGateRefusal(out).Line(), "cannot write " + out + ": it would write over the loaded library " + copy +
                                              "; name another output");
            EXPECT_EQ(qnWriteRefusal(out, QnWrite::OwnFile).Line(),
                      "cannot write " + out + ": it leads to " + copy + ", the loaded library");
            EXPECT_TRUE(Slurp(copy) == before) << "the loaded library was written over";
        }
        EXPECT_TRUE(fs::is_symlink(soft));
        ::dlclose(loaded);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

// Each file the run reads is named as what it is, in the gate's line for an
// output and for a file the program keeps for itself alike: the files the
// program said are the plug-in's as the plug-in's own, the program's own
// file as such, a file the user named as the input. A file the user named
// that is also a loaded library stays the input.
TEST(RunInputs, EachFileTheRunReadsIsNamedAsWhatItIs)
{
    std::string pattern = (fs::temp_directory_path() / "tessolo_what_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    const auto made = [&](const char* name) {
        const std::string path = (dir / name).string();
        std::ofstream(path) << name;
        return path;
    };
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    Dl_info zlib{};
    ASSERT_NE(::dladdr(reinterpret_cast<const void*>(&zlibVersion), &zlib), 0);
    const struct {
        std::string path;
        QnRunInput kind;
        std::string what;
    } cases[] = {
        {made("picture.png"), QnRunInput::Input, "the input"},
        {made("Plugin.so"), QnRunInput::PluginLibrary, "the plug-in's library"},
        {made("plugin.conf"), QnRunInput::PluginSettings, "the plug-in's settings"},
        {made("skin.qns4"), QnRunInput::PluginSkin, "the plug-in's skin"},
        {made("Help.pdf"), QnRunInput::PluginHelp, "the plug-in's help guide"},
        {made("backend.so"), QnRunInput::WindowBackend, "the plug-in's window backend"},
        {self, QnRunInput::Input, "the program's own file"},
        {zlib.dli_fname, QnRunInput::Input, "the loaded library"},
    };
    for (const auto& c : cases)
        if (c.what != "the program's own file" && c.what != "the loaded library")
            qnAddRunInputs({c.path}, c.kind);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(qnRunInputWhat(c.path), c.what);
        const std::string out = (dir / "out.dat").string();
        fs::create_symlink(c.path, out);
        EXPECT_EQ(qnWriteRefusal(out).Line(),
                  "cannot write " + out + ": it would write over " + c.what + " " + c.path + "; name another output");
        EXPECT_EQ(qnWriteRefusal(out, QnWrite::OwnFile).Line(),
                  "cannot write " + out + ": it leads to " + c.path + ", " +
                      (c.what == "the input" ? std::string("a file this run reads") : c.what));
        fs::remove(out);
    }
    // Named by the user, the loaded library is the user's input.
    qnAddRunInputs({zlib.dli_fname});
    EXPECT_EQ(qnRunInputWhat(zlib.dli_fname), "the input");
    std::error_code ec;
    fs::remove_all(dir, ec);
}
