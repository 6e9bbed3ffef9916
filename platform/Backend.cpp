#include "platform/Backend.h"

#include "platform/Headless.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

namespace plat {

#ifndef TESSOLO_HAVE_GTK
std::unique_ptr<Platform> OpenGtk(std::string& error)
{
    error = "this build has no GTK window backend";
    return nullptr;
}
#endif

namespace {

// A reason as the command line says it ends in what to name instead ("...;
// name another output", "... (name a file)"). The box's advice says that for
// a chooser, so the reason's own is left out. Such advice is plain words: a
// file name at the end of a reason (it has a dot or a slash) stays whole.
bool PlainWords(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c)) || c == ' ' || c == ',' || c == '-';
    });
}

std::string WithoutNamingAdvice(std::string reason)
{
    const std::string_view r = reason;
    if (const size_t at = r.rfind("; name "); at != r.npos && PlainWords(r.substr(at + 2)))
        reason.erase(at);
    else if (const size_t open = r.rfind(" (name "); open != r.npos && r.back() == ')' &&
                                                       PlainWords(r.substr(open + 2, r.size() - open - 3)))
        reason.erase(open);
    return reason;
}

}  // namespace

RefusalBox DescribeRefusal(const QnRefusal& refusal, const std::string& chosen)
{
    RefusalBox box;
    box.headline = kRefusedSaveTitle;
    box.advice = "Choose another name or folder.";
    box.name = refusal.file.empty() ? chosen : refusal.file;
    box.reason = WithoutNamingAdvice(refusal.reason);
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
