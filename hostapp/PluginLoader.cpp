#include "hostapp/PluginLoader.h"

#include "core/ErrorWords.h"
#include "core/LibraryFile.h"
#include "core/StdFile.h"

#include <cerrno>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostapp {

namespace {

// Why a readable file did not load as a library: a file that is no library
// for this system at all is no plug-in; anything else (a library it needs
// missing, say) is the loader's reason, which names what to mend.
std::string LoadFailure(const std::string& path, const char* why)
{
    const std::string reason = why ? why : "";
    for (const char* notLibrary : {"invalid ELF header", "file too short", "wrong ELF class", "ELF file"})
        if (reason.find(notLibrary) != std::string::npos)
            return "cannot load plug-in " + path + ": it is not a Tessolo plug-in";
    return "cannot load plug-in " + path + ": " + (reason.empty() ? "the system gave no reason" : reason);
}

}  // namespace

bool PluginLoader::Load(const std::string& path, std::string& err)
{
    Unload();
    // The plug-in and the libraries it brings (cairo, pixman) stay mapped
    // until the process ends, as a host keeps its filters: a library that
    // sets up tables once when loaded must not be unloaded under them.
    // A name without a slash would be looked for along the library path:
    // the plug-in named is the file of that name in the current folder.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    // A missing plug-in (a host program copied away from its bundle) is
    // told as any missing input is, with the two ways to name another.
    struct stat st;
    if (::stat(file.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        err = qnReadFailure(path, errno) +
              "; the plug-in is missing: name one with --plugin FILE or the environment variable TESSOLO_PLUGIN";
        return false;
    }
    // The loader would wait for ever on a FIFO and give its own raw words
    // for a folder or a device: refused first, in the words every program
    // gives for such an input.
    if (std::string why = qnRegularFileProblem(path); !why.empty()) {
        err = std::move(why);
        return false;
    }
    // A library cut short, or one whose tail was lost, would kill the host
    // with a signal once loaded: judged by its headers and tables first,
    // and loaded from the very file judged.
    qnOpenLibrary library(file);
    if (const int error = library.OpenError()) {
        err = qnOpenRegularFailure(path, error);
        return false;
    }
    std::string why;
    switch (library.Judge(why)) {
    case qnLibraryFile::NotLibrary:
        err = "cannot load plug-in " + path + ": it is not a Tessolo plug-in";
        return false;
    case qnLibraryFile::Unreadable:
        err = qnReadFailure(path, errno);
        return false;
    case qnLibraryFile::CutShort:
    case qnLibraryFile::Damaged:
    case qnLibraryFile::ReadFails:  // the loader would meet the same fault as a signal
        err = "cannot load plug-in " + path + ": " + why;
        return false;
    case qnLibraryFile::Sound:
        break;
    }
    m_library = library.Load(RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_library) {
        err = LoadFailure(path, library.LoadError().c_str());
        return false;
    }
    void* symbol = dlsym(m_library, filterEntryName);
    if (!symbol) {
        err = "cannot load plug-in " + path + ": it is not a Tessolo plug-in";
        Unload();
        return false;
    }
    m_entry = reinterpret_cast<FilterEntryProc>(symbol);
    return true;
}

void PluginLoader::Unload()
{
    if (m_library)
        dlclose(m_library);
    m_library = nullptr;
    m_entry = nullptr;
}

}  // namespace hostapp
