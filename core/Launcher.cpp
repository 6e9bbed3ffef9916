#include "core/Launcher.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

CQNF_Launcher::Handler& CurrentHandler()
{
    static CQNF_Launcher::Handler handler;
    return handler;
}

}  // namespace

bool CQNF_Launcher::Open(const std::string& target)
{
    if (target.empty())
        return false;
    if (const Handler& h = CurrentHandler())
        return h(target);
    return SpawnDetached("xdg-open", target);
}

void CQNF_Launcher::SetHandler(Handler handler) { CurrentHandler() = std::move(handler); }

bool CQNF_Launcher::UsesDefault() { return !CurrentHandler(); }

bool CQNF_Launcher::SpawnDetached(const char* program, const std::string& argument)
{
    if (!program || !*program)
        return false;
    // The grandchild reports a failed exec through this pipe; a successful
    // exec closes it (close-on-exec), which the parent reads as end of file.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    // Everything the children need is made before fork: after it only
    // async-signal-safe calls are allowed.
    char* const argv[] = {const_cast<char*>(program), const_cast<char*>(argument.c_str()), nullptr};
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        close(report[0]);
        // A second fork detaches the program: the intermediate child exits at
        // once and the program is reparented, so nobody has to reap it.
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            setsid();
            execvp(program, argv);
            const int err = errno;
            (void)!write(report[1], &err, sizeof err);
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    bool started = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    int err = 0;
    ssize_t got;
    while ((got = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (got > 0)
        started = false;
    return started;
}
