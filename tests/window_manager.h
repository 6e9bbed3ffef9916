// A window manager (openbox) on the test's display while the object lives,
// for window tests that must hold with one as well as without.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace wmtest {

class WindowManager {
public:
    WindowManager() : m_pid(fork())
    {
        if (m_pid == 0) {
            execlp("openbox", "openbox", static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~WindowManager()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;
    // Waits until it has taken the screen over; false when it never did.
    bool Managing() const
    {
        for (int i = 0; m_pid > 0 && i < 600; ++i) {
            FILE* p = popen("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null", "r");
            char line[256] = {};
            const bool owned = p && fgets(line, sizeof line, p) && std::strstr(line, "window id");
            if (p)
                pclose(p);
            if (owned)
                return true;
            usleep(100000);
        }
        return false;
    }

private:
    pid_t m_pid;
};

}  // namespace wmtest
