#include "platform/Backend.h"

#include "platform/Headless.h"

#include <cctype>
#include <cstdlib>

namespace plat {

#ifndef TESSOLO_HAVE_GTK
std::unique_ptr<Platform> OpenGtk(std::string& error)
{
    error = "this build has no GTK window backend";
    return nullptr;
}
#endif

RefusalBox DescribeRefusal(const QnRefusal& refusal, const std::string& chosen)
{
    RefusalBox box;
    box.headline = kRefusedSaveTitle;
    box.advice = "Choose another name or folder.";
    box.name = refusal.file.empty() ? chosen : refusal.file;
    box.reason = refusal.reason;
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
