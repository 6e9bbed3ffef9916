// "ui-edit [--resource FILE] [--image PICTURE] [--snap OUT.png [--scene NAME]]":
// the edit gallery (edit lines, a hundred-item list, the preview of a large
// picture). Without --snap it opens the window on the X display; with --snap
// it plays a scene headless and saves the picture. Without --image it
// previews a 6000 x 4000 picture made for the run.
#include "tools/Command.h"
#include "resources/ResourceFile.h"
#include "tools/UiShow.h"

#include "ui/gallery/EditGallery.h"

#include <algorithm>
#include <memory>
#include <string>

namespace {

constexpr const char* kName = "ui-edit";

int Show(const std::string& resource, CQNF_Image& picture)
{
    return tool::ShowWindow(kName, resource, "EditGallery", "the edit gallery", [&](const tool::Say& say) {
        auto w = std::make_unique<qnui::CEditGallery>(&picture);
        w->onEvent = say;
        return w;
    });
}

int Run(const tool::Args& args)
{
#ifdef TESSOLO_EDIT_GALLERY_FILE
    std::string resource = TESSOLO_EDIT_GALLERY_FILE;
#else
    std::string resource;
#endif
    std::string image, snap, scene = "rest";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takesValue = a == "--resource" || a == "--image" || a == "--snap" || a == "--scene";
        if (takesValue && i + 1 >= args.size())
            return tool::BadArguments(kName, a + " needs a value");
        if (a == "--resource")
            resource = args[++i];
        else if (a == "--image")
            image = args[++i];
        else if (a == "--snap")
            snap = args[++i];
        else if (a == "--scene")
            scene = args[++i];
        else if (tool::IsOption(a))
            return tool::BadArguments(kName, "unknown option " + a);
        else
            return tool::BadArguments(kName, "unexpected argument '" + a + "'");
    }
    // The window shows every scene in turn: a scene names the picture --snap saves.
    if (snap.empty() && std::find(args.begin(), args.end(), "--scene") != args.end())
        return tool::BadArguments(kName, "--scene goes with --snap: it names the scene the picture shows");
    const auto& scenes = qnui::EditGalleryScenes();
    if (std::find(scenes.begin(), scenes.end(), scene) == scenes.end())
        return tool::BadArguments(kName, "unknown scene '" + scene + "'");
    if (resource.empty())
        return tool::Fail(kName, "no resource file was built");
    if (const std::string refused = qnres::ResourceFile().OpenNamed(resource); !refused.empty())
        return tool::Fail(kName, refused);
    CQNF_Image picture;
    std::string error;
    if (image.empty()) {
        if (!qnui::MakeGalleryPicture(picture, 6000, 4000))
            return tool::Fail(kName, "out of memory for the picture");
    } else if (!qnui::LoadGalleryPicture(image, picture, error)) {
        return tool::Fail(kName, error);
    }
    if (snap.empty())
        return Show(resource, picture);
    if (const int refused = tool::RefuseOutput(kName, snap, {resource, image}, {".png"}))
        return refused;
    return tool::SnapDone(kName, snap, qnui::SnapEditGallery(resource, &picture, scene, snap, error), error);
}

const tool::Registrar reg({kName, "ui-edit [--resource FILE] [--image PICTURE] [--snap OUT.png [--scene NAME]]",
                           "shows the edit gallery (edit lines, a list, a large picture's preview), or saves a "
                           "picture of a scene: rest, typed, scrolled, panned, zoomed",
                           Run});

}  // namespace
