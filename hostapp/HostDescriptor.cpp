#include "hostapp/HostDescriptor.h"

#include "filterapi/FilterApi.h"

#include <cstring>

namespace hostapp {

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

uint32_t GetU32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace

void HostDescriptor::PutInteger(uint32_t key, int32_t value)
{
    DescriptorItem item;
    item.key = key;
    item.type = descriptorTypeInteger;
    PutU32(item.value, static_cast<uint32_t>(value));
    items.push_back(std::move(item));
}

void HostDescriptor::PutText(uint32_t key, const std::vector<uint8_t>& bytes)
{
    items.push_back(DescriptorItem{key, descriptorTypeText, bytes});
}

const DescriptorItem* HostDescriptor::Find(uint32_t key) const
{
    for (const DescriptorItem& item : items)
        if (item.key == key)
            return &item;
    return nullptr;
}

int32_t HostDescriptor::IntegerOf(const DescriptorItem& item)
{
    return item.value.size() == 4 ? static_cast<int32_t>(GetU32(item.value.data())) : 0;
}

std::vector<uint8_t> HostDescriptor::Serialize() const
{
    std::vector<uint8_t> out = {'Q', 'N', 'D', 'S'};
    PutU32(out, static_cast<uint32_t>(items.size()));
    for (const DescriptorItem& item : items) {
        PutU32(out, item.key);
        PutU32(out, item.type);
        PutU32(out, static_cast<uint32_t>(item.value.size()));
        out.insert(out.end(), item.value.begin(), item.value.end());
    }
    return out;
}

bool HostDescriptor::Parse(const uint8_t* data, size_t size, HostDescriptor& out, std::string& err)
{
    out.items.clear();
    const bool qnds = size >= 4 && std::memcmp(data, "QNDS", 4) == 0;
    if (qnds && size < 8) {
        err = "descriptor cut short in its header";
        return false;
    }
    if (!qnds) {
        // A layout document is the likeliest file given in its place.
        err = size >= 6 && (std::memcmp(data, "QNTS30", 6) == 0 || std::memcmp(data, "QNTS20", 6) == 0)
                  ? kLayoutNotDescriptor
                  : "not a descriptor (it does not begin with QNDS; tessolo-mkdesc makes one)";
        return false;
    }
    const uint32_t count = GetU32(data + 4);
    size_t pos = 8;
    // Every item needs at least its 12 header bytes.
    if (count > (size - pos) / 12) {
        err = "descriptor item count larger than the data";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (size - pos < 12) {
            err = "descriptor cut short";
            return false;
        }
        DescriptorItem item;
        item.key = GetU32(data + pos);
        item.type = GetU32(data + pos + 4);
        const uint32_t length = GetU32(data + pos + 8);
        pos += 12;
        if (length > size - pos) {
            err = "descriptor value longer than the data";
            return false;
        }
        if (item.type == descriptorTypeInteger && length != 4) {
            err = "descriptor integer of a wrong size";
            return false;
        }
        item.value.assign(data + pos, data + pos + length);
        pos += length;
        out.items.push_back(std::move(item));
    }
    return true;
}

}  // namespace hostapp
