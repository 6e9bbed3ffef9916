// "ui-controls [--resource FILE] [--snap OUT.png --scene NAME]": the controls
// gallery. Without --snap it opens the window on the X display; with --snap
// it plays a scene headless and saves the picture. Without --resource the
// gallery's resource file made at build time is used.
#include "tools/Command.h"

#include "resources/ResourceFile.h"
#include "tools/UiShow.h"

#include "ui/gallery/ControlsGallery.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr const char* kName = "ui-controls";

int Show(const std::string& resource)
{
    return tool::ShowWindow(kName, resource, "Controls", "the controls gallery", [&](const tool::Say& say) {
        auto w = std::make_unique<qnui::CControlsGallery>();
        w->onEvent = say;
        return w;
    });
}

int Run(const tool::Args& args)
{
#ifdef TESSOLO_CONTROLS_GALLERY_FILE
    std::string resource = TESSOLO_CONTROLS_GALLERY_FILE;
#else
    std::string resource;
#endif
    std::string snap, scene = "rest";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--resource" || a == "--snap" || a == "--scene") && i + 1 >= args.size()) {
            return tool::BadArguments(kName, a + " needs a value");
        }
        if (a == "--resource") {
            resource = args[++i];
        } else if (a == "--snap") {
            snap = args[++i];
        } else if (a == "--scene") {
            scene = args[++i];
        } else if (tool::IsOption(a)) {
            return tool::BadArguments(kName, "unknown option " + a);
        } else {
            return tool::BadArguments(kName, "unexpected argument '" + a + "'");
        }
    }
    // The window shows every scene in turn: a scene names the picture --snap saves.
    if (snap.empty() && std::find(args.begin(), args.end(), "--scene") != args.end())
        return tool::BadArguments(kName, "--scene goes with --snap: it names the scene the picture shows");
    const auto& scenes = qnui::ControlsGalleryScenes();
    if (std::find(scenes.begin(), scenes.end(), scene) == scenes.end())
        return tool::BadArguments(kName, "unknown scene '" + scene + "'");
    if (resource.empty())
        return tool::Fail(kName, "no resource file was built");
    if (const std::string refused = qnres::ResourceFile().OpenNamed(resource); !refused.empty())
        return tool::Fail(kName, refused);
    if (snap.empty()) {
        return Show(resource);
    }
    if (const int refused = tool::RefuseOutput(kName, snap, {resource}, {".png"}))
        return refused;
    std::string error;
    return tool::SnapDone(kName, snap, qnui::SnapControlsGallery(resource, scene, snap, error), error);
}

const tool::Registrar reg({kName, "ui-controls [--resource FILE] [--snap OUT.png [--scene NAME]]",
                           "shows the gallery of skinned controls, or saves a picture of one of its scenes "
                           "(rest, hover, pressed, pressed-out, checked, dragged, disabled)",
                           Run});

}  // namespace
