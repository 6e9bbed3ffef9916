// CWnd_PresetsManagerModel: the knife shape presets without any window.
//
// The presets are named knife shapes kept in "ckss.data" in the plug-in's
// folder: 836-byte records back to back, in the host's byte order. The
// presets manager window derives from this class: it shows the records as
// its list and icons and turns its controls into the operations below; the
// model holds the records, the list's selection, the first icon shown and
// the icon mode, so that every rule can be checked without a window.
//
// Shape set files ".qntk" (storage containers, little-endian records on every
// host) carry several shapes between installations; the same reader turns
// the default set "DefSet" of the resource storage into the first presets.
//
// Soundness of the store:
// - a store that exists but cannot be read is never mistaken for a missing
//   one: nothing is seeded over it and nothing is written back;
// - a store is judged whole before any record is taken (StoreDamage): a
//   length that is not a whole number of records, a record no preset is
//   (RecordFault: a blank name, more than 64 nodes, a value that is
//   not a number), or data where a record has none
//   make it damaged, and none of its records is used. A
//   damaged store is never written over: before a new one is begun it is
//   kept aside for a person (core/KeptAside.h) and Notice() says where, or,
//   when it cannot be, it is left alone and nothing is written;
// - every write replaces "ckss.data" whole and only once the new content is
//   complete (CQNF_PresetsFile); a failed write keeps the old file and the
//   presets in memory as they were before the command;
// - records added are made safe to use: at most 64 nodes, a terminated
//   name, finite values;
// - closing writes the presets back only when they were read and changed.
#pragma once

#include "core/FileLock.h"
#include "core/KeptAside.h"
#include "core/Types.h"
#include "cutter/CutterModel.h"
#include "cutter/ShapeIo.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CQNF_Image;
class CQNF_Mem;
class CQNF_StdFile;
class CQNF_Storage;

// The file "ckss.data", read and written whole.
class CQNF_PresetsFile {
public:
    // Damaged: read, and not a store (ShapeMng_Load's verdict; Read itself
    // never gives it).
    enum class ReadResult : uint8_t { Ok, Absent, Failed, Damaged };
    virtual ~CQNF_PresetsFile() = default;
    // Absent only when the file does not exist; an empty file is Ok.
    virtual ReadResult Read(std::vector<uint8_t>& bytes) = 0;
    // Replaces the whole file; false leaves the old one as it was.
    virtual bool Write(const void* data, size_t size) = 0;
    // Brackets a read-modify-write of the file (adding a shape), so that
    // two plug-in instances adding at once cannot lose one of the shapes.
    virtual bool BeginUpdate() { return true; }
    virtual void EndUpdate() {}
    // Moves a damaged store aside for a person before a new one is begun;
    // an empty path when it stays where it is (then nothing may replace it).
    virtual qntKEPTASIDE KeepAside() { return {}; }
    // The store's name in a message.
    virtual std::string Name() const { return "ckss.data"; }
    // Why the store may be neither read nor written in this run, in one
    // line that names the file it leads to, or empty: a store that leads to
    // a file the run reads is no store, whatever its bytes.
    virtual std::string Refusal() const { return {}; }
};

// "ckss.data" (or any other name) at a path.
class CQNF_PresetsFileAtPath : public CQNF_PresetsFile {
public:
    explicit CQNF_PresetsFileAtPath(std::string path) : m_path(std::move(path)) {}
    ReadResult Read(std::vector<uint8_t>& bytes) override;
    bool Write(const void* data, size_t size) override;
    // An advisory lock on the file (made empty when missing, so that there
    // is one to lock) from BeginUpdate to EndUpdate.
    bool BeginUpdate() override;
    void EndUpdate() override;
    qntKEPTASIDE KeepAside() override { return qnKeepDamagedAside(m_path); }
    std::string Name() const override { return m_path; }
    std::string Refusal() const override;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    CQNF_FileLock m_lock;
};

class CWnd_PresetsManagerModel {
public:
    static constexpr uint32_t kMaxNodes = 64;
    static constexpr uint32_t kNameSize = 64;  // 63 characters and the terminator

    // One preset, as "ckss.data" and the list hold it.
    struct SHAPESETREC {
        char name[kNameSize];
        uint8_t count;
        uint8_t reserved[3];
        float U[kMaxNodes];
        float H[kMaxNodes];
        float S[kMaxNodes];
    };
    static_assert(sizeof(SHAPESETREC) == 836, "the record of ckss.data");

    static constexpr const char* kStoreName = "ckss.data";
    static constexpr const char* kDefSetKey = "DefSet";
    static constexpr const char* kSetVersion = "Quorvin Tessolo Shape Set 2.0";
    // Size of a set's shape record: name, count, then U, H, S per node.
    static constexpr uint32_t kSetRecordHead = 68;
    static constexpr uint32_t kSetNodeSize = 12;

