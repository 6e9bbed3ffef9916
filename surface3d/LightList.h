// The owned, ordered list of named light records that both surface
// generations keep; only the record type differs between them.
//
// Names are stored as at most kLightNameChars characters and a NUL. A light is
// found by comparing at most that many characters, so a light added under a
// longer name is found again by that same name (its stored copy is its first
// 49 characters). Names are not unique: the first match in list order wins.
#pragma once

#include "core/Array.h"
#include "core/ErrorManager.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace s3d {

inline constexpr size_t kLightNameChars = 49;

inline void StoreLightName(char (&dst)[kLightNameChars + 1], const char* src)
{
    size_t n = 0;
    if (src)
        while (n < kLightNameChars && src[n])
            ++n;
    if (n)
        std::memcpy(dst, src, n);
    std::memset(dst + n, 0, sizeof(dst) - n);
}

template <class Record>
class LightList {
public:
    LightList() = default;
    LightList(const LightList&) = delete;
    LightList& operator=(const LightList&) = delete;
    ~LightList() { KillAll(); }

    uint32_t Count() const { return m_items.GetSize(); }
    Record* At(uint32_t index) const { return static_cast<Record*>(m_items[index]); }

    int32_t Find(const char* name) const
    {
        if (!name)
            return -1;
        for (uint32_t i = 0; i < Count(); ++i)
            if (std::strncmp(At(i)->name, name, kLightNameChars) == 0)
                return static_cast<int32_t>(i);
        return -1;
    }
    Record* FindRecord(const char* name) const
    {
        const int32_t i = Find(name);
        return i < 0 ? nullptr : At(static_cast<uint32_t>(i));
    }

    // Appends a new default record and returns it; null, with the list's
    // error number (17 when memory runs out), when the list cannot grow.
    Record* Append(unsigned short& error)
    {
        Record* rec = new (std::nothrow) Record();
        if (!rec) {
            error = qnerr::NoMemory;
            return nullptr;
        }
        if (m_items.Add(rec) < 0) {
            error = m_items.GetError() ? m_items.GetError() : qnerr::NoMemory;
            delete rec;
            return nullptr;
        }
        return rec;
    }

    // Appends a new record under the name (its first 49 characters); null
    // with error 1 for a null name, or the list's error when it cannot grow.
    Record* AddNamed(const char* name, unsigned short& error)
    {
        if (!name) {
            error = qnerr::BadArgument;
            return nullptr;
        }
        Record* rec = Append(error);
        if (rec)
            StoreLightName(rec->name, name);
        return rec;
    }

    // Deletes the first light of that name; false when there is none.
    bool Delete(const char* name)
    {
        const int32_t i = Find(name);
        if (i < 0)
            return false;
        delete At(static_cast<uint32_t>(i));
        m_items.DeleteAt(static_cast<uint32_t>(i));
        return true;
    }

    // Copies at most size bytes of the name and always ends the buffer with a
    // NUL; false for an index past the end, a null buffer or size 0.
    bool GetName(unsigned long index, char* buffer, unsigned long size) const
    {
        if (index >= Count() || !buffer || size == 0)
            return false;
        const char* name = At(static_cast<uint32_t>(index))->name;
        const size_t n = std::min<size_t>(std::strlen(name), size - 1);
        std::memcpy(buffer, name, n);
        buffer[n] = 0;
        return true;
    }

    void KillAll()
    {
        for (uint32_t i = 0; i < Count(); ++i)
            delete At(i);
        m_items.Empty();
    }

private:
    CQNF_PtrArray m_items;  // of Record*, owned here
};

}  // namespace s3d
