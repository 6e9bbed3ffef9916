// Nothing outside core/ opens a file for writing: every write passes core's
// one gate (CQNF_SafeFile, qnReplaceFile, CQNF_FileSeries), which refuses a
// file the run reads, a read-only file and a device. A writer that opens a
// file by itself would skip that check; this reads the product's sources
// and names every such call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The code of a source file with its comments and its #include lines
// blanked out (line ends kept, so that line numbers stay true), and the
// contents of its string and character literals too, or, for the modes of
// fopen and its kin (keepLiterals), only their letters kept.
std::string CodeOnly(const std::string& text, bool keepLiterals)
{
    std::string out = text;
    enum { Code, Line, Block, Str, Chr, Raw } state = Code;
    std::string rawEnd;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        switch (state) {
        case Code:
            if (c == '/' && next == '/') {
                state = Line;
                out[i] = ' ';
            } else if (c == '/' && next == '*') {
                state = Block;
                out[i] = ' ';
            } else if (c == 'R' && next == '"' && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
                const size_t open = text.find('(', i + 2);
                rawEnd = ")" + text.substr(i + 2, open - i - 2) + "\"";
                state = Raw;
                i = open;
            } else if (c == '"') {
                state = Str;
            } else if (c == '\'' && !(i > 0 && std::isxdigit(static_cast<unsigned char>(text[i - 1])))) {
                state = Chr;
            }
            break;
        case Line:
            if (c == '\n')
                state = Code;
            else
                out[i] = ' ';
            break;
        case Block:
            if (c == '*' && next == '/') {
                out[i] = out[i + 1] = ' ';
                ++i;
                state = Code;
            } else if (c != '\n') {
                out[i] = ' ';
            }
            break;
        case Str:
        case Chr:
            if (c == '\\') {
                out[i] = ' ';
                if (i + 1 < text.size() && text[i + 1] != '\n')
                    out[i + 1] = ' ';
                ++i;
            } else if (c == (state == Str ? '"' : '\'')) {
                state = Code;
            } else if (c != '\n') {
                const bool letter = std::isalpha(static_cast<unsigned char>(c)) || c == '+';
                out[i] = keepLiterals && letter ? c : ' ';
            }
            break;
        case Raw:
            if (text.compare(i, rawEnd.size(), rawEnd) == 0) {
                i += rawEnd.size() - 1;
                state = Code;
            } else if (c != '\n') {
                out[i] = ' ';
            }
            break;
        }
    }
    // #include lines name headers, not calls.
    std::istringstream lines(out);
    std::string line, result;
    while (std::getline(lines, line)) {
        const size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line.compare(first, 8, "#include") == 0)
            line.assign(line.size(), ' ');
        result += line + '\n';
    }
    return result;
}

// The arguments of the call whose "(" is at open, split at top-level commas.
std::vector<std::string> Arguments(const std::string& code, size_t open)
{
    std::vector<std::string> args(1);
    int depth = 0;
    for (size_t i = open; i < code.size(); ++i) {
        const char c = code[i];
        if (c == '(' || c == '[' || c == '{') {
            if (depth++ > 0)
                args.back() += c;
        } else if (c == ')' || c == ']' || c == '}') {
            if (--depth == 0)
                return args;
            args.back() += c;
        } else if (c == ',' && depth == 1) {
            args.emplace_back();
        } else {
            args.back() += c;
        }
    }
    return args;
}

// Every place in text (a file's whole text) that opens a file for writing
// by itself, as "LINE: what".
std::vector<std::string> Writers(const std::string& text)
{
    // Most files name none of these; the scan is slow under the sanitizers.
    static const char* const kWords[] = {"fstream", "O_", "creat", "cairo_", "png_init_io", "jpeg_stdio_dest",
                                         "kWrite", "kUpdate", "kReadWrite", "open"};
    if (std::none_of(std::begin(kWords), std::end(kWords),
                     [&](const char* w) { return text.find(w) != std::string::npos; }))
        return {};
    const std::string code = CodeOnly(text, false);
    const std::string withLiterals = CodeOnly(text, true);
    std::vector<std::string> found;
    const auto lineOf = [&](size_t at) { return std::to_string(std::count(code.begin(), code.begin() + long(at), '\n') + 1); };
    // Names that write whenever they are used: streams for writing, open's
    // writing flags (whichever call takes them), creat, cairo's file
    // writers (the _for_stream and _stream forms write where they are
    // told), libpng's and libjpeg's stdio destinations, and a CQNF_StdFile
    // opened for writing.
    static const std::regex always(
        R"(\b(ofstream|fstream|basic_ofstream|basic_fstream|O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND|png_init_io|)"
        R"(jpeg_stdio_dest|kWrite|kUpdate|kReadWrite)\b|\b(creat|cairo_pdf_surface_create|cairo_ps_surface_create|)"
        R"(cairo_svg_surface_create|cairo_surface_write_to_png)\s*\()");
    for (std::sregex_iterator it(code.begin(), code.end(), always), end; it != end; ++it)
        found.push_back(lineOf(size_t(it->position())) + ": " + it->str());
    // fopen, fdopen and freopen with a mode that writes or appends, or one
    // that cannot be read here (not a literal).
    static const std::regex open(R"(\b(fopen|fdopen|freopen|fopen64)\s*\()");
    for (std::sregex_iterator it(code.begin(), code.end(), open), end; it != end; ++it) {
        const std::vector<std::string> args = Arguments(withLiterals, size_t(it->position() + it->length() - 1));
        const std::string mode = args.size() >= 2 ? args[1] : std::string();
        static const std::regex literal(R"(^\s*"[a-z+]*"\s*$)");
        if (!std::regex_search(mode, literal) || mode.find_first_of("wa+") != std::string::npos)
            found.push_back(lineOf(size_t(it->position())) + ": " + (*it)[1].str() + " with mode " + mode);
    }
    return found;
}

