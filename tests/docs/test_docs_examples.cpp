// The examples of README.md and of every page in docs/ are run as a reader
// runs them: a block fenced as ```sh example is pasted, in page order, into
// one shell standing in a scratch copy of the repository's root, after the
// demo's main job (scripts/demo_job.sh) has left its files in out/. The
// scratch root's build/release/ is the build under test: its programs, and a
// plug-in folder of its own (hard links of the build's bundle), so that no
// example writes settings into the build's folder.
//
// A block's last lines may say what it promises, as comments a reader sees:
//   # exit: N         the block stops with exit code N (else it must pass)
//   # makes: FILE...  these files exist afterwards (shell patterns allowed)
//   # no file: FILE.. these do not
//   # says: TEXT      its output (standard output and error) holds TEXT
// A sentence that stops being true fails here, with the page and line. The
// page is pasted twice in a row, as a reader may: what the first paste left
// (a file a block promises not to make) must not break the second.
//
// Besides, every ctest command the pages give names its build, every
// program path they give is one the build makes, and the README links every
// page of docs/.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSource = TESSOLO_SOURCE_DIR;
const fs::path kBuild = TESSOLO_BINARY_DIR;

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Single quotes for the shell.
std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (const char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Example {
    size_t line = 0;  // of the opening fence, counted from 1
    std::vector<std::string> commands;
    int exit = 0;
    std::vector<std::string> makes, absent, says;
};

// The ```sh example blocks of a page, with their promises.
std::vector<Example> Examples(const std::string& page)
{
    std::vector<Example> examples;
    const std::vector<std::string> lines = Lines(page);
    const std::regex opening(R"(^```\s*sh\s+example\s*$)");
    const std::regex promise(R"(^#\s*(exit|makes|no file|says):\s*(.*?)\s*$)");
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!std::regex_match(lines[i], opening))
            continue;
        Example e;
        e.line = i + 1;
        for (++i; i < lines.size() && lines[i].rfind("```", 0) != 0; ++i) {
            std::smatch m;
            if (!std::regex_match(lines[i], m, promise)) {
                e.commands.push_back(lines[i]);
                continue;
            }
            const std::string what = m[1], value = m[2];
            if (what == "exit")
                e.exit = std::atoi(value.c_str());
            else if (what == "says")
                e.says.push_back(value);
            else
                (what == "makes" ? e.makes : e.absent).push_back(value);
        }
        examples.push_back(e);
    }
    return examples;
}

// The shell script that runs a page's examples in order and checks their
// promises; it stops at the first broken one, naming its page and line.
std::string Script(const std::string& name, const std::vector<Example>& examples)
{
    std::string s = "set -e\n"
                    "fail() { echo \"$BLOCK: $*\"; exit 1; }\n"
                    "trap 'rc=$?; [ $rc -eq 0 ] || { cat \"$OUT\"; echo \"$BLOCK: stopped with exit $rc\"; }' EXIT\n";
    // A reader may paste the page twice in a row: every promise holds the
    // second time too, over what the first left.
    for (int pass = 1; pass <= 2; ++pass) {
        for (const Example& e : examples) {
            const std::string where = name + ":" + std::to_string(e.line) + (pass == 2 ? " (pasted again)" : "");
            s += "BLOCK=" + Quote(where) + "; OUT=out/.example-" + std::to_string(e.line) + ".log\n";
            s += "echo \"== $BLOCK\"\n";
            std::string body;
            for (const std::string& c : e.commands)
                body += c + "\n";
            if (e.exit == 0) {
                // In this shell, so that what the block sets holds for the next.
                s += "{\n" + body + "} >\"$OUT\" 2>&1\n";
            } else {
                s += "set +e\n(\nset -e\n" + body + ") >\"$OUT\" 2>&1\nrc=$?\nset -e\n";
                s += "[ $rc -eq " + std::to_string(e.exit) + " ] || { cat \"$OUT\"; fail \"exit $rc, the page says " +
                     std::to_string(e.exit) + "\"; }\n";
            }
            s += "cat \"$OUT\"\n";
            for (const std::string& files : e.makes)
                s += "for f in " + files + "; do [ -e \"$f\" ] || fail \"no $f, the page says it is made\"; done\n";
            for (const std::string& files : e.absent)
                s += "for f in " + files +
                     "; do [ ! -e \"$f\" ] || fail \"$f is there, the page says it is not\"; done\n";
            for (const std::string& text : e.says)
                s += "grep -qF -- " + Quote(text) + " \"$OUT\" || fail " +
                     Quote("the output does not say \"" + text + "\"") + "\n";
        }
    }
    s += "echo \"== " + name + ": " + std::to_string(examples.size()) + " examples kept their word\"\n";
    return s;
}

