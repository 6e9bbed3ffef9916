// Removing the safe writer's temporary files when SIGINT, SIGTERM or SIGHUP
// ends the program, and holding those signals while a few renames finish.
#include "core/SafeFileSignals.h"

#include "core/SafeFile.h"
#include "core/SeriesFiles.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <system_error>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace qnsafe {

namespace {

// Named temporary files, and folders of them, to remove when one of
// kCleanedSignals ends the program. The handler only reads these fixed buffers and
// makes system calls that are safe in a signal handler.
constexpr int kSignalSlots = 64;
char g_tempPaths[kSignalSlots][PATH_MAX];
// For a folder: the name it is moved to before it is emptied, so that a
// thread still writing into it by name finds it gone instead of refilling it;
// empty where the disk's renamed folders lose what they hold (a FAT stick
// through FUSE), where the folder is emptied in place.
char g_gonePaths[kSignalSlots][PATH_MAX];
std::atomic<bool> g_tempUsed[kSignalSlots];
std::atomic<bool> g_tempIsFolder[kSignalSlots];
// The signals that end a program the user stops (Ctrl-C, kill, a closed
// terminal) and that a handler can catch.
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCleanedCount = int(sizeof kCleanedSignals / sizeof kCleanedSignals[0]);
struct sigaction g_old[kCleanedCount];

struct sigaction& OldAction(int sig)
{
    int i = 0;
    while (i + 1 < kCleanedCount && kCleanedSignals[i] != sig)
        ++i;
    return g_old[i];
}
std::once_flag g_installOnce;
// While held, a signal is only noted; the release acts on it.
std::atomic<int> g_holds{0};
std::atomic<int> g_pendingSignal{0};

// Empties a folder of temporary files and removes it, with calls a signal
// handler may make. Removing entries while reading the folder may skip
// some, so it reads again until a pass removes nothing.
void RemoveFolderNow(const char* folder)
{
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    alignas(8) char buf[4096];
    for (int pass = 0; pass < 64; ++pass) {
        bool removed = false;
        ::lseek(fd, 0, SEEK_SET);
        for (ssize_t n; (n = ::getdents64(fd, buf, sizeof buf)) > 0;) {
            for (ssize_t off = 0; off < n;) {
                const auto* d = reinterpret_cast<const struct dirent64*>(buf + off);
                off += d->d_reclen;
                const char* name = d->d_name;
                if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                    continue;
                removed = ::unlinkat(fd, name, 0) == 0 || removed;
            }
        }
        if (!removed)
            break;
    }
    ::close(fd);
    ::rmdir(folder);
}

void RemoveTempsOnSignal(int sig)
{
    if (g_holds.load() > 0) {
        g_pendingSignal.store(sig);
        return;
    }
    for (int i = 0; i < kSignalSlots; ++i)
        if (g_tempUsed[i].load(std::memory_order_acquire) && !g_tempIsFolder[i].load(std::memory_order_acquire))
            ::unlink(g_tempPaths[i]);
    for (int i = 0; i < kSignalSlots; ++i)
        if (g_tempUsed[i].load(std::memory_order_acquire) && g_tempIsFolder[i].load(std::memory_order_acquire))
            RemoveFolderNow(g_gonePaths[i][0] && ::rename(g_tempPaths[i], g_gonePaths[i]) == 0 ? g_gonePaths[i]
                                                                                              : g_tempPaths[i]);
    const struct sigaction& old = OldAction(sig);
    if ((old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) {
        old.sa_handler(sig);
        return;
    }
    // The program ends as the signal would have ended it.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void InstallHandlers()
{
    for (const int sig : kCleanedSignals) {
        struct sigaction& old = OldAction(sig);
        if (::sigaction(sig, nullptr, &old) != 0)
            continue;
        // A program that ignores the signal, or handles it with its own
        // extended handler, keeps its choice.
        if (old.sa_handler == SIG_IGN || (old.sa_flags & SA_SIGINFO) != 0)
            continue;
        struct sigaction sa {};
        sa.sa_handler = RemoveTempsOnSignal;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

}  // namespace

int RegisterTemp(const std::string& path, bool folder)
{
    std::call_once(g_installOnce, InstallHandlers);
    if (path.size() + 6 >= PATH_MAX)
        return -1;
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    for (int i = 0; i < kSignalSlots; ++i) {
        if (g_tempUsed[i].load(std::memory_order_relaxed))
            continue;
        std::memcpy(g_tempPaths[i], path.c_str(), path.size() + 1);
        std::memcpy(g_gonePaths[i], path.c_str(), path.size());
        std::memcpy(g_gonePaths[i] + path.size(), ".gone", 6);
        // Asked now: a signal handler should not have to.
        struct statfs fs;
        if (folder && ::statfs(path.c_str(), &fs) == 0 && !qnseries::KeepsInodeNumbers(uint64_t(fs.f_type)))
            g_gonePaths[i][0] = 0;
        g_tempIsFolder[i].store(folder, std::memory_order_release);
        g_tempUsed[i].store(true, std::memory_order_release);
        return i;
    }
    return -1;
}

void ReleaseTemp(int& slot)
{
    if (slot >= 0)
        g_tempUsed[slot].store(false, std::memory_order_release);
    slot = -1;
}

}  // namespace qnsafe

int qnRemoveFolderOnSignal(const std::string& folder) { return qnsafe::RegisterTemp(folder, true); }

void qnForgetFolderOnSignal(int slot) { qnsafe::ReleaseTemp(slot); }

CQNF_TerminationHold::CQNF_TerminationHold()
{
    // The handlers that note a held signal are in place first: a signal
    // that came before would end the program as it is.
    std::call_once(qnsafe::g_installOnce, qnsafe::InstallHandlers);
    qnsafe::g_holds.fetch_add(1);
}

void CQNF_TerminationHold::Release()
{
    if (!std::exchange(m_held, false) || qnsafe::g_holds.fetch_sub(1) != 1)
        return;
    if (const int sig = qnsafe::g_pendingSignal.exchange(0))
        qnsafe::RemoveTempsOnSignal(sig);
}

namespace {

std::atomic<bool> g_failThreadStarts{false};

// While one lives, this thread takes no signal: the mask it had comes back
// when it goes, however its scope is left.
class AllSignalsBlocked {
public:
    AllSignalsBlocked()
    {
        sigset_t all;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &m_old);
    }
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;
    ~AllSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }

private:
    sigset_t m_old;
};

}  // namespace

std::thread qnStartThreadWithoutSignals(std::function<void()> body)
{
    const AllSignalsBlocked quiet;
    if (g_failThreadStarts.load())
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread left to start");
    return std::thread(std::move(body));
}

void qnSafeFileFailThreadStarts(bool fail) { g_failThreadStarts.store(fail); }
