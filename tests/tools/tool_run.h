// Running the system's programs from a test: exit code and both outputs.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

inline Result RunProgram(const char* program, const std::string& args)
{
    // CTest runs the tests of this program side by side: each call gets its
    // own capture files.
    static int calls = 0;
    const std::string base = ::testing::TempDir() + "tool_" + std::to_string(getpid()) + "_" + std::to_string(++calls);
    const std::string out = base + ".out", err = base + ".err";
    const std::string cmd = std::string("'") + program + "' " + args + " >'" + out + "' 2>'" + err + "'";
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
