#include "core/Array.h"

#include <algorithm>
#include <new>

namespace {

constexpr uint32_t kGrowBy = 10;

}  // namespace

// ---------------------------------------------------------------------------
// CQNF_Array

CQNF_Array::CQNF_Array(const CQNF_Array& other)
    : CQNF_FrameWork(), m_elementSize(other.m_elementSize), m_elements(&other.m_elements)
{
    if (m_elements.GetSize() != other.m_elements.GetSize()) {
        SetError(m_elements.GetError());
        return;
    }
    m_capacity = other.m_capacity;
    m_count = other.m_count;
}

CQNF_Array& CQNF_Array::operator=(const CQNF_Array& other)
{
    if (this == &other)
        return *this;
    CQNF_Mem copy(&other.m_elements);
    if (copy.GetSize() != other.m_elements.GetSize()) {
        SetError(copy.GetError());
        return *this;
    }
    if (m_count)
        i_ReleaseSlots(i_Slot(0), m_count);
    m_elements = std::move(copy);
    m_elementSize = other.m_elementSize;
    m_capacity = other.m_capacity;
    m_count = other.m_count;
    ResetError();
    return *this;
}

CQNF_Array::~CQNF_Array() = default;

void CQNF_Array::Empty()
{
    m_elements.free();
    m_capacity = 0;
    m_count = 0;
}

int CQNF_Array::CompareElements(const void* a, const void* b) { return a == b ? 1 : 0; }

void CQNF_Array::i_ReleaseSlots(unsigned char*, uint32_t) {}

bool CQNF_Array::SetArraySize(uint64_t n)
{
    // Computed in 64 bits: a wrapped byte size would leave a small buffer
    // under a large capacity.
    // Elements cut off by shrinking are set aside first, and released only
    // once the resize has succeeded, so that a failure changes nothing.
    CQNF_Mem dropped;
    if (n < m_count && !dropped.alloc(size_t(m_count - n) * m_elementSize)) {
        SetError(dropped.GetError());
        return false;
    }
    if (n < m_count)
        std::memcpy(dropped.GetPtr(), i_Slot(uint32_t(n)), dropped.GetSize());
    const bool ok = m_elements.Resize(qnMulSize({n, m_elementSize}));
    SetError(m_elements.GetError());
    if (!ok)
        return false;
    if (n < m_count) {
        i_ReleaseSlots(dropped.GetPtr(), m_count - uint32_t(n));
        m_count = uint32_t(n);
    }
    m_capacity = uint32_t(n);
    return true;
}

bool CQNF_Array::Compact() { return SetArraySize(m_count); }

int32_t CQNF_Array::p_AddElement(const void* e)
{
    if (!e) {
        SetError(qnerr::BadArgument);
        return -1;
    }
    if (m_count >= uint32_t(INT32_MAX)) {  // the index would not fit the result
        SetError(qnerr::NoMemory);
        return -1;
    }
    if (m_count + 1 > m_capacity) {
        // e may point into the buffer that growing replaces.
        unsigned char value[256];
        std::memcpy(value, e, m_elementSize);
        if (!SetArraySize(uint64_t(m_capacity) + kGrowBy))
            return -1;
        std::memcpy(i_Slot(m_count), value, m_elementSize);
    } else {
        std::memmove(i_Slot(m_count), e, m_elementSize);
    }
    return int32_t(m_count++);
}

bool CQNF_Array::p_SetElementAt(uint64_t i, const void* e)
{
    if (!e) {
        SetError(qnerr::BadArgument);
        return false;
    }
    unsigned char value[256];
    std::memcpy(value, e, m_elementSize);
    if (i >= m_capacity && !SetArraySize(i + kGrowBy))
        return false;
    std::memcpy(i_Slot(uint32_t(i)), value, m_elementSize);
    if (i >= m_count)
        m_count = uint32_t(i) + 1;
    return true;
}

void* CQNF_Array::p_GetElementAt(uint64_t i) const { return i < m_capacity ? i_Slot(uint32_t(i)) : nullptr; }

bool CQNF_Array::p_InsertElementAt(uint64_t i, const void* e)
{
    if (i >= m_count)
        return p_SetElementAt(i, e);
    if (!e) {
        SetError(qnerr::BadArgument);
        return false;
    }
    unsigned char value[256];
    std::memcpy(value, e, m_elementSize);
    if (m_count + 1 > m_capacity && !SetArraySize(uint64_t(m_capacity) + kGrowBy))
        return false;
    std::memmove(i_Slot(uint32_t(i) + 1), i_Slot(uint32_t(i)), size_t(m_count - i) * m_elementSize);
    ++m_count;
    std::memcpy(i_Slot(uint32_t(i)), value, m_elementSize);
    return true;
}

uint32_t CQNF_Array::p_DeleteElementAt(uint64_t i)
{
    if (i >= m_count) {
        SetError(qnerr::BadArgument);
        return m_count;
    }
    std::memmove(i_Slot(uint32_t(i)), i_Slot(uint32_t(i) + 1), size_t(m_count - i - 1) * m_elementSize);
    --m_count;
    // The vacated slot must not keep a copy of the last element: for owning
    // or pointer arrays that copy would be freed or followed twice.
    std::memset(i_Slot(m_count), 0, m_elementSize);
    return m_count;
}

