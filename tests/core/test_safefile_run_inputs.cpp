// The libraries mapped into the process are files the run reads: the write
// gate refuses a file that leads to one from the moment it is loaded, as it
// refuses every other input.
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
TEST(RunInputs, ALibraryLoadedWhileRunningIsAnInputFromThen)
{
    std::string pattern = (fs::temp_directory_path() / "tessolo_loaded_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    Dl_info zlib{};
    ASSERT_NE(::dladdr(reinterpret_cast<const void*>(&zlibVersion), &zlib), 0);
    const std::string copy = (dir / "libz-copy.so.1").string();
    fs::copy_file(zlib.dli_fname, copy);
    const std::string soft = (dir / "soft.dat").string(), hard = (dir / "hard.dat").string();
    fs::create_symlink(copy, soft);
    fs::create_hard_link(copy, hard);
    const std::string before = Slurp(copy);
    EXPECT_EQ(qnWriteRefusal(soft), "");
    EXPECT_EQ(qnWriteRefusal(hard, QnWrite::OwnFile), "");

    void* loaded = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(loaded, nullptr) << ::dlerror();
    for (const std::string& out : {soft, hard}) {
        SCOPED_TRACE(out);
        EXPECT_NE(qnReplaceFile(out, "over", 4), 0);
        EXPECT_NE(qnGateRefusal(out).find("cannot write " + out + ": it would write over the input " + copy),
                  std::string::npos)
            << qnGateRefusal(out);
        EXPECT_NE(qnWriteRefusal(out, QnWrite::OwnFile).find(copy + ", a file this run reads"), std::string::npos)
            << qnWriteRefusal(out, QnWrite::OwnFile);
        EXPECT_TRUE(Slurp(copy) == before) << "the loaded library was written over";
    }
    EXPECT_TRUE(fs::is_symlink(soft));
    ::dlclose(loaded);
    std::error_code ec;
    fs::remove_all(dir, ec);
}
