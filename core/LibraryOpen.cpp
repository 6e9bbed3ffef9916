// qnOpenLibrary: a library opened once, judged through that open file and
// loaded from it, so that the file judged is the file the loader maps.
#include "core/LibraryFile.h"

#include "core/ErrorWords.h"
#include "core/SafeFile.h"

#include <cerrno>
#include <climits>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

namespace {

std::function<void(const std::string&)>& JudgedHook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

}  // namespace

qnOpenLibrary::qnOpenLibrary(const std::string& path) : m_path(path)
{
    m_fd = qnOpenRegularFile(path.c_str(), O_RDONLY);
    m_error = m_fd < 0 ? errno : 0;
}

qnOpenLibrary::~qnOpenLibrary()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

qnLibraryFile qnOpenLibrary::Judge(std::string& why, qnLibrarySeal seal, const qnLibraryRead& read)
{
    why.clear();
    if (m_fd < 0)
        return qnLibraryFile::Unreadable;
    return qnJudgeLibraryFd(m_fd, why, seal, read);
}

void* qnOpenLibrary::Load(int flags)
{
    m_loadError.clear();
    if (m_fd < 0) {
        m_loadError = qnSystemWords(m_error);
        return nullptr;
    }
    if (const auto& hook = JudgedHook())
        hook(m_path);
    const std::string name = "/proc/self/fd/" + std::to_string(m_fd);
    void* library = ::dlopen(name.c_str(), flags);
    if (!library) {
        const char* loader = ::dlerror();
        m_loadError = loader ? loader : "";
        for (size_t at = 0; (at = m_loadError.find(name, at)) != std::string::npos; at += m_path.size())
            m_loadError.replace(at, name.size(), m_path);
        return nullptr;
    }
    // The loader keeps the name of a library it maps for the first time;
    // one it had already (the same file, by device and inode) keeps the
    // name it was first loaded by, and this descriptor is not needed.
    link_map* map = nullptr;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && name == map->l_name)
        m_fd = -1;  // kept open: the loaded library's name leads to its file
    return library;
}

std::string qnLoadedLibraryFile(const std::string& name)
{
    constexpr std::string_view kDescriptors = "/proc/self/fd/";
    if (name.compare(0, kDescriptors.size(), kDescriptors) != 0)
        return name;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(name.c_str(), target, sizeof target);
    return n > 0 && size_t(n) < sizeof target && target[0] == '/' ? std::string(target, size_t(n)) : name;
}

void qnOpenLibrary::SetJudgedHook(std::function<void(const std::string& path)> hook)
{
    JudgedHook() = std::move(hook);
}

