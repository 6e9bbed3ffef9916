// CQNF_PlatformFileDialog: the native open and save dialogs with the
// system's own file filters, handing a new file to a writer callback.
//
// Saving never costs the user a file: the writer writes a temporary file in
// the chosen folder, which replaces the target only once the writer
// succeeded. A failed or refused write leaves the old file as it was and
// nothing new behind. The serial save writes one file per suffix the same
// way and succeeds only when every file was written.
//
// A name the write gate would refuse (a file the run reads, through any
// link; a read-only file; a device, FIFO or folder; a missing or read-only
// folder: qnWriteRefusal) is refused while the chooser is open, before any
// work, and the user picks another; for the serial save every suffixed
// name counts. So is a name that does not end in one of the filters'
// extensions, the format written (qnOutputNameRefusal). A write that fails after the chooser leaves Failure(), one
// line naming the file and the system's reason, for the caller's message.
//
// Filter rule of the open and save dialogs: folders are shown; a file is
// shown when its name ends in a dot and one of the extensions (case ignored;
// only extensions shorter than 6 characters, and only names longer than the
// extension and its dot, count). Without any filter every file is shown. The
// dialogs name the filter by the first filter's description. File type codes
// have no meaning on this platform and are kept only for the callers.
#pragma once

#include "core/Array.h"
#include "core/ErrorManager.h"
#include "core/FSRef.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <string>

class CQNF_Storage;
class CQNF_Window;

class CQNF_PlatformFileDialog : public CQNF_FrameWork {
public:
    using SaveCallback = unsigned char (*)(CQNF_StdFile*, void*);
    using SerialSaveCallback = unsigned char (*)(CQNF_StdFile*, void*, unsigned long);

    CQNF_PlatformFileDialog() = default;
    ~CQNF_PlatformFileDialog() override = default;

    void AddFilter(const char* description, CQNF_StringArray* extensions, unsigned long fileType);
    void RemoveAllFilters();
    void SetDefaultPath(const FSRef& folder) { m_defaultFolder = folder; }
    void SetWindowTitle(const char* title) { m_title = title; }
    void SetDefaultSaveName(const char* name) { m_saveName = name; }
    // The folder that holds the plug-in (SetAppRootFolder), or its subfolder
    // of that name when it exists.
    void SetDefaultPathToAppRoot(const char* subfolder);
    static void SetAppRootFolder(const FSRef& folder);
    static const FSRef& GetAppRootFolder();
    // The settings where the dialogs remember the last folder chosen under
    // their client name, so that the next dialog that names no folder of its
    // own opens there (the platform keeps none); null: nothing is
    // remembered.
    static void SetSettingsStorage(CQNF_Storage* storage);
    static constexpr const char* kClientName = "QNFW1CP";

    bool DoFileOpenDialog(CQNF_Window* parent, unsigned char packages);
    FSRef GetResultPath() const { return m_resultValid ? m_result : FSRef{}; }
    bool OpenFileByResult(CQNF_StdFile* file, unsigned long mode);
    bool DoFileSaveDialog(SaveCallback callback, void* userData, CQNF_Window* parent, unsigned long fileType,
                          unsigned long creator);
    // Only asks where to save: for callers that write all or nothing
    // themselves (a series of files that must appear together). The path
    // is the chosen folder and name; nothing is written.
    bool DoFileSaveDialog_Path(CQNF_Window* parent, std::string& path);
    // What DoFileSaveDialog_Path refuses instead of the gate's own check:
    // a caller that writes several files from the one name knows them.
    void SetRefusal(std::function<QnRefusal(const std::string& path)> refusal) { m_refusal = std::move(refusal); }
    // A save dialog with filters refuses a name that does not end in one
    // of their extensions; with this, a name without any ending is taken
    // as it is (the first part of the names of a series).
    void SetBareNameTaken(bool taken) { m_bareNameTaken = taken; }
    bool DoFileSaveDialog_Serial(CQNF_StringArray* suffixes, SerialSaveCallback callback, void* userData,
                                 CQNF_Window* parent, unsigned long fileType, unsigned long creator);

    // Why the last save failed after the chooser closed ("cannot write
    // PATH: no space left on device"), or empty.
    const std::string& Failure() const { return m_failure; }
    // Whether the last save dialog was given a name (not cancelled): a save
    // that then answers false failed.
    bool Chosen() const { return m_chosen; }
    // A window's message for a failed save: message, and on its own line
    // the reason when there is one.
    static std::string WithReason(const std::string& message, const std::string& reason)
    {
        return reason.empty() ? message : message + "\n" + reason;
    }

    // Whether the open dialog shows a file of this name.
    bool ShowsFile(const std::string& name) const;
    // Splits a file name at its last dot (not at its first character).
    static void SplitName(const std::string& name, std::string& stem, std::string& extension);

private:
    plat::FileDialogSpec i_Spec(CQNF_Window* parent) const;
    void i_RememberFolder(const std::string& folder) const;
    // Runs the save dialog; the result is cleared first.
    bool i_AskSave(CQNF_Window* parent, plat::SaveChoice& choice,
                   std::function<QnRefusal(const std::string& path)> refusal);
    bool i_Save(const std::string& path, SaveCallback callback, SerialSaveCallback serial, void* userData,
                unsigned long index);

    CQNF_StringArray m_extensions;
    CQNF_DWordArray m_fileTypes;
    CQNF_String m_filterName;
    FSRef m_defaultFolder;
    FSRef m_result;
    uint8_t m_resultValid = 0;
    CQNF_String m_saveName;
    CQNF_String m_title;
    std::function<QnRefusal(const std::string& path)> m_refusal;
    bool m_bareNameTaken = false;
    std::string m_failure;
    bool m_chosen = false;
};
