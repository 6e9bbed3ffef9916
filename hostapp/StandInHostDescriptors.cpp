// The stand-in host: the scripting descriptor procedures.
#include "hostapp/StandInHostParts.h"

#include <algorithm>
#include <cstring>

namespace hostapp {

using namespace standin;

// ---- Scripting descriptors ---------------------------------------------------

DescriptorReadToken StandInHost::OpenRead(FilterHandle descriptor, const DescriptorKey*)
{
    StandInHost* h = Current();
    if (!h || !descriptor)
        return nullptr;
    HandleRec* rec = h->FindHandle(descriptor, "descriptor read");
    if (!rec)
        return nullptr;
    auto token = std::make_unique<ReadToken>();
    std::string err;
    if (!HostDescriptor::Parse(reinterpret_cast<const uint8_t*>(rec->bytes.data()), static_cast<size_t>(rec->size),
                               token->descriptor, err))
        return nullptr;
    ReadToken* raw = token.get();
    h->m_readTokens.emplace(raw, std::move(token));
    return reinterpret_cast<DescriptorReadToken>(raw);
}

int16_t StandInHost::CloseRead(DescriptorReadToken token)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    if (h->m_readTokens.erase(reinterpret_cast<ReadToken*>(token)) == 0) {
        h->Violation("close of an unknown read descriptor");
        return kHostError;
    }
    return 0;
}

uint8_t StandInHost::GetKey(DescriptorReadToken token, DescriptorKey* key, DescriptorType* type, int32_t* flags)
{
    StandInHost* h = Current();
    if (!h)
        return 0;
    auto it = h->m_readTokens.find(reinterpret_cast<ReadToken*>(token));
    if (it == h->m_readTokens.end()) {
        h->Violation("key query on an unknown read descriptor");
        return 0;
    }
    ReadToken& t = *it->second;
    if (t.next >= t.descriptor.items.size())
        return 0;
    const DescriptorItem& item = t.descriptor.items[t.next++];
    if (key)
        *key = item.key;
    if (type)
        *type = item.type;
    if (flags)
        *flags = 0;
    return 1;
}

const DescriptorItem* StandInHost::LastReadItem(DescriptorReadToken token, DescriptorType type)
{
    auto it = m_readTokens.find(reinterpret_cast<ReadToken*>(token));
    if (it == m_readTokens.end() || it->second->next == 0)
        return nullptr;
    const DescriptorItem& item = it->second->descriptor.items[it->second->next - 1];
    return item.type == type ? &item : nullptr;
}

StandInHost::WriteToken* StandInHost::FindWriteToken(DescriptorWriteToken token)
{
    auto it = m_writeTokens.find(reinterpret_cast<WriteToken*>(token));
    return it == m_writeTokens.end() ? nullptr : it->second.get();
}

int16_t StandInHost::GetInteger(DescriptorReadToken token, int32_t* value)
{
    StandInHost* h = Current();
    const DescriptorItem* item = h && value ? h->LastReadItem(token, descriptorTypeInteger) : nullptr;
    if (!item)
        return kHostError;
    *value = HostDescriptor::IntegerOf(*item);
    return 0;
}

int16_t StandInHost::GetText(DescriptorReadToken token, FilterHandle* text)
{
    StandInHost* h = Current();
    const DescriptorItem* item = h && text ? h->LastReadItem(token, descriptorTypeText) : nullptr;
    if (!item)
        return kHostError;
    *text = h->NewHandle(item->value.data(), item->value.size());
    return 0;
}

DescriptorWriteToken StandInHost::OpenWrite()
{
    StandInHost* h = Current();
    if (!h)
        return nullptr;
    auto token = std::make_unique<WriteToken>();
    WriteToken* raw = token.get();
    h->m_writeTokens.emplace(raw, std::move(token));
    return reinterpret_cast<DescriptorWriteToken>(raw);
}

int16_t StandInHost::CloseWrite(DescriptorWriteToken token, FilterHandle* descriptor)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    auto it = h->m_writeTokens.find(reinterpret_cast<WriteToken*>(token));
    if (it == h->m_writeTokens.end()) {
        h->Violation("close of an unknown write descriptor");
        return kHostError;
    }
    const std::vector<uint8_t> bytes = it->second->descriptor.Serialize();
    h->m_writeTokens.erase(it);
    if (descriptor)
        *descriptor = h->NewHandle(bytes.data(), bytes.size());
    return 0;
}

int16_t StandInHost::PutInteger(DescriptorWriteToken token, DescriptorKey key, int32_t value)
{
    StandInHost* h = Current();
    WriteToken* t = h ? h->FindWriteToken(token) : nullptr;
    if (!t)
        return kHostError;
    t->descriptor.PutInteger(key, value);
    return 0;
}

int16_t StandInHost::PutText(DescriptorWriteToken token, DescriptorKey key, FilterHandle text)
{
    StandInHost* h = Current();
    if (!h)
        return kHostError;
    WriteToken* t = h->FindWriteToken(token);
    HandleRec* rec = h->FindHandle(text, "text put");
    if (!t || !rec)
        return kHostError;
    if (h->m_settings.maxText >= 0 && rec->size > h->m_settings.maxText)
        return kHostError;
    t->descriptor.PutText(
        key, std::vector<uint8_t>(rec->bytes.begin(), rec->bytes.begin() + rec->size));
    return 0;
}

}  // namespace hostapp
