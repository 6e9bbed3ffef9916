// Where the host's output goes when the files around it change during the
// run: a second actor works while the host is held between its checks and
// its write, by a plug-in that waits at a gate the test opens. And which
// files it never writes: any file the run reads or loads.
#include "host_programs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the host with the gate plug-in, TESSOLO_GATE naming gate; its
// output goes to log.
pid_t StartHost(const fs::path& gate, const std::string& input, const std::string& output, const fs::path& log)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("TESSOLO_GATE", gate.c_str(), 1);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execl(TESSOLO_HOST_FILE, TESSOLO_HOST_FILE, "--plugin", TESSOLO_GATE_PLUGIN_FILE, input.c_str(),
                output.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Points link at target in one step, as `ln -sfn` leaves it.
void RePoint(const fs::path& link, const std::string& target)
{
    const fs::path fresh = link.string() + ".new";
    fs::create_symlink(target, fresh);
    fs::rename(fresh, link);
}

// The files a host run of the tests below reads: a descriptor "job.qnds",
// INPUT "in.png", a layer, a channel, a selection and a colour profile.
void MakeHostInputs(host_test::Bundle& b)
{
    const std::string sample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";
    ASSERT_EQ(host_test::RunProgram(TESSOLO_MKDESC_FILE, "--grid 3x2 '" + b.Path("job.qnds") + "'"), 0);
    for (const char* name : {"in.png", "layer.png", "channel.png", "mask.png"})
        fs::copy_file(sample, b.dir / name);
    std::ofstream(b.dir / "profile.icc") << "an ICC profile";
}

// The options and INPUT of a run that reads every file MakeHostInputs made,
// ready for OUTPUT.
std::string HostRun(host_test::Bundle& b)
{
    return "--descriptor '" + b.Path("job.qnds") + "' --add-layer '" + b.Path("layer.png") + "' --channel '" +
           b.Path("channel.png") + "' --selection '" + b.Path("mask.png") + "' --icc '" + b.Path("profile.icc") +
           "' '" + b.Path("in.png") + "' ";
}

}  // namespace

