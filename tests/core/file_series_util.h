// What the tests of a PNG series share: folders' contents, series written
// whole or killed in their commits, and what a folder holds after.
#pragma once

#include "core/FileSeries.h"

#include "test_storage_util.h"

#include <signal.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace series_test {

using namespace storage_test;
namespace fs = std::filesystem;


inline std::map<std::string, std::string> Contents(const std::string& dir)
{
    std::map<std::string, std::string> all;
    for (const auto& e : fs::directory_iterator(dir)) {
        const Bytes b = e.is_regular_file() ? ReadFile(e.path().string()) : Bytes{};
        all[e.path().filename().string()] = e.is_regular_file() ? std::string(b.begin(), b.end()) : "(folder)";
    }
    return all;
}

inline void Put(const std::string& path, const std::string& text) { WriteFile(path, Bytes(text.begin(), text.end())); }

// Stages names (each holding tag and its name) in a series begun in dir and
// commits it; false with the failure in failure.
inline bool WriteSeries(CQNF_FileSeries& series, const std::string& dir, const std::vector<std::string>& names,
                 const std::string& tag, std::string& failure)
{
    bool ok = series.Begin(dir);
    for (size_t k = 0; ok && k < names.size(); ++k) {
        Put(series.StagedPath(names[k]), tag + names[k]);
        series.Add(names[k]);
    }
    ok = ok && series.Commit();
    failure = series.Failure();
    return ok;
}

inline bool WriteSeries(const std::string& dir, const std::vector<std::string>& names, const std::string& tag)
{
    CQNF_FileSeries series;
    std::string failure;
    return WriteSeries(series, dir, names, tag, failure);
}

enum class Holds { OldSet, NewSet, Neither };

// What a folder holds of a series written over before: exactly what it held
// (the old set), that with every name of the series holding tag and its
// name (the new set), or neither. Names in ignore are left out of the
// comparison; a staging folder left behind makes it neither.
inline Holds Judge(std::map<std::string, std::string> now, const std::map<std::string, std::string>& before,
            const std::vector<std::string>& names, const std::string& tag, const std::vector<std::string>& ignore)
{
    for (const std::string& name : ignore)
        now.erase(name);
    std::map<std::string, std::string> fresh = before;
    for (const std::string& name : names)
        fresh[name] = tag + name;
    return now == before ? Holds::OldSet : now == fresh ? Holds::NewSet : Holds::Neither;
}

inline std::vector<std::string> Names(size_t count)
{
    std::vector<std::string> names;
    for (size_t k = 1; k <= count; ++k)
        names.push_back("p_" + std::to_string(k) + ".png");
    return names;
}

// A folder holding old files under the first three names of a series and one
// file that is no part of it.
inline std::map<std::string, std::string> PutOldFiles(const std::string& dir, const std::vector<std::string>& names)
{
    for (size_t k = 0; k < 3 && k < names.size(); ++k)
        Put(dir + "/" + names[k], "old " + names[k]);
    Put(dir + "/notes.txt", "not in the series");
    return Contents(dir);
}

// In a child process: how many targets its commit replaces before it
// kills itself, and where it says that its commit has begun.
inline size_t g_killWhenPlaced = 0;
inline int g_commitBegunFd = -1;

inline void KillWhenPlaced(size_t placed)
{
    if (placed == g_killWhenPlaced)
        ::kill(::getpid(), SIGKILL);
}

inline void SayCommitBegun(size_t placed)
{
    if (placed == 0)
        (void)!::write(g_commitBegunFd, "c", 1);
}

