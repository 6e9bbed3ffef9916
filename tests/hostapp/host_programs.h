// Test helper: the built programs run as a user runs them, each run with a
// copy of the plug-in bundle in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace host_test {

namespace fs = std::filesystem;

// A copy of the bundle in a folder of its own, so runs never share
// "plugin.conf" or "last.data".
class Bundle {
public:
    Bundle()
    {
        std::string pattern = (fs::temp_directory_path() / "tessolo_bundle_XXXXXX").string();
        EXPECT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::copy_file(TESSOLO_PLUGIN_FILE, dir / "Tessolo.so");
    }
    ~Bundle()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

inline int RunProgram(const std::string& program, const std::string& args, std::string* output = nullptr)
{
    const std::string command = program + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    std::array<char, 256> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        text.append(buf.data(), n);
    const int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int Host(const Bundle& b, const std::string& args, std::string* output = nullptr)
{
    return RunProgram(TESSOLO_HOST_FILE, "--plugin " + b.Path("Tessolo.so") + " " + args, output);
}

}  // namespace host_test
