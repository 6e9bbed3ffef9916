// The fuzzer's bytes read front to back as the choices of a target; past
// the end every choice is 0 and every run of bytes is short.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool More() const { return m_at < m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    // Up to n bytes into out; how many there were.
    uint32_t Bytes(void* out, uint32_t n)
    {
        const uint32_t got = uint32_t(std::min<size_t>(n, m_size - m_at));
        std::copy_n(m_data + m_at, got, static_cast<uint8_t*>(out));
        m_at += got;
        return got;
    }
    std::vector<uint8_t> Bytes(size_t n)
    {
        std::vector<uint8_t> out(std::min(n, m_size - m_at));
        Bytes(out.data(), uint32_t(out.size()));
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};
