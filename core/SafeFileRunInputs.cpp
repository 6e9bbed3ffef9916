#include "core/SafeFileRunInputs.h"

#include "core/LibraryFile.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>

#include <dlfcn.h>
#include <link.h>
#include <sys/auxv.h>

namespace {

constexpr const char* kInputWords = "the input";

// A deque: the text of a path handed out stays where it is while more are
// added. whats[i] is what paths[i] is.
struct RunInputs {
    std::mutex lock;
    std::deque<std::string> paths;
    std::deque<QnRunInput> whats;
    // The libraries mapped into the process when the inputs were last
    // gathered: a refusal that names one words it from here, as the check
    // found it, without looking at the process again.
    std::vector<std::string> libraries;
};

const char* Words(QnRunInput what)
{
    switch (what) {
    case QnRunInput::PluginLibrary:
        return "the plug-in's library";
    case QnRunInput::PluginSettings:
        return "the plug-in's settings";
    case QnRunInput::PluginSkin:
        return "the plug-in's skin";
    case QnRunInput::PluginHelp:
        return "the plug-in's help guide";
    case QnRunInput::WindowBackend:
        return "the plug-in's window backend";
    case QnRunInput::Input:
        break;
    }
    return kInputWords;
}

RunInputs& Own()
{
    static RunInputs inputs;
    return inputs;
}

using InputAtFn = const char* (*)(unsigned long);

// The host program's reader of name when this copy is another one (the
// plug-in's), or null.
InputAtFn ProgramReader(const char* name, InputAtFn own)
{
    const auto fn = reinterpret_cast<InputAtFn>(::dlsym(RTLD_DEFAULT, name));
    return fn == own ? nullptr : fn;
}

InputAtFn ProgramReader()
{
    static const InputAtFn found = ProgramReader("qnRunInputAt", &qnRunInputAt);
    return found;
}

// What the host program's entries are; null in a host that does not say.
InputAtFn ProgramWhatReader()
{
    static const InputAtFn found = ProgramReader("qnRunInputWhatAt", &qnRunInputWhatAt);
    return found;
}

// The place a name stands for without following its last part: its folder
// as the folder's links lead, and the name in it.
std::filesystem::path Place(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec).lexically_normal();
    const fs::path folder = fs::weakly_canonical(p.parent_path(), ec);
    return ec ? p : folder / p.filename();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const char* qnRunInputAt(unsigned long i)
{
    RunInputs& own = Own();
    std::lock_guard<std::mutex> hold(own.lock);
    return i < own.paths.size() ? own.paths[i].c_str() : nullptr;
}

extern "C" __attribute__((visibility("default"))) const char* qnRunInputWhatAt(unsigned long i)
{
    RunInputs& own = Own();
    std::lock_guard<std::mutex> hold(own.lock);
    return i < own.whats.size() ? Words(own.whats[i]) : nullptr;
}

void qnAddRunInputs(const std::vector<std::string>& paths, QnRunInput what)
{
    {
        RunInputs& own = Own();
        std::lock_guard<std::mutex> hold(own.lock);
        for (const std::string& p : paths)
            if (!p.empty()) {
                own.paths.push_back(p);
                own.whats.push_back(what);
            }
    }
    // Once they are known, so that the refusal names each as what it is.
    for (const std::string& p : paths)
        if (!p.empty())
            qnRefuseStandardOutputOnInput(-1, p);
}

namespace {

// Whether path names an existing regular file (through links).
bool IsRegularFile(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

// Where a program name without a folder was found: the first regular file
// of that name on PATH, or empty.
std::string OnSearchPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/bin:/usr/bin";
    for (size_t from = 0; from <= folders.size();) {
        size_t end = folders.find(':', from);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = end == from ? std::string(".") : folders.substr(from, end - from);
        if (const std::string file = folder + "/" + name; IsRegularFile(file))
            return file;
        from = end + 1;
    }
    return {};
}

// The program's own file: a run that wrote over it would not start again.
// The kernel's link names it, but that names the loader where the program
// was started through it ("ld.so PROGRAM"), and is missing where /proc is
// not mounted; the name the program was started by (as the kernel passed
// it, and as the loader left the program's first argument, searched on
// PATH when it has no folder) names it then. Each name of an existing
// regular file is kept: one that is not the program's file only refuses
// more.
const std::vector<std::string>& OwnProgram()
{
    static const std::vector<std::string> paths = [] {
        std::vector<std::string> found;
        auto add = [&found](const std::string& path) {
            std::error_code ec;
            const std::string whole = path.empty() ? path : std::filesystem::absolute(path, ec).lexically_normal().string();
            if (!ec && IsRegularFile(whole) && std::find(found.begin(), found.end(), whole) == found.end())
                found.push_back(whole);
        };
        std::error_code ec;
        const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (!ec)
            add(exe.string());
        if (const auto* execfn = reinterpret_cast<const char*>(::getauxval(AT_EXECFN)))
            add(execfn);
        const std::string invoked = program_invocation_name ? program_invocation_name : "";
        add(invoked.find('/') == std::string::npos && !invoked.empty() ? OnSearchPath(invoked) : invoked);
        return found;
    }();
    return paths;
}

// Found as the program starts, before it could change its working folder:
// a relative name is taken from where it was started.
[[maybe_unused]] const std::vector<std::string>& g_ownProgramAtStart = OwnProgram();

// Every library mapped into the process now, as the loader found it: those
// the program was linked with (wherever LD_LIBRARY_PATH led the loader),
// and those loaded since (the plug-in, its window backend). Asked at each
// check, not once at start: a library loaded later counts from then on.
// Names without a folder (the kernel's own page of code) are no file.
void AddLoadedLibraries(std::vector<std::string>& all)
{
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* into) {
            if (info->dlpi_name && std::strchr(info->dlpi_name, '/'))
                static_cast<std::vector<std::string>*>(into)->emplace_back(qnLoadedLibraryFile(info->dlpi_name));
            return 0;
        },
        &all);
}

}  // namespace