// Runs a series in a child process started in the folder from; false
// when it fails (its failure printed) or dies.
inline bool WriteSeriesFrom(const std::string& from, const std::string& dir, const std::vector<std::string>& names,
                     const std::string& tag)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        CQNF_FileSeries series;
        std::string failure;
        const bool ok = ::chdir(from.c_str()) == 0 && WriteSeries(series, dir, names, tag, failure);
        if (!ok)
            std::fprintf(stderr, "%s\n", failure.c_str());
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether a run started in the folder from, writing names (tagged "new ")
// into dir, was killed by SIGKILL after its commit placed killWhenPlaced.
inline bool KilledInCommit(const std::string& from, const std::string& dir, const std::vector<std::string>& names,
                    size_t killWhenPlaced)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        g_killWhenPlaced = killWhenPlaced;
        CQNF_FileSeries::SetCommitHook(KillWhenPlaced);
        ::_exit(::chdir(from.c_str()) == 0 && WriteSeries(dir, names, "new ") ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// The staging folder a dead run left in dir (empty: none).
inline std::string StagingFolder(const std::string& dir)
{
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_directory() && e.path().filename().string().find(CQNF_FileSeries::kStagingMark) != std::string::npos)
            return e.path().string();
    return {};
}

// A name a series gives its staging folders, as a series begun in a
// scratch folder took it.
inline std::string OwnStagingName()
{
    TempDir scratch;
    CQNF_FileSeries series;
    if (!series.Begin(scratch.Path()))
        return {};
    const std::string name = fs::path(StagingFolder(scratch.Path())).filename().string();
    series.Abandon();
    return name;
}

// Makes a vfat image of 8 MiB at image and mounts it at folder through
// fusefat, a FUSE disk that can neither rename without replacing nor give a
// file a second name, and gives new inode numbers at each mount; or, with
// make false, mounts the image made before. Empty, or why it could not.
inline std::string MountFusefat(const std::string& image, const std::string& folder, bool make = true)
{
    if (make) {
        std::ofstream(image).close();
        fs::resize_file(image, 8 << 20);
        if (std::system(("mkfs.vfat '" + image + "' > /dev/null").c_str()) != 0)
            return "mkfs.vfat failed (scripts/setup.sh installs dosfstools)";
    }
    if (std::system(("fusefat -o rw+ '" + image + "' '" + folder + "' > /dev/null 2>&1").c_str()) != 0)
        return "cannot mount a vfat image through fusefat (scripts/setup.sh installs it)";
    struct statfs fsSt;
    if (::statfs(folder.c_str(), &fsSt) != 0 || fsSt.f_type != 0x65735546)
        return "fusefat mounted no FUSE disk";
    return {};
}

// Empty when fsck.vfat finds the unmounted image at image clean (it says
// its version and how many files and clusters are in use, no more); else
// what it found.
inline std::string VfatNotClean(const std::string& image)
{
    FILE* fsck = ::popen(("fsck.vfat -n '" + image + "' 2>&1").c_str(), "r");
    std::string found;
    char chunk[256];
    for (size_t n; fsck && (n = std::fread(chunk, 1, sizeof chunk, fsck)) > 0;)
        found.append(chunk, n);
    const bool clean = fsck && ::pclose(fsck) == 0;
    size_t lines = 0;
    for (const char c : found)
        lines += c == '\n';
    return clean && lines == 2 ? std::string() : "fsck.vfat -n finds the disk not clean:\n" + found;
}

// The lines of text, without their ends.
inline std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> all;
    for (size_t from = 0, end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        all.push_back(text.substr(from, end - from));
    return all;
}

// Staging folders in dir as count runs killed once they had begun left
// them: their names.
inline std::vector<std::string> DeadRunsStagingFolders(const std::string& dir, size_t count)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        // Each run's folder stays locked while the next begins, as a live
        // run's does, so no run's sweep takes another's.
        std::vector<std::unique_ptr<CQNF_FileSeries>> runs;
        std::string names;
        for (size_t k = 0; k < count; ++k) {
            runs.push_back(std::make_unique<CQNF_FileSeries>());
            if (!runs.back()->Begin(dir))
                ::_exit(1);
            names += fs::path(runs.back()->StagedPath("x")).parent_path().filename().string() + "\n";
        }
        ::_exit(::write(pipeFds[1], names.data(), names.size()) == ssize_t(names.size()) ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return LinesOf(text);
}

}  // namespace series_test
