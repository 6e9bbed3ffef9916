// The owned, ordered list of named light records that both surface
// generations keep; only the record type differs between them.
//
// Names are stored as at most kLightNameChars characters and a NUL. A light is
// found by comparing at most that many characters, so a light added under a
// longer name is found again by that same name (its stored copy is its first
// 49 characters). Names are not unique: the first match in list order wins.
#pragma once

#include "core/ErrorManager.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

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
    uint32_t Count() const { return static_cast<uint32_t>(m_items.size()); }
    Record* At(uint32_t index) const { return index < m_items.size() ? m_items[index].get() : nullptr; }

    int32_t Find(const char* name) const
    {
        if (!name)
            return -1;
        for (size_t i = 0; i < m_items.size(); ++i)
            if (std::strncmp(m_items[i]->name, name, kLightNameChars) == 0)
                return static_cast<int32_t>(i);
        return -1;
    }
    Record* FindRecord(const char* name) const
    {
        const int32_t i = Find(name);
        return i < 0 ? nullptr : m_items[static_cast<size_t>(i)].get();
    }

    // Appends a new default record and returns it; null with error 17 when the
    // list cannot grow.
    Record* Append(unsigned short& error)
    {
        try {
            m_items.reserve(m_items.size() + 1);
            m_items.push_back(std::make_unique<Record>());
        } catch (const std::bad_alloc&) {
            error = qnerr::NoMemory;
            return nullptr;
        }
        return m_items.back().get();
    }

    // Deletes the first light of that name; false when there is none.
    bool Delete(const char* name)
    {
        const int32_t i = Find(name);
        if (i < 0)
            return false;
        m_items.erase(m_items.begin() + i);
        return true;
    }

    // Copies at most size bytes of the name and always ends the buffer with a
    // NUL; false for an index past the end, a null buffer or size 0.
    bool GetName(unsigned long index, char* buffer, unsigned long size) const
    {
        if (index >= m_items.size() || !buffer || size == 0)
            return false;
        const char* name = m_items[index]->name;
        const size_t n = std::min<size_t>(std::strlen(name), size - 1);
        std::memcpy(buffer, name, n);
        buffer[n] = 0;
        return true;
    }
    void KillAll() { m_items.clear(); }

private:
    std::vector<std::unique_ptr<Record>> m_items;
};

}  // namespace s3d
