// CQNF_Array and its typed arrays: growable arrays of fixed-size elements
// kept in one CQNF_Mem.
//
// - The buffer grows by 10 slots at a time; new slots are zero. Slots at or
//   past the count are always zero (deleting clears the slot it vacates).
// - Reads check the index against the capacity, not the count, so a slot
//   between the two reads 0. The pointer array is the exception: it reads
//   nothing past the count, where a pointer is never meaningful.
// - SortElements is an exchange sort over the raw slots: quadratic and not
//   stable, and callers that sort ties (ids by row and column) rely on the
//   exact order it leaves them in.
// - Capacities are computed in 64 bits: a capacity whose byte size does not
//   fit 32 bits is refused with 17. Shrinking below the count drops the
//   elements past the new end.
// - CQNF_StringArray owns its strings (heap copies of the caller's) and keeps
//   per-item data in each string's tag.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/String.h"

#include <cstdint>
#include <cstring>

class CQNF_Array : public CQNF_FrameWork {
public:
    CQNF_Array() : CQNF_Array(1) {}
    CQNF_Array(const CQNF_Array& other);
    CQNF_Array& operator=(const CQNF_Array& other);
    ~CQNF_Array() override;

    // Frees the buffer; count and capacity 0.
    virtual void Empty();
    // Negative when a sorts before b, 0 when equal, positive after. The base
    // only tells an element from itself (1 for the same pointer, else 0).
    virtual int CompareElements(const void* a, const void* b);

    uint32_t GetSize() const { return m_count; }
    uint32_t GetCapacity() const { return m_capacity; }
    uint8_t GetElementSize() const { return m_elementSize; }

    // Resizes the buffer to n slots, keeping what fits; the buffer's error
    // number is copied into the array. On failure the array is unchanged.
    bool SetArraySize(uint64_t n);
    // Capacity down to the count.
    bool Compact();

    // Untyped access. e points to one element's bytes. Indices at or above
    // 2^32 count as out of range.
    int32_t p_AddElement(const void* e);
    // Stores at slot i, growing to i + 10 slots when i is not below the
    // capacity; the count becomes i + 1 when i was at or past it.
    bool p_SetElementAt(uint64_t i, const void* e);
    // The slot, or null when i is not below the capacity.
    void* p_GetElementAt(uint64_t i) const;
    // Inserts at i, moving later elements up; at or past the count this is
    // p_SetElementAt.
    bool p_InsertElementAt(uint64_t i, const void* e);
    // Removes the element at i, moving later ones down; returns the new
    // count. An index not below the count removes nothing (error 1).
    uint32_t p_DeleteElementAt(uint64_t i);
    // ascending: 1 ascending, 0 descending, by CompareElements.
    bool SortElements(uint8_t ascending);

protected:
    explicit CQNF_Array(uint8_t elementSize) : m_elementSize(elementSize) {}
    // Called with the bytes of n slots that leave the array (shrinking,
    // emptying, being overwritten by assignment), so that owning arrays can
    // release what they hold.
    virtual void i_ReleaseSlots(unsigned char* slots, uint32_t n);
    unsigned char* i_Slot(uint32_t i) const { return m_elements.GetPtr() + size_t(i) * m_elementSize; }

    uint32_t m_capacity = 0;
    uint32_t m_count = 0;
    uint8_t m_elementSize = 1;
    CQNF_Mem m_elements;
};

// The typed operations shared by every value array.
template <class T>
class CQNF_TypedArray : public CQNF_Array {
public:
    CQNF_TypedArray() : CQNF_Array(uint8_t(sizeof(T))) {}

    int32_t Add(T value) { return p_AddElement(&value); }
    bool InsertAt(uint64_t i, T value) { return p_InsertElementAt(i, &value); }
    bool SetAt(uint64_t i, T value) { return p_SetElementAt(i, &value); }
    uint32_t DeleteAt(uint64_t i) { return p_DeleteElementAt(i); }
    // False when i is not below the capacity; out is then untouched.
    bool GetAt(uint64_t i, T& out) const
    {
        const void* slot = p_GetElementAt(i);
        if (!slot)
            return false;
        std::memcpy(&out, slot, sizeof(T));
        return true;
    }
    // The value, or 0 when i is not below the capacity.
    T operator[](uint64_t i) const
    {
        T v{};
        GetAt(i, v);
        return v;
    }

