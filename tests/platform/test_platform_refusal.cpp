// The box over a file chooser that refuses a name says why and what to do,
// each once, for every refusal the write gate makes there.
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// How many times text tells the user what to name or choose: the command
// line's "; name another output", "(name a file)", the box's "Choose
// another name or folder". The paths given are taken out first: a file may
// be named with such words.
int Advice(std::string text, const std::vector<std::string>& paths)
{
    for (const std::string& p : paths)
        for (size_t at; (at = text.find(p)) != std::string::npos;)
            text.erase(at, p.size());
    text = Lower(text);
    int n = 0;
    for (const char* words : {"; name ", "(name ", "choose "})
        for (size_t at = text.find(words); at != std::string::npos; at = text.find(words, at + 1))
            ++n;
    return n;
}

}  // namespace

TEST(RefusalBox, SaysWhyAndWhatToDoEachOnce)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("refusal_box_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "folder.png");
    std::ofstream(dir / "kept.png") << "kept";
    fs::permissions(dir / "kept.png", fs::perms::owner_read);
    ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0644), 0);
    // An input whose name holds the very words of an advice.
    const std::string input = (dir / "in.png").string(), oddInput = (dir / "x; name another output").string();
    std::ofstream(input) << "picture";
    std::ofstream(oddInput) << "picture";
    qnAddRunInputs({input, oddInput});
    const std::string output = (dir / "end.png").string();
    qnAddRunOutput(output);

    // Each refusal as a chooser of the windows gets it (a chooser never
    // takes standard output).
    const auto gate = [](const fs::path& p) { return qnWriteRefusal(p.string(), QnWrite::Output, false); };
    const std::vector<QnRefusal> refusals = {
        gate(dir / "kept.png"),         gate(dir / "folder.png"),
        gate(dir / "fifo.png"),         gate(input),
        gate(oddInput),                 gate(output),
        gate(dir / "none" / "a.png"),   qnOutputNameRefusal((dir / "a.qntd").string(), {".png"}),
        QnRefusal{{}, "taken"},
    };
    for (const QnRefusal& why : refusals) {
        ASSERT_FALSE(why.empty());
        const plat::RefusalBox box = plat::DescribeRefusal(why, (dir / "chosen.png").string());
        const std::vector<std::string> paths = {box.name, oddInput};
        EXPECT_EQ(Advice(box.Text(), paths), 1) << box.Text();
        EXPECT_EQ(Advice(box.advice, paths), 1) << box.Text();
        // The reason itself is all there, its first letter a capital.
        ASSERT_FALSE(box.reason.empty());
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(box.reason[0]))) << box.reason;
        std::string said = box.reason.substr(0, box.reason.size() - 1);
        said[0] = why.reason[0];
        EXPECT_TRUE(why.reason.starts_with(said)) << why.reason << "\n" << box.reason;
    }
    // The input named with an advice's words is named whole.
    const plat::RefusalBox odd = plat::DescribeRefusal(refusals[4], oddInput);
    EXPECT_NE(odd.reason.find(oddInput), std::string::npos) << odd.reason;
    fs::permissions(dir / "kept.png", fs::perms::owner_all);
    fs::remove_all(dir);
}
