#include "platform/Backend.h"

#include "platform/Headless.h"

#include <cctype>
#include <cstdlib>

#include <sys/stat.h>

namespace plat {

#ifndef TESSOLO_HAVE_GTK
std::unique_ptr<Platform> OpenGtk(std::string& error)
{
    error = "this build has no GTK window backend";
    return nullptr;
}
#endif

// The line names the file it refuses after "cannot write " and before the
// first ": " that ends a name: the chosen path's own, or one that is there
// (a path may hold ": " itself). A line of another form names no file of
// its own: the chosen path is named, and the whole line is the reason.
RefusalBox DescribeRefusal(const std::string& why, const std::string& chosen)
{
    RefusalBox box;
    box.headline = kRefusedSaveTitle;
    box.advice = "Choose another name or folder.";
    box.name = chosen;
    box.reason = why;
    const std::string head = "cannot write ";
    if (why.rfind(head, 0) == 0) {
        const std::string rest = why.substr(head.size());
        size_t end = rest.find(": ");
        if (!chosen.empty() && rest.rfind(chosen + ": ", 0) == 0) {
            end = chosen.size();
        } else {
            struct stat st {};
            for (size_t at = end; at != std::string::npos; at = rest.find(": ", at + 1))
                if (::lstat(rest.substr(0, at).c_str(), &st) == 0) {
                    end = at;
                    break;
                }
        }
        if (end != std::string::npos) {
            box.name = rest.substr(0, end);
            box.reason = rest.substr(end + 2);
        }
    }
    if (!box.reason.empty()) {
        box.reason[0] = char(std::toupper(static_cast<unsigned char>(box.reason[0])));
        if (box.reason.back() != '.')
            box.reason += '.';
    }
    return box;
}

std::unique_ptr<Platform> OpenPlatform(const std::string& which, std::string& error)
{
    std::string name = which;
    if (name.empty()) {
        const char* env = std::getenv("TESSOLO_PLATFORM");
        name = env && *env ? env : "gtk";
    }
    if (name == "headless")
        return std::make_unique<HeadlessPlatform>();
    if (name == "gtk")
        return OpenGtk(error);
    error = "unknown window backend '" + name + "' (headless or gtk)";
    return nullptr;
}

}  // namespace plat
