// The presets store "ckss.data" and the presets list.
#include "cutter/PresetsModel.h"

#include "core/Array.h"
#include "core/ErrorWords.h"
#include "core/Mem.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/String.h"
#include "cutter/DialogModels.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using PM = CWnd_PresetsManagerModel;
using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;

namespace {

// A store beyond this is not one the presets manager made (80 000 presets).
constexpr uint64_t kMaxStoreSize = uint64_t(64) << 20;

}  // namespace

// ---- The file ------------------------------------------------------------------

CQNF_PresetsFile::ReadResult CQNF_PresetsFileAtPath::Read(std::vector<uint8_t>& bytes)
{
    struct stat info;
    if (::stat(m_path.c_str(), &info) != 0)
        return errno == ENOENT ? ReadResult::Absent : ReadResult::Failed;
    CQNF_StdFile file;
    if (!file.Open(CQNF_String(m_path.c_str()), 1))
        return ReadResult::Failed;
    const int64_t length = file.GetLength();
    if (length < 0 || uint64_t(length) > kMaxStoreSize)
        return ReadResult::Failed;
    std::vector<uint8_t> read(static_cast<size_t>(length));
    if (length > 0 && file.Read(read.data(), uint32_t(length)) != length)
        return ReadResult::Failed;
    bytes.swap(read);
    return ReadResult::Ok;
}

bool CQNF_PresetsFileAtPath::BeginUpdate()
{
    if (m_lock.Lock(m_path))
        return true;
    // A store to be made where a link leads to a file the run reads (one
    // still to be written) is not made there.
    if (errno != ENOENT || !qnOwnFileRefusal(m_path).empty())
        return false;
    // An empty store reads as one without presets; it is made through the
    // gate, as every file written is.
    return qnReplaceFile(m_path, "", 0, QnWrite::OwnFile) == 0 && m_lock.Lock(m_path);
}

void CQNF_PresetsFileAtPath::EndUpdate() { m_lock.Unlock(); }

std::string CQNF_PresetsFileAtPath::Refusal() const { return qnOwnFileRefusal(m_path).Line(); }

bool CQNF_PresetsFileAtPath::Write(const void* data, size_t size)
{
    // A store the user made read-only keeps its presets, and a link to a
    // file the run reads leaves that file alone: adding one fails as any
    // other write failure does.
    return qnMayWrite(m_path) && qnOwnFileRefusal(m_path).empty() && qnReplaceFile(m_path, data, size, QnWrite::OwnFile) == 0;
}

// ---- Records ---------------------------------------------------------------------

void PM::SetName(SHAPESETREC& rec, const char* name)
{
    std::memset(rec.name, 0, sizeof rec.name);
    if (name)
        std::strncpy(rec.name, name, kNameSize - 1);
}

PM::SHAPESETREC PM::MakeRecord(const char* name, const SPLINE& shape)
{
    SHAPESETREC rec;
    std::memset(&rec, 0, sizeof rec);
    SetName(rec, name);
    rec.count = uint8_t(std::min<uint32_t>(shape.nodeCount, kMaxNodes));
    for (uint32_t i = 0; i < rec.count; ++i) {
        rec.U[i] = float(shape.pos[i].U);
        rec.H[i] = float(shape.pos[i].H);
        rec.S[i] = float(shape.S[i]);
    }
    return rec;
}

SPLINE PM::ToSpline(const SHAPESETREC& rec)
{
    SPLINE shape{};
    shape.nodeCount = uint8_t(std::min<uint32_t>(rec.count, kMaxNodes));
    for (uint32_t i = 0; i < shape.nodeCount; ++i) {
        shape.pos[i].U = rec.U[i];
        shape.pos[i].H = rec.H[i];
        shape.S[i] = rec.S[i];
        shape.selected[i] = 1;
    }
    return shape;
}

