// Outcomes of reading and writing knife shapes, shape sets and the presets
// store, and the texts the user sees for them.
//
// The readers and writers of this folder never show anything: they return
// one of these, and the window that ran the command shows the text in a
// message box titled kShapeIoTitle (none for None and Refused).
#pragma once

#include <cstddef>
#include <cstdint>

enum class ShapeIoError : uint8_t {
    None = 0,
    EmptyFile,      // a shape file of length 0
    NoMemory,       // no buffer for the file or the records
    ReadFailed,     // the file could not be read whole, or a set misses a record
    BadFormat,      // not a shape / set, a broken stamp, a bad count or value
    WriteFailed,    // a shape or set file could not be written
    UpdateFailed,   // "ckss.data" could not be written
    Refused,        // a set of another version: refused without a message
};

inline constexpr const char* kShapeIoTitle = "Error!";

// The message of an outcome; null for None and Refused.
const char* ShapeIoMessage(ShapeIoError error);

// What the file dialogs of the shape commands show. The open dialog's filter
// carries the type code; the save dialog's filter has none, and the new file
// gets the type code with creator 0. Folders are inside the plug-in's folder.
struct SHAPEFILEDIALOG {
    const char* filterTitle;
    const char* extension;
    uint32_t typeCode;
    const char* folder;
    const char* saveName;
    const char* saveTitle;
    const char* openTitle;        // of a shape file; of a set when appending
    const char* openReplaceTitle; // of a set when replacing
};
inline constexpr uint32_t qnFourCC(const char (&c)[5])
{
    return uint32_t(uint8_t(c[0])) << 24 | uint32_t(uint8_t(c[1])) << 16 | uint32_t(uint8_t(c[2])) << 8 | uint8_t(c[3]);
}
inline constexpr SHAPEFILEDIALOG kShapeFileDialog = {"Quorvin Tessolo Knife Shape (.qnth)",
                                                     "qnth",
                                                     qnFourCC("QNth"),
                                                     "shapes",
                                                     "Untitled.qnth",
                                                     "Save Knife Shape As...",
                                                     "Load Knife Shape...",
                                                     nullptr};
inline constexpr SHAPEFILEDIALOG kShapeSetDialog = {"Quorvin Tessolo Shapes Set (.qntk)",
                                                    "qntk",
                                                    qnFourCC("QNtk"),
                                                    "shapes sets",
                                                    "Untitled.qntk",
                                                    "Save Set As...",
                                                    "Append Set...",
                                                    "Replace Set..."};
// The name the presets manager proposes for an imported shape file.
inline constexpr const char* kImportedShapeName = "New Shape";

// Largest files read whole: a knife shape holds at most a few kilobytes, a
// shape set at most some thousands of shapes.
inline constexpr size_t kMaxShapeFileSize = size_t(1) << 20;
inline constexpr size_t kMaxShapeSetFileSize = size_t(64) << 20;

class CQNF_Mem;
class CQNF_StdFile;

// Reads an open file whole from its start into block, refusing files longer
// than limit (BadFormat) and files of length 0 (EmptyFile).
ShapeIoError qnReadWholeFile(CQNF_StdFile* file, size_t limit, CQNF_Mem& block);

class CQNF_Storage;

// Builds a new storage container in memory: fill writes its records into an
// empty container, which is then stamped and its bytes put into image.
// fill's own outcome is returned when it is not None; a container that
// cannot be made or stamped gives WriteFailed.
template <class Fill>
ShapeIoError qnBuildStorageImage(Fill fill, CQNF_Mem& image);

// The non-template part of the above.
struct CQNF_StorageImageBuilder {
    CQNF_StorageImageBuilder();
    ~CQNF_StorageImageBuilder();
    CQNF_StorageImageBuilder(const CQNF_StorageImageBuilder&) = delete;
    CQNF_StorageImageBuilder& operator=(const CQNF_StorageImageBuilder&) = delete;
    // The empty container, or null when none could be made.
    CQNF_Storage* Begin();
    // Stamps and takes the bytes.
    bool Finish(CQNF_Mem& image);

private:
    int m_fd = -1;
    CQNF_StdFile* m_file = nullptr;
    CQNF_Storage* m_storage = nullptr;
};

template <class Fill>
ShapeIoError qnBuildStorageImage(Fill fill, CQNF_Mem& image)
{
    CQNF_StorageImageBuilder builder;
    CQNF_Storage* st = builder.Begin();
    if (!st)
        return ShapeIoError::WriteFailed;
    const ShapeIoError e = fill(*st);
    if (e != ShapeIoError::None)
        return e;
    return builder.Finish(image) ? ShapeIoError::None : ShapeIoError::WriteFailed;
}

// Writes a whole image into a file opened for writing, from its start.
ShapeIoError qnWriteWholeFile(CQNF_StdFile* file, const CQNF_Mem& image);