    int CompareElements(const void* a, const void* b) override
    {
        T x, y;
        std::memcpy(&x, a, sizeof(T));
        std::memcpy(&y, b, sizeof(T));
        if (x == y)
            return 0;
        // For floats a NaN on either side sorts after (+1).
        return x < y ? -1 : 1;
    }
};

class CQNF_ByteArray : public CQNF_TypedArray<uint8_t> {};
class CQNF_SByteArray : public CQNF_TypedArray<int8_t> {};
class CQNF_WordArray : public CQNF_TypedArray<uint16_t> {};
class CQNF_SWordArray : public CQNF_TypedArray<int16_t> {};
class CQNF_DWordArray : public CQNF_TypedArray<uint32_t> {};
class CQNF_SDWordArray : public CQNF_TypedArray<int32_t> {};
class CQNF_FloatArray : public CQNF_TypedArray<float> {};

// Pointers the array does not own. Sorting keeps their order.
class CQNF_PtrArray : public CQNF_TypedArray<void*> {
public:
    // False, item untouched, when i is not below the count.
    bool GetAt(uint64_t i, void*& item) const
    {
        if (i >= m_count)
            return false;
        return CQNF_TypedArray<void*>::GetAt(i, item);
    }
    // Null when i is not below the count.
    void* operator[](uint64_t i) const
    {
        void* p = nullptr;
        GetAt(i, p);
        return p;
    }
    int CompareElements(const void*, const void*) override { return 0; }
};

class CQNF_StringArray : public CQNF_Array {
public:
    CQNF_StringArray() : CQNF_Array(uint8_t(sizeof(CQNF_String*))) {}
    CQNF_StringArray(const CQNF_StringArray& other);
    CQNF_StringArray& operator=(const CQNF_StringArray& other);
    ~CQNF_StringArray() override;

    // Appends a copy of s whose tag is set to tag; index or -1.
    int32_t Add(const CQNF_String& s, uint32_t tag = 0);
    bool InsertAt(uint64_t i, const CQNF_String& s, uint32_t tag = 0);
    // Replaces the string at i (or fills the slot) with a copy of s tagged
    // tag, growing as p_SetElementAt. On failure the old string stays.
    bool SetAt(uint64_t i, const CQNF_String& s, uint32_t tag = 0);
    // Destroys the string at i and removes its slot; new count. An index not
    // below the count removes nothing (error 1).
    uint32_t DeleteAt(uint64_t i);
    // i below the capacity: out becomes a copy of the element with its tag,
    // or the empty string for an empty slot, and the result is true.
    bool GetAt(uint64_t i, CQNF_String& out) const;
    // A copy of the element; the empty string when GetAt fails.
    CQNF_String operator[](uint64_t i) const;

    void Empty() override;
    // Case-sensitive string order, an empty slot counting as the empty
    // string; -1 when a sorts first.
    int CompareElements(const void* a, const void* b) override;

    // Index of the first element equal to s (Compare when caseSensitive is
    // not 0, CompareNoCase when it is), skipping empty slots; -1 when none.
    int32_t LSearch(const CQNF_String& s, uint8_t caseSensitive);
    // Binary search of an array in ascending order under the comparison the
    // flag selects; the first of several equal elements, or -1.
    int32_t BSearch(const CQNF_String& s, uint8_t caseSensitive);

protected:
    void i_ReleaseSlots(unsigned char* slots, uint32_t n) override;

private:
    // The strings are owned: raw slot writes would leak or double free them.
    using CQNF_Array::p_AddElement;
    using CQNF_Array::p_DeleteElementAt;
    using CQNF_Array::p_InsertElementAt;
    using CQNF_Array::p_SetElementAt;

    CQNF_String* i_At(uint32_t i) const;
    // A heap copy of s tagged tag, or null with error 17.
    CQNF_String* i_Copy(const CQNF_String& s, uint32_t tag);
    void i_CopyFrom(const CQNF_StringArray& other);
};
