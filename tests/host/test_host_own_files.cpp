// The files the plug-in writes for itself (its last settings, its
// preferences and window places, the copies it keeps of damaged ones) never
// land on a file the run reads: not on the host's picture, layers, channels,
// selection or descriptor, and not on another file of the plug-in's own.
// The host program's list of what it reads is used as the program hands it
// over; the window is driven headless.
#include "host_test_support.h"
#include "road_run.h"

#include "core/SafeFileRunInputs.h"
#include "hostapp/HostProgram.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <utility>

using namespace hosttest;

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files a dialog run reads, laid out as tessolo-host finds them: the
// host's own in a folder of their own, the plug-in's in its folder (the
// last settings and the configuration as earlier runs left them).
struct RunFiles {
    fs::path docs;
    std::vector<fs::path> read;
    std::vector<std::string> what;  // how a refusal names each

    RunFiles(const PluginHarness& h, const std::string& lastData, const std::string& conf)
    {
        docs = fs::path(h.folder.path + "_docs");
        fs::create_directories(docs);
        for (const char* name : {"in.png", "mask.png", "layer.png", "channel.png", "job.qnds"})
            std::ofstream(docs / name) << "the host's " << name;
        for (const char* name : {"Tessolo.so", "tessolo_gtk.so", "ckss.data", "Quorvin Tessolo 3.1 Help.pdf"})
            std::ofstream(h.File(name)) << "the plug-in's own " << name;
        // Made up where no earlier run left one: the bytes are all that counts.
        std::ofstream(h.File("last.data"), std::ios::binary) << (lastData.empty() ? "old settings" : lastData);
        std::ofstream(h.File("plugin.conf"), std::ios::binary) << (conf.empty() ? "old preferences" : conf);
        if (!fs::exists(h.File("resource_ts31_d.qns4")))
            std::ofstream(h.File("resource_ts31_d.qns4")) << "the plug-in's skin";
        hostapp::HostCommandLine cmd;
        cmd.input = (docs / "in.png").string();
        cmd.selection = (docs / "mask.png").string();
        cmd.layers = {{(docs / "layer.png").string(), "Layer"}};
        cmd.channels = {{(docs / "channel.png").string(), "Channel"}};
        cmd.descriptorFile = (docs / "job.qnds").string();
        cmd.plugin = h.File("Tessolo.so");
        hostapp::AddRunInputs(cmd);
        for (const char* name : {"in.png", "mask.png", "layer.png", "channel.png", "job.qnds"}) {
            read.push_back(docs / name);
            what.emplace_back("a file this run reads");
        }
        for (const auto& [name, is] : {std::pair<const char*, const char*>{"Tessolo.so", "the plug-in's library"},
                                       {"tessolo_gtk.so", "the plug-in's window backend"},
                                       {"resource_ts31_d.qns4", "the plug-in's skin"},
                                       {"Quorvin Tessolo 3.1 Help.pdf", "the plug-in's help guide"},
                                       {"ckss.data", "the plug-in's settings"},
                                       {"last.data", "the plug-in's settings"},
                                       {"plugin.conf", "the plug-in's settings"}}) {
            read.push_back(h.File(name));
            what.emplace_back(is);
        }
    }
    ~RunFiles()
    {
        std::error_code ec;
        fs::remove_all(docs, ec);
    }
};

// Last settings and a configuration as an Apply leaves them.
void KeptByAnApply(std::string& lastData, std::string& conf)
{
    RoadRun r;
    StandInHost host(Document(ColorMode::RGB, 60, 40, false), HostSettings{});
    r.ClickMain("Main_ApplyLM", qnctl::Button);
    ASSERT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), 0);
    lastData = Slurp(r.h.File("last.data"));
    conf = Slurp(r.h.File("plugin.conf"));
    ASSERT_FALSE(lastData.empty());
    ASSERT_FALSE(conf.empty());
}

// A dialog run ended with Apply, what it said on standard error kept: the
// picture is applied, whatever was not kept for the next run.
void ApplyInDialog(RoadRun& r, std::string& said)
{
    StandInHost host(Document(ColorMode::RGB, 60, 40, false), HostSettings{});
    const auto before = host.Document().Target().pixels.planes;
    r.ClickMain("Main_ApplyLM", qnctl::Button);
    testing::internal::CaptureStderr();
    const int16_t result = r.h.Run(host, StandInHost::Sequence::Dialog);
    said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(result, 0) << said;
    EXPECT_NE(host.Document().Target().pixels.planes, before) << "the picture is applied all the same";
}

}  // namespace