bool CQNF_Array::SortElements(uint8_t ascending)
{
    ResetError();
    if (m_count < 2)
        return true;
    unsigned char scratch[256];
    const size_t size = m_elementSize;
    for (uint32_t i = 0; i + 1 < m_count; ++i) {
        for (uint32_t j = i + 1; j < m_count; ++j) {
            unsigned char* a = i_Slot(i);
            unsigned char* b = i_Slot(j);
            const int c = CompareElements(a, b);
            if (ascending ? c >= 1 : c < 0) {
                std::memcpy(scratch, a, size);
                std::memcpy(a, b, size);
                std::memcpy(b, scratch, size);
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// CQNF_StringArray

CQNF_StringArray::CQNF_StringArray(const CQNF_StringArray& other) : CQNF_Array(uint8_t(sizeof(CQNF_String*)))
{
    i_CopyFrom(other);
}

CQNF_StringArray& CQNF_StringArray::operator=(const CQNF_StringArray& other)
{
    if (this != &other) {
        Empty();
        ResetError();
        i_CopyFrom(other);
    }
    return *this;
}

CQNF_StringArray::~CQNF_StringArray() { Empty(); }

void CQNF_StringArray::i_CopyFrom(const CQNF_StringArray& other)
{
    if (!SetArraySize(other.m_capacity))
        return;
    for (uint32_t i = 0; i < other.m_count; ++i) {
        CQNF_String* copy = nullptr;
        if (const CQNF_String* s = other.i_At(i)) {
            copy = i_Copy(*s, s->GetTag());
            if (!copy)
                return;  // the array holds the strings copied so far
        }
        std::memcpy(i_Slot(i), &copy, sizeof copy);
        m_count = i + 1;
    }
}

CQNF_String* CQNF_StringArray::i_At(uint32_t i) const
{
    if (i >= m_capacity)
        return nullptr;
    CQNF_String* s;
    std::memcpy(&s, i_Slot(i), sizeof s);
    return s;
}

CQNF_String* CQNF_StringArray::i_Copy(const CQNF_String& s, uint32_t tag)
{
    CQNF_String* copy = new (std::nothrow) CQNF_String(s);
    if (!copy || copy->GetLength() != s.GetLength()) {
        delete copy;
        SetError(qnerr::NoMemory);
        return nullptr;
    }
    copy->SetTag(tag);
    return copy;
}

int32_t CQNF_StringArray::Add(const CQNF_String& s, uint32_t tag)
{
    CQNF_String* copy = i_Copy(s, tag);
    if (!copy)
        return -1;
    const int32_t index = CQNF_Array::p_AddElement(&copy);
    if (index < 0)
        delete copy;
    return index;
}

bool CQNF_StringArray::InsertAt(uint64_t i, const CQNF_String& s, uint32_t tag)
{
    if (i >= m_count)
        return SetAt(i, s, tag);
    CQNF_String* copy = i_Copy(s, tag);
    if (!copy)
        return false;
    if (!CQNF_Array::p_InsertElementAt(i, &copy)) {
        delete copy;
        return false;
    }
    return true;
}

bool CQNF_StringArray::SetAt(uint64_t i, const CQNF_String& s, uint32_t tag)
{
    // The copy comes first: s may be the very string the slot holds.
    CQNF_String* copy = i_Copy(s, tag);
    if (!copy)
        return false;
    CQNF_String* old = i < m_count ? i_At(uint32_t(i)) : nullptr;
    if (!CQNF_Array::p_SetElementAt(i, &copy)) {
        delete copy;
        return false;
    }
    delete old;
    return true;
}

uint32_t CQNF_StringArray::DeleteAt(uint64_t i)
{
    if (i >= m_count) {
        SetError(qnerr::BadArgument);
        return m_count;
    }
    delete i_At(uint32_t(i));
    return CQNF_Array::p_DeleteElementAt(i);
}

bool CQNF_StringArray::GetAt(uint64_t i, CQNF_String& out) const
{
    if (i >= m_capacity)
        return false;
    if (const CQNF_String* s = i_At(uint32_t(i)))
        out = *s;
    else
        out = CQNF_String();
    return true;
}

CQNF_String CQNF_StringArray::operator[](uint64_t i) const
{
    CQNF_String s;
    GetAt(i, s);
    return s;
}

void CQNF_StringArray::i_ReleaseSlots(unsigned char* slots, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        CQNF_String* s;
        std::memcpy(&s, slots + size_t(i) * sizeof s, sizeof s);
        delete s;
        std::memset(slots + size_t(i) * sizeof s, 0, sizeof s);
    }
}

void CQNF_StringArray::Empty()
{
    if (m_capacity)
        i_ReleaseSlots(i_Slot(0), m_capacity);
    CQNF_Array::Empty();
}

int CQNF_StringArray::CompareElements(const void* a, const void* b)
{
    const CQNF_String* x;
    const CQNF_String* y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    static const CQNF_String empty;
    return -(x ? *x : empty).Compare(y ? *y : empty);
}

int32_t CQNF_StringArray::LSearch(const CQNF_String& s, uint8_t caseSensitive)
{
    ResetError();
    for (uint32_t i = 0; i < m_count; ++i) {
        const CQNF_String* e = i_At(i);
        if (e && (caseSensitive ? e->Compare(s) : e->CompareNoCase(s)) == 0)
            return int32_t(i);
    }
    return -1;
}

int32_t CQNF_StringArray::BSearch(const CQNF_String& s, uint8_t caseSensitive)
{
    auto compare = [&](const CQNF_String* e) { return caseSensitive ? e->Compare(s) : e->CompareNoCase(s); };
    int32_t lo = 0;
    int32_t hi = int32_t(m_count) - 1;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const CQNF_String* e = i_At(uint32_t(mid));
        if (!e)
            return -1;
        if (compare(e) == 1)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (hi < lo)
        return -1;
    const CQNF_String* e = i_At(uint32_t(lo));
    if (!e)
        return -1;
    return compare(e) == 0 ? lo : -1;
}