    // ---- Records ---------------------------------------------------------------
    // A preset of a name (cut to 63 characters) and an editor shape; slots
    // past the count are 0.
    static SHAPESETREC MakeRecord(const char* name, const CWnd_CutterModel::SPLINE_STRUCT& shape);
    // The editor's form of a preset: at most 64 nodes, values as doubles,
    // every node selected.
    static CWnd_CutterModel::SPLINE_STRUCT ToSpline(const SHAPESETREC& rec);
    // Makes a record read from a file safe: count at most 64, name
    // terminated at byte 63, non-finite node values 0. True when nothing
    // had to change.
    static bool SanitizeRecord(SHAPESETREC& rec);
    static void SetName(SHAPESETREC& rec, const char* name);

    // What a record holds that no preset does, in words ("has no name",
    // "node 2 holds a value that is not a number"); empty for a sound one: a
    // name that is not blank, at most 64 nodes, every value a number, as a
    // shape file's reader takes them. The store's reader, the set reader and
    // the adding of a preset judge alike, so no store this system writes is
    // refused.
    static std::string RecordFault(const SHAPESETREC& rec);

    // ---- The store file -----------------------------------------------------------
    // Why bytes are no presets store, in words ("preset 2 has 200 nodes,
    // more than 64"); empty for a sound store (no bytes: no presets).
    static std::string StoreDamage(const uint8_t* data, size_t size);
    // Reads the records (size / 836 of them), the store judged whole first:
    // Damaged, with the reason in damage when given, and no record, when
    // StoreDamage finds any. The file's Refusal is the caller's to heed: a
    // store is read for a person (a tool's listing) wherever it leads.
    static CQNF_PresetsFile::ReadResult ShapeMng_Load(CQNF_PresetsFile& file, std::vector<SHAPESETREC>& records,
                                                      std::string* damage = nullptr);
    static bool ShapeMng_Save(CQNF_PresetsFile& file, const std::vector<SHAPESETREC>& records);
    // Appends one preset to the file (a missing file is created with it).
    // ReadFailed when the file exists but cannot be read: it is then left
    // alone. A store with a Refusal is neither read nor written (ReadFailed,
    // notice says why). A damaged store is kept aside and a new one begun with the
    // preset, or left alone (ReadFailed) when it cannot be kept aside;
    // notice (when given) receives the line that tells the user so.
    // UpdateFailed when it cannot be written.
    static ShapeIoError ShapeMng_AddShape(CQNF_PresetsFile& file, const char* name,
                                          const CWnd_CutterModel::SPLINE_STRUCT& shape,
                                          std::string* notice = nullptr);
    // What a person is told of a damaged store: kept aside (kept.path set)
    // or left alone.
    static std::string DamagedStoreNotice(const CQNF_PresetsFile& file, const std::string& damage,
                                          const qntKEPTASIDE& kept);
    // What a person is told of a store that has a Refusal, in the words the
    // plug-in's other files are refused in; empty when it has none.
    static std::string RefusedStoreNotice(const CQNF_PresetsFile& file);

    // ---- Shape sets --------------------------------------------------------------
    // Reads a whole set image. Refused (without a message) for another
    // version or no "TotalShapes"; BadFormat for a broken container or a
    // record with more than 64 nodes, too short for its count or holding a
    // value that is not finite; ReadFailed when a "Shape_%d" is missing.
    // records is only changed on success.
    static ShapeIoError ReadShapeSet(const uint8_t* data, size_t size, std::vector<SHAPESETREC>& records);
    // A set of the given presets, in their order. status (when given) hears
    // "Writing shape %d of %d" before each record and "Writing complete".
    static ShapeIoError ShapeSetImage(const std::vector<const SHAPESETREC*>& records, CQNF_Mem& image,
                                      const std::function<void(const char*)>& status = {});
    // One shape record of a set, and back (the latter checks as ReadShapeSet).
    static std::vector<uint8_t> EncodeSetRecord(const SHAPESETREC& rec);
    static ShapeIoError DecodeSetRecord(const uint8_t* data, size_t size, SHAPESETREC& rec);

    // ---- The presets list ----------------------------------------------------------
    explicit CWnd_PresetsManagerModel(CQNF_PresetsFile* file);
    virtual ~CWnd_PresetsManagerModel() = default;

    // First run: when "ckss.data" is missing, the default set (a set image,
    // null when the resource storage has none) replaces the presets and is
    // written. A store that exists but cannot be read is left alone
    // (ReadFailed). A damaged one is kept aside and the first run follows,
    // or, when it cannot be kept aside, left alone (ReadFailed); Notice()
    // tells. A store with a Refusal is neither read nor written: no presets
    // in this run (ReadFailed), and Notice() says why. The DefSet of a resource storage: DefSetFromStorage.
    ShapeIoError initialLastUsedSetCheck(const uint8_t* defSet, size_t defSetSize);
    static bool DefSetFromStorage(CQNF_Storage& resources, CQNF_Mem& image);
    // Reloads the presets from the file; no item selected. ReadFailed (and
    // no presets) when the file exists but cannot be read.
    ShapeIoError FillIn();