// Each file Apply writes for the plug-in, a link to each file the run
// reads: the picture is applied, the file read keeps its bytes, the link
// stays, and one line says what was not kept and why.
TEST(HostOwnFiles, ApplyWritesNoFileOfItsOwnOverAFileTheRunReads)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    std::string lastData, conf;
    ASSERT_NO_FATAL_FAILURE(KeptByAnApply(lastData, conf));
    for (const char* own : {"last.data", "plugin.conf"}) {
        for (size_t i = 0;; ++i) {
            RoadRun r;
            RunFiles files(r.h, lastData, conf);
            if (i == files.read.size())
                break;
            const fs::path read = files.read[i];
            if (read.filename() == own)
                continue;
            SCOPED_TRACE(std::string(own) + " -> " + read.string());
            const std::string bytes = Slurp(read);
            fs::remove(r.h.File(own));
            fs::create_symlink(read, r.h.File(own));

            std::string said;
            ASSERT_NO_FATAL_FAILURE(ApplyInDialog(r, said));
            EXPECT_EQ(Slurp(read), bytes) << said;
            EXPECT_TRUE(fs::is_symlink(r.h.File(own)));
            // Named as what it is: the host's files as files the run
            // reads, the plug-in's as its own.
            const std::string line = "cannot write " + r.h.File(own) + ": it leads to " + read.string() + ", " +
                                     files.what[i];
            if (std::string(own) == "last.data" && read.filename() == "plugin.conf") {
                // The configuration is no link: the line blames the link
                // that leads to it, not the configuration.
                EXPECT_NE(said.find("cannot write " + read.string() + ": " + r.h.File(own) +
                                    ", the plug-in's settings, leads to it"),
                          std::string::npos)
                    << said;
            }
            if (std::string(own) == "last.data") {
                ASSERT_EQ(r.hp.alerts.size(), 1u) << said;
                EXPECT_EQ(r.hp.alerts[0].text,
                          "The settings could not be kept for the next run (" + line + "). The picture is applied.");
            } else {
                EXPECT_NE(said.find(line + "; preferences and window places are not kept in this run"),
                          std::string::npos)
                    << said;
                EXPECT_TRUE(fs::is_regular_file(r.h.File("last.data")));
            }
        }
    }
}

// A damaged configuration is kept aside for a person, never onto a file
// the run reads: a copy's name that leads to one is passed over, even when
// that file holds the very bytes, and the damaged bytes go to the next name.
TEST(HostOwnFiles, ADamagedConfigurationIsNeverKeptAsideOntoAFileTheRunReads)
{
    PluginHarness probe;
    const size_t count = RunFiles(probe, "", "").read.size();
    for (size_t i = 0; i < count; ++i) {
        PluginHarness h;
        RunFiles files(h, "", "");
        const fs::path read = files.read[i];
        if (read.filename() == "plugin.conf")
            continue;
        SCOPED_TRACE(read.string());
        const std::string bytes = Slurp(read);
        std::ofstream(h.File("plugin.conf"), std::ios::binary) << bytes;
        fs::create_symlink(read, h.File("plugin.conf.bad"));
        StandInHost host(Document(ColorMode::RGB, 16, 16, false), HostSettings{});
        testing::internal::CaptureStderr();
        h.Run(host, StandInHost::Sequence::Replay);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Slurp(read), bytes);
        EXPECT_TRUE(fs::is_symlink(h.File("plugin.conf.bad")));
        EXPECT_EQ(Slurp(h.File("plugin.conf.bad2")), bytes) << said;
        EXPECT_NE(said.find("kept as " + h.File("plugin.conf.bad2")), std::string::npos) << said;
    }
}

// A plug-in folder whose name holds a newline: each line the plug-in prints
// about its own files stays one line, the newline shown as an escape.
TEST(HostOwnFiles, APluginFolderNameWithANewlineStaysOnOneLine)
{
    PluginHarness h;
    const std::string base = h.folder.path;
    h.folder.path = base + "/nl\nfolder";
    fs::create_directories(h.folder.path);
    const std::string shown = base + "/nl\\x0afolder";
    const std::string picture = base + "/in.png";
    std::ofstream(picture) << "the host's picture";
    qnAddRunInputs({picture});
    const struct {
        const char* what;
        std::function<void()> lay;
        std::string line;
    } cases[] = {
        {"damaged", [&] { std::ofstream(h.File("plugin.conf")) << "no container"; },
         "Tessolo: " + shown + "/plugin.conf is damaged; it was kept as " + shown +
             "/plugin.conf.bad and a new one begun\n"},
        {"linked", [&] { fs::create_symlink(picture, h.File("plugin.conf")); },
         "Tessolo: cannot write " + shown + "/plugin.conf: it leads to " + picture +
             ", a file this run reads; preferences and window places are not kept in this run\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name : {"plugin.conf", "plugin.conf.bad"})
            fs::remove(h.File(name));
        c.lay();
        StandInHost host(Document(ColorMode::RGB, 16, 16, false), HostSettings{});
        testing::internal::CaptureStderr();
        h.Run(host, StandInHost::Sequence::Replay);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(c.line), std::string::npos) << said;
        EXPECT_EQ(said.find("\nfolder"), std::string::npos) << said;
    }
    EXPECT_EQ(Slurp(picture), "the host's picture");
    h.folder.path = base;
}

// An Apply whose last settings cannot be written beside the plug-in (a
// folder has their name) says why, in the words every program gives that
// reason, and the picture is applied all the same.
TEST(HostOwnFiles, AnApplyThatCannotKeepTheSettingsSaysWhy)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    const std::string last = r.h.File("last.data");
    fs::remove(last);
    fs::create_directory(last);
    std::string said;
    ASSERT_NO_FATAL_FAILURE(ApplyInDialog(r, said));
    EXPECT_TRUE(fs::is_directory(last));
    ASSERT_EQ(r.hp.alerts.size(), 1u) << said;
    EXPECT_EQ(r.hp.alerts[0].text, "The settings could not be kept for the next run (cannot write " + last +
                                       ": is a folder). The picture is applied.");
}
