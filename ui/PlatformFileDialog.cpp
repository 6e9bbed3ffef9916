#include "ui/PlatformFileDialog.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/Storage.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"

#include <filesystem>
#include <strings.h>
#include <sys/stat.h>

namespace {
FSRef g_appRoot;

bool IsFolder(const std::string& path)
{
    struct stat st{};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsReadableFile(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

void CQNF_PlatformFileDialog::SetAppRootFolder(const FSRef& folder) { g_appRoot = folder; }

namespace {

CQNF_Storage* g_settings = nullptr;

CQNF_String LastFolderKey()
{
    CQNF_String key("File Dialogs>");
    key += CQNF_PlatformFileDialog::kClientName;
    key += ">Last Folder";
    return key;
}

}  // namespace

void CQNF_PlatformFileDialog::SetSettingsStorage(CQNF_Storage* storage) { g_settings = storage; }

void CQNF_PlatformFileDialog::i_RememberFolder(const std::string& folder) const
{
    // Only a dialog that names no folder of its own says where the user
    // keeps things: a knife shape saved in the shapes folder does not send
    // the next document there.
    if (!g_settings || folder.empty() || IsFolder(m_defaultFolder.path))
        return;
    CQNF_String client("File Dialogs>");
    client += kClientName;
    g_settings->BeginUpdate();
    g_settings->AddFolder(CQNF_String("File Dialogs"));
    g_settings->AddFolder(client);
    g_settings->SetRecord(LastFolderKey(), CQNF_String(folder.c_str()));
    g_settings->EndUpdate();
}
const FSRef& CQNF_PlatformFileDialog::GetAppRootFolder() { return g_appRoot; }

void CQNF_PlatformFileDialog::AddFilter(const char* description, CQNF_StringArray* extensions,
                                        unsigned long fileType)
{
    if (!extensions)
        return;
    if (m_filterName.GetLength() == 0 && description)
        m_filterName = description;
    for (uint32_t i = 0; i < extensions->GetSize(); ++i)
        m_extensions.Add((*extensions)[i]);
    m_fileTypes.Add(uint32_t(fileType));
}

void CQNF_PlatformFileDialog::RemoveAllFilters()
{
    m_extensions.Empty();
    m_fileTypes.Empty();
    m_filterName = "";
}

void CQNF_PlatformFileDialog::SetDefaultPathToAppRoot(const char* subfolder)
{
    m_defaultFolder = g_appRoot;
    if (m_defaultFolder.path.empty() || !subfolder || !*subfolder)
        return;
    std::string sub(subfolder);
    if (sub.size() > 250)
        sub.resize(250);
    const std::string candidate = m_defaultFolder.path + "/" + sub;
    if (IsFolder(candidate))
        m_defaultFolder.path = candidate;
}

bool CQNF_PlatformFileDialog::ShowsFile(const std::string& name) const
{
    if (m_extensions.GetSize() == 0)
        return true;
    for (uint32_t i = 0; i < m_extensions.GetSize(); ++i) {
        const CQNF_String ext = m_extensions[i];
        const size_t n = ext.GetLength();
        if (n == 0 || n >= 6 || name.size() <= n + 1)
            continue;
        const size_t dot = name.size() - n - 1;
        if (name[dot] == '.' && strcasecmp(name.c_str() + dot + 1, ext.GetStr()) == 0)
            return true;
    }
    return false;
}

void CQNF_PlatformFileDialog::SplitName(const std::string& name, std::string& stem, std::string& extension)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        stem = name;
        extension.clear();
    } else {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
}

bool CQNF_PlatformFileDialog::DoFileOpenDialog(CQNF_Window* parent, unsigned char packages)
{
    m_resultValid = 0;
    m_result = {};
    plat::Platform* p = qnui::Toolkit::Get().P();
    if (!p)
        return false;
    plat::FileDialogSpec spec = i_Spec(parent);
    spec.showPackages = packages != 0;
    std::string path;
    if (!p->FileOpenDialog(spec, path) || !IsReadableFile(path))
        return false;
    m_result.path = path;
    m_resultValid = 1;
    i_RememberFolder(std::filesystem::path(path).parent_path().string());
    return true;
}

bool CQNF_PlatformFileDialog::OpenFileByResult(CQNF_StdFile* file, unsigned long mode)
{
    if (!file || !m_resultValid)
        return false;
    return file->Open(&m_result, uint32_t(mode));
}

plat::FileDialogSpec CQNF_PlatformFileDialog::i_Spec(CQNF_Window* parent) const
{
    plat::FileDialogSpec spec;
    spec.title = m_title.GetStr();
    // The caller's folder; a caller that names none gets the folder the
    // user went to last in such a dialog, while it is there (and without
    // either, the platform opens where the program was started).
    if (IsFolder(m_defaultFolder.path))
        spec.folder = m_defaultFolder.path;
    CQNF_String last;
    if (spec.folder.empty() && g_settings && g_settings->GetRec(LastFolderKey(), last) && IsFolder(last.GetStr()))
        spec.folder = last.GetStr();
    spec.proposedName = m_saveName.GetStr();
    spec.parent = parent ? parent->GetWindowHandle() : 0;
    if (m_extensions.GetSize()) {
        spec.filter = [this](const std::string& name) { return ShowsFile(name); };
        spec.filterName = m_filterName.GetStr();
    }
    return spec;
}

bool CQNF_PlatformFileDialog::i_AskSave(CQNF_Window* parent, plat::SaveChoice& choice,
                                        std::function<QnRefusal(const std::string& path)> refusal)
{
    m_resultValid = 0;
    m_result = {};
    m_failure.clear();
    m_chosen = false;
    plat::Platform* p = qnui::Toolkit::Get().P();
    if (!p)
        return false;
    plat::FileDialogSpec spec = i_Spec(parent);
    // A name whose ending says another format than the one written (a
    // layered PSD named "layers.png") is refused as the command line
    // refuses it, once the write itself could be made.
    std::vector<std::string> endings;
    for (uint32_t i = 0; i < m_extensions.GetSize(); ++i)
        endings.push_back(std::string(".") + m_extensions[i].GetStr());
    spec.refusal = [refusal = std::move(refusal), endings, bare = m_bareNameTaken](const std::string& path) {
        QnRefusal why = refusal ? refusal(path) : QnRefusal{};
        if (!why.empty() || endings.empty())
            return why;
        std::string stem, extension;
        SplitName(path.substr(path.rfind('/') + 1), stem, extension);
        if (bare && extension.empty())
            return why;
        return qnOutputNameRefusal(path, endings);
    };
    if (!p->FileSaveDialog(spec, choice) || choice.name.empty())
        return false;
    m_chosen = true;
    i_RememberFolder(choice.folder);
    return true;
}

bool CQNF_PlatformFileDialog::i_Save(const std::string& path, SaveCallback callback, SerialSaveCallback serial,
                                     void* userData, unsigned long index)
{
    CQNF_SafeFile out;
    bool ok = out.Open(path);
    if (ok) {
        ok = (serial ? serial(&out.File(), userData, index) : callback(&out.File(), userData)) != 0;
        if (!ok)
            out.Abandon();
        else
            ok = out.Commit();
    }
    // The first failure is the one to tell; a writer that failed with no
    // word from the system leaves its own message to the caller.
    if (!ok && m_failure.empty() && (out.GetError() || qnLastWriteErrno() || !qnGateRefusal(path).empty()))
        m_failure = qnFileFailure(path, true, out.GetError());
    return ok;
}

bool CQNF_PlatformFileDialog::DoFileSaveDialog(SaveCallback callback, void* userData, CQNF_Window* parent,
                                               unsigned long, unsigned long)
{
    plat::SaveChoice choice;
    if (!callback || !i_AskSave(parent, choice, [](const std::string& path) { return qnWriteRefusal(path, QnWrite::Output, false); }))
        return false;
    const std::string path = choice.folder + "/" + choice.name;
    if (!i_Save(path, callback, nullptr, userData, 0))
        return false;
    m_result.path = path;
    m_resultValid = 1;
    return true;
}

bool CQNF_PlatformFileDialog::DoFileSaveDialog_Path(CQNF_Window* parent, std::string& path)
{
    plat::SaveChoice choice;
    auto refusal = m_refusal ? m_refusal : [](const std::string& p) { return qnWriteRefusal(p, QnWrite::Output, false); };
    if (!i_AskSave(parent, choice, refusal))
        return false;
    path = choice.folder + "/" + choice.name;
    return true;
}

bool CQNF_PlatformFileDialog::DoFileSaveDialog_Serial(CQNF_StringArray* suffixes, SerialSaveCallback callback,
                                                      void* userData, CQNF_Window* parent, unsigned long,
                                                      unsigned long)
{
    if (!callback || !suffixes || suffixes->GetSize() == 0)
        return false;
    std::vector<std::string> ends;
    for (uint32_t i = 0; i < suffixes->GetSize(); ++i)
        ends.emplace_back((*suffixes)[i].GetStr());
    // Every file the one name stands for, in the order they are written.
    auto parts = [ends](const std::string& path) {
        const size_t slash = path.rfind('/');
        std::string stem, extension;
        SplitName(path.substr(slash + 1), stem, extension);
        std::vector<std::string> all;
        for (const std::string& end : ends)
            all.push_back(path.substr(0, slash + 1) + stem + end + extension);
        return all;
    };
    plat::SaveChoice choice;
    auto refusal = [parts](const std::string& path) {
        for (const std::string& part : parts(path))
            if (QnRefusal why = qnWriteRefusal(part, QnWrite::Output, false); !why.empty())
                return why;
        return QnRefusal{};
    };
    if (!i_AskSave(parent, choice, refusal))
        return false;
    const std::vector<std::string> paths = parts(choice.folder + "/" + choice.name);
    bool all = true;
    for (uint32_t i = 0; i < paths.size(); ++i) {
        if (i_Save(paths[i], nullptr, callback, userData, i)) {
            m_result.path = paths[i];
            m_resultValid = 1;
        } else {
            // A part that failed is not left behind, and the export as a
            // whole is not reported as done.
            all = false;
        }
    }
    return all;
}