bool PM::SanitizeRecord(SHAPESETREC& rec)
{
    bool sound = true;
    if (rec.count > kMaxNodes) {
        rec.count = kMaxNodes;
        sound = false;
    }
    if (rec.name[kNameSize - 1] != 0) {
        rec.name[kNameSize - 1] = 0;
        sound = false;
    }
    for (uint32_t i = 0; i < rec.count; ++i) {
        for (float* v : {&rec.U[i], &rec.H[i], &rec.S[i]}) {
            if (!std::isfinite(*v)) {
                *v = 0.0f;
                sound = false;
            }
        }
    }
    return sound;
}

std::string PM::RecordFault(const SHAPESETREC& rec)
{
    if (std::memchr(rec.name, 0, kNameSize) == nullptr)
        return "has a name without an end";
    // The Shape Name dialog never takes a blank name.
    bool blank = true;
    for (size_t i = 0; i < kNameSize && rec.name[i] && blank; ++i)
        blank = std::isspace(static_cast<unsigned char>(rec.name[i])) != 0;
    if (blank)
        return "has no name";
    // No node is a straight knife: the editor makes one when every node
    // is deleted, and the shape file and set readers take it.
    if (rec.count > kMaxNodes)
        return "has " + std::to_string(rec.count) + " nodes, more than " + std::to_string(kMaxNodes);
    for (uint32_t n = 0; n < rec.count; ++n) {
        if (!std::isfinite(rec.U[n]) || !std::isfinite(rec.H[n]) || !std::isfinite(rec.S[n]))
            return "node " + std::to_string(n) + " holds a value that is not a number";
    }
    return {};
}

// ---- The store ---------------------------------------------------------------------

std::string PM::StoreDamage(const uint8_t* data, size_t size)
{
    constexpr size_t kRecord = sizeof(SHAPESETREC);
    if (size % kRecord != 0)
        return "it is " + std::to_string(size) + " bytes long, not a whole number of " + std::to_string(kRecord) +
               "-byte presets";
    // Every record this system makes has its reserved bytes and the node
    // slots past its count at 0 (the store is never exchanged): data there
    // is no record of this store.
    for (size_t i = 0; i < size / kRecord; ++i) {
        SHAPESETREC rec;
        std::memcpy(&rec, data + i * kRecord, kRecord);
        const std::string which = "preset " + std::to_string(i);
        if (const std::string fault = RecordFault(rec); !fault.empty())
            return which + (fault.rfind("node ", 0) == 0 ? ": " : " ") + fault;
        if (rec.name[kNameSize - 1] != 0)
            return which + " holds data past the end of its name";
        bool unused = rec.reserved[0] == 0 && rec.reserved[1] == 0 && rec.reserved[2] == 0;
        for (uint32_t n = rec.count; n < kMaxNodes && unused; ++n)
            unused = rec.U[n] == 0.0f && rec.H[n] == 0.0f && rec.S[n] == 0.0f;
        if (!unused)
            return which + " holds data past its " + std::to_string(rec.count) + " nodes";
    }
    return {};
}

CQNF_PresetsFile::ReadResult PM::ShapeMng_Load(CQNF_PresetsFile& file, std::vector<SHAPESETREC>& records,
                                               std::string* damage)
{
    std::vector<uint8_t> bytes;
    const CQNF_PresetsFile::ReadResult r = file.Read(bytes);
    if (r != CQNF_PresetsFile::ReadResult::Ok)
        return r;
    // Judged whole before any record is taken: a store cut short, or bytes
    // that are no store, give no presets at all, never some of them.
    const std::string why = StoreDamage(bytes.data(), bytes.size());
    if (!why.empty()) {
        if (damage)
            *damage = why;
        records.clear();
        return CQNF_PresetsFile::ReadResult::Damaged;
    }
    std::vector<SHAPESETREC> read(bytes.size() / sizeof(SHAPESETREC));
    if (!read.empty())
        std::memcpy(read.data(), bytes.data(), read.size() * sizeof(SHAPESETREC));
    records.swap(read);
    return r;
}