// The output is a link; while the host runs, the link is re-pointed at the
// input (`ln -sfn input output`). The result goes where the link led when
// the run began, and the input keeps its bytes: for a file the link named
// and for one it was to make, written whole (PNG) and from a buffer (JPEG).
TEST(HostOutputTarget, ALinkRePointedAtTheInputDuringTheRunIsNeverFollowedAgain)
{
    const fs::path dir = fs::temp_directory_path() / ("host_output_target_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path input = dir / "victim.png";
    fs::copy_file(std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png", input);
    const std::string original = Slurp(input);

    const struct {
        const char* link;
        const char* leadsTo;
        bool exists;  // the file the link names is there before the run
    } cases[] = {{"swap.png", "safe.png", true}, {"swap.jpg", "fresh.jpg", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const fs::path gate = dir / (std::string("gate_") + c.link), link = dir / c.link;
        fs::create_directory(gate);
        if (c.exists)
            std::ofstream(dir / c.leadsTo) << "the old safe file";
        fs::create_symlink(c.leadsTo, link);

        const pid_t host = StartHost(gate, input.string(), link.string(), gate / "log");
        ASSERT_GT(host, 0);
        // Held at the gate: the output was checked and the input read.
        int status = 0;
        bool exited = false;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (!fs::exists(gate / "started") && std::chrono::steady_clock::now() < limit &&
               !(exited = ::waitpid(host, &status, WNOHANG) == host))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_FALSE(exited) << Slurp(gate / "log");
        ASSERT_TRUE(fs::exists(gate / "started")) << "the plug-in never started";

        RePoint(link, "victim.png");
        std::ofstream(gate / "open").flush();
        ASSERT_EQ(::waitpid(host, &status, 0), host);
        const std::string log = Slurp(gate / "log");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << ": " << log;

        EXPECT_EQ(Slurp(input), original) << "the input was written over";
        EXPECT_EQ(fs::read_symlink(link), "victim.png");
        const std::string written = Slurp(dir / c.leadsTo);
        const std::string magic = c.exists ? std::string("\x89PNG") : std::string("\xFF\xD8\xFF");
        EXPECT_EQ(written.substr(0, magic.size()), magic) << log;
    }
    fs::remove_all(dir);
}

// Every file a run reads or loads is an input: the picture, the descriptor,
// the layers, channels, selection and profile it is given, the plug-in
// library and what the plug-in reads from its folder, each named as what
// it is. An output (or a
// descriptor the run may record) that is a symbolic or a hard link to any
// of them is refused before any work, with the input's exit, and the file
// keeps its bytes; a link to where one of them is to be made is refused
// too. A replay, which only reads its descriptor, is not refused for it.
// The same run into a plain name succeeds.
TEST(HostOutputTarget, NoFileTheRunReadsOrLoadsIsWrittenOver)
{
    host_test::Bundle b;
    const fs::path& dir = b.dir;
    const std::string job = b.Path("job.qnds");
    ASSERT_NO_FATAL_FAILURE(MakeHostInputs(b));
    // The plug-in's own files, as its folder holds them after some runs.
    ASSERT_EQ(host_test::RunProgram(TESSOLO_MKDESC_FILE, "--raw --grid 2x2 '" + b.Path("last.data") + "'"), 0);
    for (const char* name : {"tessolo_gtk.so", "resource_ts31_d.qns4", "plugin.conf", "ckss.data",
                             "Quorvin Tessolo 3.1 Help.pdf"})
        std::ofstream(dir / name) << "the plug-in's own " << name;
    const std::string run = HostRun(b);
    std::string text;
    ASSERT_EQ(host_test::Host(b, run + "'" + b.Path("fine.png") + "'", &text), 0) << text;

    // Each named as what it is: the user's files as the input, the
    // plug-in's as the plug-in's own.
    const std::pair<const char*, std::string> read[] = {{"in.png", "the input"},
                                                        {"job.qnds", "the input"},
                                                        {"layer.png", "the input"},
                                                        {"channel.png", "the input"},
                                                        {"mask.png", "the input"},
                                                        {"profile.icc", "the input"},
                                                        {"Tessolo.so", "the plug-in's library"},
                                                        {"tessolo_gtk.so", "the plug-in's window backend"},
                                                        {"resource_ts31_d.qns4", "the plug-in's skin"},
                                                        {"plugin.conf", "the plug-in's settings"},
                                                        {"last.data", "the plug-in's settings"},
                                                        {"ckss.data", "the plug-in's settings"},
                                                        {"Quorvin Tessolo 3.1 Help.pdf", "the plug-in's help guide"}};
    for (const auto& [name, what] : read) {
        const fs::path input = dir / name;
        const std::string says = "it would write over " + what + " ";
        const std::string bytes = Slurp(input);
        for (const bool hard : {false, true}) {
            SCOPED_TRACE(std::string(name) + (hard ? " (hard link)" : " (symbolic link)"));
            const fs::path out = dir / (hard ? "hard.png" : "soft.png");
            if (hard)
                fs::create_hard_link(input, out);
            else
                fs::create_symlink(input, out);
            EXPECT_EQ(host_test::Host(b, run + "'" + out.string() + "'", &text), 3) << text;
            EXPECT_NE(text.find(says), std::string::npos) << text;
            EXPECT_NE(text.find(std::string(name) + "; name another output"), std::string::npos) << text;
            EXPECT_EQ(Slurp(input), bytes);
            fs::remove(out);
        }
        // As the descriptor a dialog may record into: refused before any
        // work, the display not looked at yet. A replay only reads its
        // descriptor, and is never refused as writing over it.
        if (std::string(name) != "job.qnds") {
            SCOPED_TRACE(std::string(name) + " (descriptor)");
            const fs::path link = dir / "link.qnds";
            fs::create_symlink(input, link);
            const std::string other = "--descriptor '" + link.string() + "'" + run.substr(run.find(" --add-layer"));
            EXPECT_EQ(host_test::Host(b, "--dialog " + other + "'" + b.Path("fresh.png") + "'", &text), 3) << text;
            EXPECT_NE(text.find(says), std::string::npos) << text;
            EXPECT_EQ(Slurp(input), bytes);
            EXPECT_FALSE(fs::exists(dir / "fresh.png"));
            host_test::Host(b, other + "'" + b.Path("fresh.png") + "'", &text);
            EXPECT_EQ(text.find("it would write over"), std::string::npos) << text;
            EXPECT_EQ(Slurp(input), bytes);
            fs::remove(dir / "fresh.png");
            fs::remove(link);
        }
    }
    // Last settings not kept yet: a link to where they are to be made.
    fs::remove(dir / "last.data");
    fs::create_symlink(dir / "last.data", dir / "later.png");
    EXPECT_EQ(host_test::Host(b, run + "'" + b.Path("later.png") + "'", &text), 3) << text;
    EXPECT_NE(text.find("it would write over the plug-in's settings "), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(dir / "last.data"));
}

// The plug-in inside the host program knows every file the run reads: its
// configuration linked to one of the host's inputs is not written (neither
// opened for update nor moved aside as damaged, nor is a copy of a damaged
// one kept onto one), the run goes on, and one line says so.
TEST(HostOutputTarget, ThePluginWritesNoFileOfItsOwnOverAFileTheHostReads)
{
    host_test::Bundle b;
    const fs::path& dir = b.dir;
    const std::string job = b.Path("job.qnds");
    ASSERT_NO_FATAL_FAILURE(MakeHostInputs(b));
    const std::string run = HostRun(b) + "'" + b.Path("out.png") + "'";
    const fs::path conf = dir / "plugin.conf", aside = dir / "plugin.conf.bad";
    for (const char* name : {"in.png", "layer.png", "channel.png", "mask.png", "profile.icc", "job.qnds"}) {
        const fs::path input = dir / name;
        const std::string bytes = Slurp(input);
        std::string text;
        {
            SCOPED_TRACE(std::string("plugin.conf -> ") + name);
            fs::create_symlink(input, conf);
            EXPECT_EQ(host_test::Host(b, run, &text), 0) << text;
            EXPECT_NE(text.find("cannot write " + conf.string() + ": it leads to " + input.string() +
                                ", a file this run reads; preferences and window places are not kept in this run"),
                      std::string::npos)
                << text;
            EXPECT_EQ(Slurp(input), bytes);
            EXPECT_TRUE(fs::is_symlink(conf));
            fs::remove(conf);
        }
        SCOPED_TRACE(std::string("plugin.conf.bad -> ") + name);
        std::ofstream(conf, std::ios::binary) << bytes;
        fs::create_symlink(input, aside);
        EXPECT_EQ(host_test::Host(b, run, &text), 0) << text;
        EXPECT_EQ(Slurp(input), bytes);
        EXPECT_EQ(Slurp(dir / "plugin.conf.bad2"), bytes) << text;
        for (const fs::path& p : {conf, aside, dir / "plugin.conf.bad2"})
            fs::remove(p);
    }
    // The last settings or the presets leading to the descriptor: the
    // replay runs (it keeps no settings), and nothing blames the descriptor.
    const std::string descriptor = Slurp(job);
    for (const char* own : {"last.data", "ckss.data"}) {
        SCOPED_TRACE(std::string(own) + " -> job.qnds");
        fs::create_symlink(job, dir / own);
        std::string text;
        EXPECT_EQ(host_test::Host(b, run, &text), 0) << text;
        EXPECT_EQ(text.find("--descriptor"), std::string::npos) << text;
        EXPECT_EQ(Slurp(job), descriptor);
        EXPECT_TRUE(fs::is_symlink(dir / own));
        fs::remove(dir / own);
    }
}
