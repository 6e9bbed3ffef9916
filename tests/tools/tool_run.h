// Running the system's programs from a test: exit code and both outputs.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// tessolo-host keeps its settings in the plug-in's folder: this program's
// runs of it use a copy of the build's plug-in in a folder of their own
// (each test is a process of its own under CTest), removed at exit.
inline const std::string& OwnPluginFolder()
{
    static const struct Folder {
        std::string path;
        Folder()
        {
            namespace fs = std::filesystem;
            std::string pattern = (fs::temp_directory_path() / "tessolo_tools_XXXXXX").string();
            if (!mkdtemp(pattern.data()))
                return;
            path = pattern;
            std::error_code ec;
            const fs::path bundle = fs::path(TESSOLO_HOST).parent_path().parent_path() / "bundle" / "Tessolo";
            for (const auto& f : fs::directory_iterator(bundle, ec))
                if (f.path().extension() == ".so" || f.path().extension() == ".qns4")
                    fs::copy_file(f.path(), fs::path(path) / f.path().filename(), ec);
        }
        ~Folder()
        {
            if (!path.empty())
                std::filesystem::remove_all(path);
        }
    } folder;
    return folder.path;
}

// stdoutTo: where standard output goes instead of Result::out: a file
// ("/dev/full"), or a redirection of the shell's as it is (">&-" closes it,
// "<>'FILE'" opens FILE for reading and writing, ">>'FILE'" appends).
inline Result RunProgram(const char* program, const std::string& args, const std::string& stdoutTo = "")
{
    // CTest runs the tests of this program side by side: each call gets its
    // own capture files.
    static int calls = 0;
    const std::string base = ::testing::TempDir() + "tool_" + std::to_string(getpid()) + "_" + std::to_string(++calls);
    const std::string out = base + ".out", err = base + ".err";
    const std::string plugin =
        std::strcmp(program, TESSOLO_HOST) == 0 ? "TESSOLO_PLUGIN='" + OwnPluginFolder() + "/Tessolo.so' " : "";
    const bool redirection = !stdoutTo.empty() && std::strchr("<>", stdoutTo[0]);
    const std::string to = redirection ? stdoutTo : ">'" + (stdoutTo.empty() ? out : stdoutTo) + "'";
    const std::string cmd = plugin + "'" + program + "' " + args + " 1" + to + " 2>'" + err + "'";
    const int status = std::system(cmd.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

inline Result RunTool(const std::string& args) { return RunProgram(TESSOLO_TOOL, args); }

inline size_t Lines(const std::string& s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

// A folder of its own for one test, removed after it.
class Folder {
public:
    explicit Folder(const std::string& name)
        : m_path(::testing::TempDir() + name + "_" + std::to_string(::getpid()))
    {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};