std::string PM::DamagedStoreNotice(const CQNF_PresetsFile& file, const std::string& damage, const qntKEPTASIDE& kept)
{
    if (kept.path.empty())
        return "The presets file " + file.Name() + " is damaged (" + damage +
               ") and could not be kept aside; it is left as it is and no preset is saved.";
    return "The presets file " + file.Name() + " was damaged (" + damage + "); it was " + qnKeptAsideWords(kept) +
           " and a new one begun.";
}

std::string PM::RefusedStoreNotice(const CQNF_PresetsFile& file)
{
    const std::string refusal = file.Refusal();
    return refusal.empty() ? refusal : refusal + "; presets are not kept in this run";
}

bool PM::ShapeMng_Save(CQNF_PresetsFile& file, const std::vector<SHAPESETREC>& records)
{
    return file.Write(records.data(), records.size() * sizeof(SHAPESETREC));
}

ShapeIoError PM::ShapeMng_AddShape(CQNF_PresetsFile& file, const char* name, const SPLINE& shape,
                                   std::string* notice)
{
    // Told before the store is locked: locking opens the file it leads to.
    if (std::string refused = RefusedStoreNotice(file); !refused.empty()) {
        if (notice)
            *notice = std::move(refused);
        return ShapeIoError::ReadFailed;
    }
    if (!file.BeginUpdate())
        return ShapeIoError::UpdateFailed;
    std::vector<SHAPESETREC> records;
    ShapeIoError result = ShapeIoError::None;
    std::string damage;
    CQNF_PresetsFile::ReadResult read = ShapeMng_Load(file, records, &damage);
    if (read == CQNF_PresetsFile::ReadResult::Damaged) {
        // The damaged store goes aside for a person before a new one is
        // begun with this preset; where it cannot, nothing replaces it.
        const qntKEPTASIDE kept = file.KeepAside();
        if (notice)
            *notice = DamagedStoreNotice(file, damage, kept);
        read = kept.path.empty() ? CQNF_PresetsFile::ReadResult::Failed : CQNF_PresetsFile::ReadResult::Absent;
    }
    if (read == CQNF_PresetsFile::ReadResult::Failed) {
        // Writing now would replace presets that could not be read.
        result = ShapeIoError::ReadFailed;
    } else {
        records.push_back(MakeRecord(name, shape));
        SanitizeRecord(records.back());
        // Never a record the store's reader would refuse.
        if (!RecordFault(records.back()).empty())
            result = ShapeIoError::BadFormat;
        else if (!ShapeMng_Save(file, records))
            result = ShapeIoError::UpdateFailed;
    }
    file.EndUpdate();
    return result;
}

// ---- The list ------------------------------------------------------------------------

PM::CWnd_PresetsManagerModel(CQNF_PresetsFile* file) : m_pFile(file) {}

void PM::i_SetRecords(std::vector<SHAPESETREC> records)
{
    m_Records = std::move(records);
    m_Selected.assign(m_Records.size(), 0);
    DoRecalcFirstByList();
}

ShapeIoError PM::FillIn()
{
    std::vector<SHAPESETREC> records;
    // A store that leads to a file the run reads is not read: its bytes are
    // that file's, and no verdict on them would be the store's.
    const CQNF_PresetsFile::ReadResult r = m_pFile && m_pFile->Refusal().empty()
                                               ? ShapeMng_Load(*m_pFile, records)
                                               : CQNF_PresetsFile::ReadResult::Failed;
    // A store damaged since it was judged is not written over either.
    m_bLoaded = r == CQNF_PresetsFile::ReadResult::Ok || r == CQNF_PresetsFile::ReadResult::Absent;
    m_bChanged = 0;
    i_SetRecords(std::move(records));
    return m_bLoaded ? ShapeIoError::None : ShapeIoError::ReadFailed;
}