    uint32_t GetCount() const { return uint32_t(m_Records.size()); }
    const std::vector<SHAPESETREC>& Records() const { return m_Records; }
    bool IsSelected(uint32_t i) const { return i < m_Selected.size() && m_Selected[i]; }
    void SetSelected(uint32_t i, bool on);
    uint32_t GetSelectedCount() const;
    // The first selected record, or -1.
    int32_t FirstSelected() const;
    void opSelectAll();
    void opInvertSelection();
    bool IsChanged() const { return m_bChanged != 0; }
    // The line a person must read about the store (a damaged one kept
    // aside or left alone, one refused) since the last initialLastUsedSetCheck; empty
    // when there is none.
    const std::string& Notice() const { return m_Notice; }
    bool IsLoaded() const { return m_bLoaded != 0; }

    // Buttons that depend on the selection.
    struct BUTTONSTATES {
        uint8_t saveSet, delShape, renShape, toCutter, toCutterClose;
    };
    BUTTONSTATES DoBtnStateChangeByCalcingSelection() const;

    // Icons: 8 small ones or 2 big ones a page.
    uint8_t m_nIconMode = 1;  // 1 small icons, 0 big icons
    uint32_t m_nFirst = 0;    // the first record shown
    uint32_t PageSize() const { return m_nIconMode ? 8 : 2; }
    void SetIconMode(uint8_t small);
    // The icon scroll bar: total max(page, count), page size.
    void DoUpdateScrollSize(uint32_t& total, uint32_t& page) const;
    // Brings the first selected record into the page, keeps the first
    // record within the list.
    void DoRecalcFirstByList();
    // The icon scroll bar moved.
    void OnScroll(uint32_t value);
    // The record shown in an icon slot of the page, or -1.
    int32_t SlotRecord(uint32_t slot) const;
    // A click on an icon slot: selects its record alone, or with Command
    // toggles it. False when the slot shows no record.
    bool OnIconClick(uint32_t slot, bool command);

    // What a double click, Return or the list's double click does.
    enum class ItemAction : uint8_t { None, ToCutter, ToCutterAndClose };
    ItemAction GetItemAction(bool option) const;
    // Keys of the presets window: Esc closes, forward delete deletes the
    // selected presets (when any), Return runs the item action, "R" or "r"
    // renames (when exactly one is selected). Close is also what the item
    // action ToCutterAndClose asks after sending.
    enum class KeyAction : uint8_t { NotHandled, Consumed, Close, Delete, ToCutter, ToCutterAndClose, Rename };
    KeyAction OnKeyDown(uint8_t key, bool option) const;
    KeyAction OnKeyChar(char c) const;
    // The first selected preset in the editor's form; false when none.
    bool opToCutter(CWnd_CutterModel::SPLINE_STRUCT& shape) const;
    // Renames a record (-1: the first selected); the dialog is the window's.
    bool opRenameShape(int64_t index, const char* name);
    void opDeleteShape();
    void opSort();
    // A shape read from a ".qnth" file, named in the dialog: the presets go
    // to the file first (so earlier edits are kept), then the shape is
    // appended and the list reloaded.
    ShapeIoError opLoadShape(const char* name, const CWnd_CutterModel::SPLINE_STRUCT& shape);

    // The selected presets as a set, in list order; WriteFailed when none is
    // selected.
    ShapeIoError opSaveSet(CQNF_Mem& image, const std::function<void(const char*)>& status = {}) const;
    ShapeIoError SaveSetFile(const std::string& path, const std::function<void(const char*)>& status = {}) const;
    ShapeIoError stSaveSetToFile(CQNF_StdFile* file, const std::function<void(const char*)>& status = {}) const;
    // Puts a set's shapes in place of the presets (replace) or after them.
    // The file is written first; only then do the presets change.
    ShapeIoError sub_opLoadSetFromMemBlock(const uint8_t* data, size_t size, bool replace);
    ShapeIoError opLoadSet(CQNF_StdFile* file, bool replace);
    ShapeIoError LoadSetFile(const std::string& path, bool replace);

    // Writes the presets when they were read and have changed since.
    ShapeIoError Close();

    // ---- Icons ------------------------------------------------------------------------
    // The vertical segment a preset is drawn along inside an icon rectangle
    // (left, top, right, bottom in layer pixels): centred, as long as the
    // half width over the largest |H| (at least 0.51), so that every shape
    // fits across and small ones share one scale.
    static void IconBaseSegment(const qntRECT_s& rect, const SHAPESETREC& rec, qntFPOS& start, qntFPOS& end);
    // Draws a preset into the alpha plane of an RGBA layer (the colour is
    // the layer's): the spline through its nodes, or a straight line for a
    // shape without nodes. False when nothing could be drawn.
    static bool DrawSpline(CQNF_Image& layer, const qntRECT_s& rect, const SHAPESETREC& rec);

protected:
    void i_SetRecords(std::vector<SHAPESETREC> records);

    CQNF_PresetsFile* m_pFile;
    std::vector<SHAPESETREC> m_Records;
    std::vector<uint8_t> m_Selected;
    uint8_t m_bLoaded = 0;   // the records are those of a successful read
    uint8_t m_bChanged = 0;  // renamed, deleted or sorted since
    std::string m_Notice;
};