int Run(const std::string& command, std::string& output)
{
    output.clear();
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        output.append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A repository root of the page's own: the sources it reads by link, and
// build/release/ standing for the build under test. The programs are linked
// into it, the host by a hard link so that it finds the plug-in folder
// beside itself, and that folder is made of hard links, so that what the
// plug-in writes there (settings, last settings) lands in the scratch root.
fs::path ScratchRoot(const std::string& page)
{
    const fs::path root = kBuild / "docs_examples" / page;
    fs::remove_all(root);
    fs::create_directories(root / "build" / "release" / "hostapp");
    for (const char* shared : {"samples", "scripts", "bench", "resources"})
        fs::create_directory_symlink(kSource / shared, root / shared);
    fs::create_directory_symlink(kBuild, root / "build" / "asan");
    const fs::path release = root / "build" / "release";
    for (const fs::directory_entry& e : fs::directory_iterator(kBuild)) {
        const std::string name = e.path().filename();
        if (name != "hostapp" && name != "bundle" && name != "docs_examples" && e.is_directory())
            fs::create_directory_symlink(e.path(), release / name);
    }
    fs::create_hard_link(kBuild / "hostapp" / "tessolo-host", release / "hostapp" / "tessolo-host");
    std::string output;
    const int copied = Run("cp -al " + Quote(kBuild / "bundle") + " " + Quote(release / "bundle"), output);
    EXPECT_EQ(copied, 0) << output;
    return root;
}

// Runs the page's examples; a failure shows where the page stopped being
// true and what the example printed.
void RunPage(const std::string& page)
{
    SCOPED_TRACE(page);
    const std::vector<Example> examples = Examples(Slurp(kSource / page));
    ASSERT_FALSE(examples.empty()) << page << " marks no example (```sh example)";
    std::string flat = page;
    for (char& c : flat)
        c = c == '/' ? '_' : c;
    const fs::path root = ScratchRoot(flat);
    std::string output;
    // What the first command leaves, made by the same script.
    ASSERT_EQ(Run("cd " + Quote(root) + " && env -u TESSOLO_PLUGIN sh scripts/demo_job.sh", output), 0) << output;
    std::ofstream(root / "examples.sh") << Script(page, examples);
    const int rc = Run("cd " + Quote(root) + " && env -u TESSOLO_PLUGIN bash examples.sh", output);
    EXPECT_EQ(rc, 0) << output;
    if (rc == 0)
        fs::remove_all(root);
}

std::vector<std::string> ReferencePages()
{
    std::vector<std::string> pages;
    for (const fs::directory_entry& e : fs::directory_iterator(kSource / "docs"))
        if (e.path().extension() == ".md")
            pages.push_back("docs/" + e.path().filename().string());
    std::sort(pages.begin(), pages.end());
    return pages;
}

// The README opens windows on a virtual display of its own (run alone, as
// the window tests are).
TEST(DocExamples, Readme) { RunPage("README.md"); }

TEST(DocExamples, Reference)
{
    const std::vector<std::string> pages = ReferencePages();
    ASSERT_FALSE(pages.empty());
    for (const std::string& page : pages)
        RunPage(page);
}

// What is not run is still checked: the ctest commands name the build they
// run in (in the clone a bare ctest finds no tests), every program path is
// one the build makes (a benchmark, one of bench/), and the README links
// every reference page, each to a page that is there.
TEST(DocExamples, CommandsNameTheirBuildAndProgramsAndPagesAreThere)
{
    std::vector<std::string> pages = ReferencePages();
    pages.push_back("README.md");
    pages.push_back("scripts/demo_job.sh");
    const std::regex ctest(R"(`(ctest[^`\n]*)`|^(ctest .*)$)", std::regex::multiline);
    const std::regex program(R"(build/release/((?:hostapp|tools|surface3d|resources)/[a-zA-Z0-9_/-]*[a-z0-9]|bench/[a-z0-9_]+))");
    size_t commands = 0, programs = 0;
    for (const std::string& page : pages) {
        SCOPED_TRACE(page);
        const std::string text = Slurp(kSource / page);
        for (auto it = std::sregex_iterator(text.begin(), text.end(), ctest); it != std::sregex_iterator(); ++it) {
            const std::string command = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
            ++commands;
            EXPECT_NE(command.find("--test-dir build/"), std::string::npos) << command;
        }
        for (auto it = std::sregex_iterator(text.begin(), text.end(), program); it != std::sregex_iterator(); ++it) {
            const std::string path = (*it)[1];
            ++programs;
            if (path.rfind("bench/", 0) == 0)
                EXPECT_TRUE(fs::is_regular_file(kSource / (path + ".cpp"))) << path;
            else
                EXPECT_TRUE(fs::is_regular_file(kBuild / path)) << path;
        }
    }
    EXPECT_GT(commands, 2u);
    EXPECT_GT(programs, 4u);

    const std::string readme = Slurp(kSource / "README.md");
    std::set<std::string> linked;
    const std::regex link(R"(\]\((docs/[^)#]+\.md)(#[^)]*)?\))");
    for (auto it = std::sregex_iterator(readme.begin(), readme.end(), link); it != std::sregex_iterator(); ++it)
        linked.insert((*it)[1]);
    for (const std::string& page : ReferencePages())
        EXPECT_TRUE(linked.count(page)) << "README.md does not link " << page;
    for (const std::string& page : linked)
        EXPECT_TRUE(fs::is_regular_file(kSource / page)) << "README.md links " << page << ", which is not there";
}

// What a reader meets unexplained is explained where it is met: each
// promise comment the README's examples use is named in its prose; each mark
// bench/compare prints in its table is told on the benchmarks page, and `?`,
// which takes the whole row's ratio away, as that; each fuzz target has
// seeds, or the testing page says it starts empty; and a page whose examples
// look into the test build says so before its first example, with the
// command that makes it.
TEST(DocExamples, WhatThePagesShowTheyExplain)
{
    const std::string readme = Slurp(kSource / "README.md");
    std::string prose;
    std::set<std::string> used;
    {
        std::istringstream in(readme);
        bool block = false;
        const std::regex promise(R"(^# ([a-z ]+):)");
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("```", 0) == 0) {
                block = !block;
                continue;
            }
            std::smatch m;
            if (!block)
                prose += line + "\n";
            else if (std::regex_search(line, m, promise))
                used.insert(m[1]);
        }
    }
    EXPECT_FALSE(used.empty());
    for (const std::string& kind : used)
        EXPECT_NE(prose.find("`# " + kind + ":`"), std::string::npos) << "README.md does not say what # " << kind
                                                                         << ": promises";

    const std::string compare = Slurp(kSource / "bench/compare");
    const std::string benchmarks = Slurp(kSource / "docs/benchmarks.md");
    for (const char* mark : {"-", "fail", "~0", "?"}) {
        EXPECT_NE(compare.find("\"" + std::string(mark) + "\""), std::string::npos) << mark;
        EXPECT_NE(benchmarks.find("`" + std::string(mark) + "`"), std::string::npos)
            << "docs/benchmarks.md does not tell what " << mark << " in bench/compare's table means";
    }
    EXPECT_NE(compare.find("[ -n \"$unknown\" ] && ratio=\"?\""), std::string::npos) << "bench/compare's ? changed";
    {
        const size_t at = benchmarks.find("`?`");
        const std::string sentence = benchmarks.substr(at, benchmarks.find('.', at) - at);
        EXPECT_NE(sentence.find("row has no ratio"), std::string::npos)
            << "docs/benchmarks.md does not say that ? leaves its row without a ratio: " << sentence;
    }

    for (const std::string& page : ReferencePages()) {
        const std::string text = Slurp(kSource / page);
        const size_t first = text.find("```sh example");
        bool asan = false;
        for (size_t at = first; at != std::string::npos; at = text.find("```sh example", at + 1)) {
            const size_t end = text.find("```", at + 3);
            asan = asan || text.substr(at, end - at).find("build/asan") != std::string::npos;
        }
        if (!asan)
            continue;
        // One paragraph before the first example names the examples, the
        // build and the command that makes it.
        const std::string before = text.substr(0, first);
        bool told = false;
        for (size_t from = 0, end; from < before.size(); from = end + 2) {
            end = std::min(before.find("\n\n", from), before.size());
            const std::string paragraph = before.substr(from, end - from);
            told = told || (paragraph.find("example") != std::string::npos &&
                            paragraph.find("`build/asan") != std::string::npos &&
                            paragraph.find("scripts/test.sh") != std::string::npos);
        }
        EXPECT_TRUE(told) << page << ": its examples look into build/asan, and no paragraph before the first says "
                                     "they need it and what makes it";
    }

    const std::string testing = Slurp(kSource / "docs/testing.md");
    size_t targets = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(kSource / "fuzz")) {
        if (e.path().extension() != ".cpp" ||
            Slurp(e.path()).find("LLVMFuzzerTestOneInput") == std::string::npos)
            continue;
        ++targets;
        const std::string name = e.path().stem().string();
        const fs::path seeds = kSource / "fuzz/corpus" / name;
        const bool has = fs::is_directory(seeds) && !fs::is_empty(seeds);
        EXPECT_TRUE(has || testing.find("`" + name + "`") != std::string::npos)
            << "fuzz/" << name << ".cpp has no seeds in fuzz/corpus/" << name
            << "/ and docs/testing.md does not say it starts empty";
    }
    EXPECT_GT(targets, 10u);
}

}  // namespace
