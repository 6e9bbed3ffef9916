// "ui-gallery [--resource FILE] [--snap OUT.png]": the window toolkit's demo.
// Without --snap it opens the shaped gallery window on the X display (its
// buttons open a modal dialog, a pop-up menu and the file dialogs; Ctrl+D,
// Ctrl+M, Ctrl+O, Ctrl+S do the same, Esc or Ctrl+Q closes it). With --snap
// it draws the window headless and saves the picture. Without --resource the
// gallery's own small resource file is made for the run.
#include "tools/Command.h"

#include "core/SafeFile.h"

#include "tools/UiShow.h"

#include "resources/ResourceFile.h"
#include "ui/gallery/Gallery.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr const char* kName = "ui-gallery";

int Show(const std::string& resource)
{
    return tool::ShowWindow(kName, resource, "Gallery", "the gallery window", [&](const tool::Say& say) {
        auto w = std::make_unique<qnui::CGalleryWindow>();
        w->onEvent = say;
        return w;
    });
}

int Run(const tool::Args& args)
{
    // "--controls ...": the page of skinned controls (tools/cmd_ui_controls.cpp).
    if (!args.empty() && args[0] == "--controls") {
        for (const tool::Command& c : tool::Commands()) {
            if (std::string(c.name) == "ui-controls")
                return c.run(tool::Args(args.begin() + 1, args.end()));
        }
    }
    std::string resource, snap;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--resource" || a == "--snap") && i + 1 >= args.size())
            return tool::BadArguments(kName, a + " needs a file name");
        if (a == "--resource")
            resource = args[++i];
        else if (a == "--snap")
            snap = args[++i];
        else if (tool::IsOption(a))
            return tool::BadArguments(kName, "unknown option " + a);
        else
            return tool::BadArguments(kName, "unexpected argument '" + a + "'");
    }
    if (!snap.empty())
        if (const int refused = tool::RefuseOutput(kName, snap, {resource}, {".png"}))
            return refused;
    // The gallery's own resource file lives in a scratch folder: gone with
    // the run, also when it is stopped.
    std::optional<CQNF_ScratchFolder> scratch;
    if (resource.empty()) {
        scratch.emplace("tessolo_gallery");
        if (scratch->Path().empty())
            return tool::Fail(kName, "cannot create a temporary folder");
        resource = scratch->Path() + "/gallery.qns4";
        std::string error;
        if (!qnui::BuildGalleryResource(resource, error))
            return tool::Fail(kName, error);
    } else if (const std::string refused = qnres::ResourceFile().OpenNamed(resource); !refused.empty()) {
        return tool::Fail(kName, refused);
    }
    int rc = 0;
    if (!snap.empty()) {
        std::string error;
        rc = tool::SnapDone(kName, snap, qnui::SnapGallery(resource, snap, error), error);
    } else {
        rc = Show(resource);
    }
    return rc;
}

const tool::Registrar reg({kName, "ui-gallery [--resource FILE] [--snap OUT.png] | --controls [ui-controls options]",
                           "shows the window toolkit's gallery window, or saves a picture of it; with "
                           "--controls the gallery of skinned controls",
                           Run});

}  // namespace
