// Opens a file (or URL) with the user's default application.
//
// Everything goes through one replaceable handler so that tests, and hosts
// with their own way to open documents, can take it over. The default hands
// the target to xdg-open in a detached process, without a shell.
#pragma once

#include <functional>
#include <string>

class CQNF_Launcher {
public:
    using Handler = std::function<bool(const std::string& target)>;

    // True when the handler accepted the target (for the default: when the
    // opener program was started).
    static bool Open(const std::string& target);
    // Replaces the handler; an empty handler restores the default.
    static void SetHandler(Handler handler);
    // Whether targets go to xdg-open (no handler has taken over).
    static bool UsesDefault();

    // Starts program with the one argument, detached from this process (no
    // zombie is left behind and no shell sees the argument). True when the
    // program was executed; false when it could not be found or started.
    static bool SpawnDetached(const char* program, const std::string& argument);
};
