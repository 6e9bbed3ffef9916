#include "tools/UiShow.h"

#include "core/ErrorManager.h"
#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"

#include "platform/Backend.h"
#include "tools/Command.h"
#include "ui/App.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"

#include <cstdio>

namespace tool {

int ShowWindow(const char* command, const std::string& resource, const char* windowName, const std::string& what,
               const std::function<std::unique_ptr<CQNF_Window>(const Say& say)>& make)
{
    std::string error;
    auto platform = plat::OpenPlatform("gtk", error);
    if (!platform)
        return Fail(command, error);
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    tk.Attach(platform.get());
    int rc = 0;
    {
        CQNF_App app;
        m_App = &app;
        std::unique_ptr<CQNF_Window> w = make([](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        });
        if (!app.InitStorgaeResource(resource.c_str(), 0)) {
            rc = Fail(command, qnFileFailure(resource, false, qnerr::FileNotOpened));
        } else if (!w->CreateFromResource(CQNF_String(windowName), -32000, -32000, nullptr, 0)) {
            rc = Fail(command, qnWindowNotMadeWords(what, resource, windowName, w->GetError()));
        } else {
            w->RenderRect(qnNullRect);
            w->SetFocus();
            app.SetMainWindow(w.get());
            app.Run();
        }
        w.reset();
        m_App = nullptr;
    }
    tk.Attach(nullptr);
    return rc;
}

int SnapDone(const char* command, const std::string& snap, bool written, const std::string& error)
{
    if (!written)
        return Fail(command, error);
    std::printf("wrote %s\n", qnShownName(snap).c_str());
    return 0;
}

}  // namespace tool