// The product's source folders: every folder of the tree but core (the
// gate itself), the tests, the benchmarks, the fuzz targets and builds.
std::vector<fs::path> ProductSources()
{
    const fs::path root = TESSOLO_SOURCE_DIR;
    static const std::vector<std::string> skipped = {"core", "tests", "bench", "fuzz", "build"};
    std::vector<fs::path> files;
    for (const auto& top : fs::directory_iterator(root)) {
        const std::string name = top.path().filename().string();
        if (!top.is_directory() || name[0] == '.' || std::find(skipped.begin(), skipped.end(), name) != skipped.end())
            continue;
        for (const auto& e : fs::recursive_directory_iterator(top.path())) {
            const std::string ext = e.path().extension().string();
            if (e.is_regular_file() && (ext == ".cpp" || ext == ".h" || ext == ".c" || ext == ".cc" || ext == ".hpp"))
                files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

// The scan itself finds every kind of writer, in any spelling a call takes,
// and takes no reader, comment or string for one.
TEST(WriteGate, TheScanFindsEveryKindOfWriterAndNoReader)
{
    const char* writers[] = {
        "std::ofstream out(path);",
        "std::fstream io(path, std::ios::in | std::ios::out);",
        "FILE* f = std::fopen(path.c_str(), \"wb\");",
        "FILE* f = fopen(p, \"a\");",
        "FILE* f = ::fopen(p, \"r+b\");",
        "FILE* f = ::fdopen(fd, \"w\");",
        "freopen(p, \"w\", stdout);",
        "FILE* f = fopen(p, mode);",
        "int fd = ::open(p, O_WRONLY | O_CREAT, 0666);",
        "int fd = openat(dir, n,\n    O_RDWR);",
        "const int flags = O_TRUNC;",
        "int fd = creat(p, 0644);",
        "cairo_surface_t* s = cairo_pdf_surface_create(p, 1, 1);",
        "cairo_ps_surface_create (p, 1, 1);",
        "cairo_svg_surface_create(p, 1, 1);",
        "cairo_surface_write_to_png(s, p);",
        "png_init_io(png, f);",
        "jpeg_stdio_dest(&c, f);",
        "CQNF_StdFile f(p, qnfile::kWrite);",
        "f.Open(p, qnfile::kUpdate);",
        "f.OpenDescriptor(fd, qnfile::kReadWrite);",
    };
    for (const char* w : writers)
        EXPECT_FALSE(Writers(w).empty()) << w;
    const char* readers[] = {
        "#include <fstream>",
        "std::ifstream in(path);",
        "FILE* f = std::fopen(path.c_str(), \"rb\");",
        "FILE* f = ::fdopen(fd, \"r\");",
        "int fd = ::open(p, O_RDONLY | O_CLOEXEC);",
        "// never std::ofstream here, nor fopen(p, \"w\")",
        "/* open(p, O_WRONLY) */ int x = 0;",
        "const char* t = \"O_CREAT and ofstream are words\";",
        "cairo_pdf_surface_create_for_stream(write, &out, 1, 1);",
        "cairo_surface_write_to_png_stream(s, write, &out);",
        "CQNF_StdFile f(p, qnfile::kRead);",
        "char c = '\"'; FILE* f = fopen(p, \"rb\");",
    };
    for (const char* r : readers)
        EXPECT_TRUE(Writers(r).empty()) << r << ": " << (Writers(r).empty() ? "" : Writers(r)[0]);
}

// No source of the product outside core/ opens a file for writing.
TEST(WriteGate, NoCodeOutsideCoreOpensAFileForWriting)
{
    const std::vector<fs::path> files = ProductSources();
    ASSERT_GT(files.size(), 100u) << "the sources are not at " << TESSOLO_SOURCE_DIR;
    std::string found;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        for (const std::string& w : Writers(text.str()))
            found += fs::relative(file, TESSOLO_SOURCE_DIR).string() + ":" + w + "\n";
    }
    EXPECT_EQ(found, "") << "these open files for writing outside core's gate (CQNF_SafeFile, qnReplaceFile, "
                            "CQNF_FileSeries)";
}