ShapeIoError PM::initialLastUsedSetCheck(const uint8_t* defSet, size_t defSetSize)
{
    m_Notice.clear();
    if (!m_pFile)
        return ShapeIoError::ReadFailed;
    // Neither read nor written, and said so before anything else is.
    if (m_Notice = RefusedStoreNotice(*m_pFile); !m_Notice.empty()) {
        FillIn();
        return ShapeIoError::ReadFailed;
    }
    std::vector<SHAPESETREC> records;
    std::string damage;
    switch (ShapeMng_Load(*m_pFile, records, &damage)) {
    case CQNF_PresetsFile::ReadResult::Ok:
        return FillIn();
    case CQNF_PresetsFile::ReadResult::Failed:
        // An existing store that cannot be read is never replaced.
        FillIn();
        return ShapeIoError::ReadFailed;

    case CQNF_PresetsFile::ReadResult::Damaged: {
        // Kept aside for a person, the store is begun again as on a first
        // run; where it cannot be, it is never replaced.
        const qntKEPTASIDE kept = m_pFile->KeepAside();
        m_Notice = DamagedStoreNotice(*m_pFile, damage, kept);
        if (kept.path.empty()) {
            FillIn();
            return ShapeIoError::ReadFailed;
        }
        break;
    }
    case CQNF_PresetsFile::ReadResult::Absent:
        break;
    }
    m_bLoaded = 1;
    m_bChanged = 0;
    i_SetRecords({});
    if (!defSet || defSetSize == 0)
        return ShapeIoError::None;
    return sub_opLoadSetFromMemBlock(defSet, defSetSize, true);
}

bool PM::DefSetFromStorage(CQNF_Storage& resources, CQNF_Mem& image)
{
    return resources.IsOpened() && resources.GetRec(CQNF_String(kDefSetKey), image) && image.GetSize() > 0;
}

void PM::SetSelected(uint32_t i, bool on)
{
    if (i < m_Selected.size())
        m_Selected[i] = on ? 1 : 0;
}

uint32_t PM::GetSelectedCount() const
{
    return uint32_t(std::count(m_Selected.begin(), m_Selected.end(), uint8_t(1)));
}

int32_t PM::FirstSelected() const
{
    const auto it = std::find(m_Selected.begin(), m_Selected.end(), uint8_t(1));
    return it == m_Selected.end() ? -1 : int32_t(it - m_Selected.begin());
}

void PM::opSelectAll() { std::fill(m_Selected.begin(), m_Selected.end(), uint8_t(1)); }

void PM::opInvertSelection()
{
    for (uint8_t& s : m_Selected)
        s = !s;
}

PM::BUTTONSTATES PM::DoBtnStateChangeByCalcingSelection() const
{
    const uint32_t n = GetSelectedCount();
    const uint8_t any = n >= 1, one = n == 1;
    return {any, any, one, one, one};
}

void PM::SetIconMode(uint8_t small)
{
    m_nIconMode = small ? 1 : 0;
    DoRecalcFirstByList();
}

void PM::DoUpdateScrollSize(uint32_t& total, uint32_t& page) const
{
    page = PageSize();
    total = std::max(page, GetCount());
}

void PM::DoRecalcFirstByList()
{
    const int32_t s = FirstSelected();
    if (s >= 0 && (uint32_t(s) < m_nFirst || uint32_t(s) > m_nFirst + PageSize() - 1))
        m_nFirst = uint32_t(s);
    // An empty list shows from record 0.
    m_nFirst = GetCount() ? std::min(m_nFirst, GetCount() - 1) : 0;
}

void PM::OnScroll(uint32_t value) { m_nFirst = GetCount() ? std::min(GetCount() - 1, value) : 0; }

int32_t PM::SlotRecord(uint32_t slot) const
{
    if (slot >= PageSize() || uint64_t(m_nFirst) + slot >= GetCount())
        return -1;
    return int32_t(m_nFirst + slot);
}

bool PM::OnIconClick(uint32_t slot, bool command)
{
    const int32_t rec = SlotRecord(slot);
    if (rec < 0)
        return false;
    if (command) {
        m_Selected[size_t(rec)] = !m_Selected[size_t(rec)];
    } else {
        std::fill(m_Selected.begin(), m_Selected.end(), uint8_t(0));
        m_Selected[size_t(rec)] = 1;
    }
    return true;
}