std::vector<std::string> qnRunInputs()
{
    std::vector<std::string> all;
    all.insert(all.end(), OwnProgram().begin(), OwnProgram().end());
    for (const InputAtFn reader : {&qnRunInputAt, ProgramReader()})
        for (unsigned long i = 0; reader && reader(i); ++i)
            all.emplace_back(reader(i));
    std::vector<std::string> loaded;
    AddLoadedLibraries(loaded);
    all.insert(all.end(), loaded.begin(), loaded.end());
    RunInputs& own = Own();
    std::lock_guard<std::mutex> hold(own.lock);
    own.libraries = std::move(loaded);
    return all;
}

std::string qnRunInputWhat(const std::string& input)
{
    qnRunInputs();
    return qnRunInputWords(input);
}

std::string qnRunInputWords(const std::string& input)
{
    RunInputs& own = Own();
    {
        std::lock_guard<std::mutex> hold(own.lock);
        for (size_t i = 0; i < own.paths.size(); ++i)
            if (own.paths[i] == input)
                return Words(own.whats[i]);
    }
    if (const InputAtFn reader = ProgramReader())
        for (unsigned long i = 0; reader(i); ++i)
            if (input == reader(i)) {
                const InputAtFn what = ProgramWhatReader();
                const char* words = what ? what(i) : nullptr;
                return words ? words : kInputWords;
            }
    for (const std::string& own : OwnProgram())
        if (input == own)
            return "the program's own file";
    std::lock_guard<std::mutex> hold(own.lock);
    for (const std::string& library : own.libraries)
        if (library == input)
            return "the loaded library";
    return kInputWords;
}

QnRefusal qnOwnFileRefusal(const std::string& path)
{
    const std::vector<std::string> inputs = qnRunInputs();
    if (qnInputRefusal(path, inputs).empty())
        return {};
    const std::filesystem::path place = Place(path);
    for (const std::string& input : inputs)
        if (Place(input) != place && !qnInputRefusal(path, {input}).empty()) {
            // Where the file is no link, the input is the link that leads
            // to it: the line names which way round. A file the user named
            // is one this run reads; the others are named as what they are.
            const std::string what = qnRunInputWords(input);
            const std::string named = what == kInputWords ? "a file this run reads" : what;
            std::error_code ec;
            if (!std::filesystem::is_symlink(path, ec) && std::filesystem::is_symlink(input, ec))
                return {path, input + ", " + named + ", leads to it"};
            return {path, "it leads to " + input + ", " + named};
        }
    return {};
}

// ---- The file the run will write --------------------------------------------

namespace {

// A dropped name is emptied, not erased: the text of the others stays
// where it was handed out.
RunInputs& OwnOutputs()
{
    static RunInputs outputs;
    return outputs;
}

InputAtFn ProgramOutputReader()
{
    static const InputAtFn found = [] {
        const auto fn = reinterpret_cast<InputAtFn>(::dlsym(RTLD_DEFAULT, "qnRunOutputAt"));
        return fn == &qnRunOutputAt ? nullptr : fn;
    }();
    return found;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const char* qnRunOutputAt(unsigned long i)
{
    RunInputs& own = OwnOutputs();
    std::lock_guard<std::mutex> hold(own.lock);
    return i < own.paths.size() ? own.paths[i].c_str() : nullptr;
}

void qnAddRunOutput(const std::string& path)
{
    if (path.empty() || path == kQnStandardOutput)
        return;
    RunInputs& own = OwnOutputs();
    std::lock_guard<std::mutex> hold(own.lock);
    own.paths.push_back(path);
}

void qnDropRunOutput(const std::string& path)
{
    RunInputs& own = OwnOutputs();
    std::lock_guard<std::mutex> hold(own.lock);
    for (std::string& p : own.paths)
        if (p == path)
            p.clear();
}

QnRefusal qnRunOutputRefusal(const std::string& path)
{
    if (path.empty() || path == kQnStandardOutput)
        return {};
    std::vector<std::string> outputs;
    for (const InputAtFn reader : {&qnRunOutputAt, ProgramOutputReader()})
        for (unsigned long i = 0; reader && reader(i); ++i)
            if (*reader(i))
                outputs.emplace_back(reader(i));
    for (const std::string& output : outputs)
        if (!qnInputRefusal(path, {output}).empty())
            return {path, "it would write over " + output + ", the output this run writes when it ends; name another file"};
    return {};
}