PM::ItemAction PM::GetItemAction(bool option) const
{
    const BUTTONSTATES b = DoBtnStateChangeByCalcingSelection();
    if (!option)
        return b.toCutter ? ItemAction::ToCutter : ItemAction::None;
    return b.toCutterClose ? ItemAction::ToCutterAndClose : ItemAction::None;
}

PM::KeyAction PM::OnKeyDown(uint8_t key, bool option) const
{
    switch (key) {
    case kKeyEsc:
        return KeyAction::Close;
    case kKeyForwardDelete:
        return DoBtnStateChangeByCalcingSelection().delShape ? KeyAction::Delete : KeyAction::Consumed;
    case kKeyReturn:
        switch (GetItemAction(option)) {
        case ItemAction::ToCutter:
            return KeyAction::ToCutter;
        case ItemAction::ToCutterAndClose:
            return KeyAction::ToCutterAndClose;
        case ItemAction::None:
            break;
        }
        return KeyAction::Consumed;
    default:
        return KeyAction::NotHandled;
    }
}

PM::KeyAction PM::OnKeyChar(char c) const
{
    if ((c == 'R' || c == 'r') && DoBtnStateChangeByCalcingSelection().renShape)
        return KeyAction::Rename;
    return KeyAction::NotHandled;
}

bool PM::opToCutter(SPLINE& shape) const
{
    const int32_t s = FirstSelected();
    if (s < 0)
        return false;
    shape = ToSpline(m_Records[size_t(s)]);
    return true;
}

bool PM::opRenameShape(int64_t index, const char* name)
{
    const int64_t i = index < 0 ? FirstSelected() : index;
    if (i < 0 || uint64_t(i) >= GetCount())
        return false;
    SetName(m_Records[size_t(i)], name);
    m_bChanged = 1;
    return true;
}

void PM::opDeleteShape()
{
    std::vector<SHAPESETREC> kept;
    kept.reserve(m_Records.size());
    for (size_t i = 0; i < m_Records.size(); ++i)
        if (!m_Selected[i])
            kept.push_back(m_Records[i]);
    if (kept.size() != m_Records.size())
        m_bChanged = 1;
    i_SetRecords(std::move(kept));
}

void PM::opSort()
{
    // The framework's exchange sort over the names, each tagged with its
    // record: equal names may change places, as they always did.
    CQNF_StringArray names;
    for (uint32_t i = 0; i < GetCount(); ++i)
        names.Add(CQNF_String(m_Records[i].name), i);
    names.SortElements(1);
    std::vector<SHAPESETREC> records;
    std::vector<uint8_t> selected;
    records.reserve(m_Records.size());
    for (uint32_t i = 0; i < names.GetSize(); ++i) {
        const uint32_t from = names[i].GetTag();
        records.push_back(m_Records[from]);
        selected.push_back(m_Selected[from]);
        m_bChanged |= from != i;
    }
    m_Records = std::move(records);
    m_Selected = std::move(selected);
    DoRecalcFirstByList();
}

ShapeIoError PM::opLoadShape(const char* name, const SPLINE& shape)
{
    if (!m_pFile)
        return ShapeIoError::UpdateFailed;
    // Earlier renames, deletions and sorting reach the file first; when they
    // cannot, nothing is added and the list stays as it is.
    if (m_bLoaded && m_bChanged) {
        if (!ShapeMng_Save(*m_pFile, m_Records))
            return ShapeIoError::UpdateFailed;
        m_bChanged = 0;
    }
    const ShapeIoError e = ShapeMng_AddShape(*m_pFile, name, shape);
    if (e != ShapeIoError::None)
        return e;
    return FillIn();
}

ShapeIoError PM::Close()
{
    if (!m_pFile || !m_bLoaded || !m_bChanged)
        return ShapeIoError::None;
    if (!ShapeMng_Save(*m_pFile, m_Records))
        return ShapeIoError::UpdateFailed;
    m_bChanged = 0;
    return ShapeIoError::None;
}
