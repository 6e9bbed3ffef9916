// The settings block in the host's scripting descriptor: compressed, written
// as hexadecimal text in numbered chunks (see host/ScriptChunks.h).
#include "host/PluginAdapter.h"

#include "core/ZipBlock.h"
#include "host/ScriptChunks.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

using namespace qnscript;

bool CQNF_8BFPluginVirtual::i_HasScriptingProcs(bool writing) const
{
    const FilterRecord* r = m_pRecord;
    if (!r || !r->descriptorParameters || !r->handleProcs)
        return false;
    const HandleProcs* h = r->handleProcs;
    if (!h->newProc || !h->disposeProc || !h->lockProc || !h->unlockProc || !h->getSizeProc)
        return false;
    if (writing) {
        const WriteDescriptorProcs* w = r->descriptorParameters->writeDescriptorProcs;
        return w && w->openWriteDescriptorProc && w->closeWriteDescriptorProc && w->putIntegerProc && w->putTextProc;
    }
    const ReadDescriptorProcs* rd = r->descriptorParameters->readDescriptorProcs;
    return rd && rd->openReadDescriptorProc && rd->closeReadDescriptorProc && rd->getKeyProc && rd->getIntegerProc &&
           rd->getTextProc;
}

bool CQNF_8BFPluginVirtual::i_PutChunkText(const char* prefix, uint32_t prefixLength, const char* text,
                                            uint32_t length, DescriptorKey key, DescriptorWriteToken token)
{
    const HandleProcs* hp = m_pRecord->handleProcs;
    FilterHandle h = hp->newProc(static_cast<int32_t>(prefixLength + length + 1));
    if (!h)
        return false;
    char* p = hp->lockProc(h, 0);
    if (!p) {
        hp->disposeProc(h);
        return false;
    }
    std::memcpy(p, prefix, prefixLength);
    std::memcpy(p + prefixLength, text, length);
    p[prefixLength + length] = 0;
    hp->unlockProc(h);
    const int16_t answer = m_pRecord->descriptorParameters->writeDescriptorProcs->putTextProc(token, key, h);
    hp->disposeProc(h);
    return answer == 0;
}

bool CQNF_8BFPluginVirtual::i_WESP_SetText(const char* text, uint32_t length, DescriptorKey key,
                                           DescriptorWriteToken token, uint16_t index)
{
    char letters[3];
    if (!IndexLetters(index, letters))
        return false;
    return i_PutChunkText(letters, 3, text, length, key, token);
}

void CQNF_8BFPluginVirtual::i_ReplaceDescriptor(DescriptorWriteToken token)
{
    DescriptorParameters* d = m_pRecord->descriptorParameters;
    if (d->descriptor)
        m_pRecord->handleProcs->disposeProc(d->descriptor);
    FilterHandle fresh = nullptr;
    d->writeDescriptorProcs->closeWriteDescriptorProc(token, &fresh);
    d->descriptor = fresh;
    d->recordInfo = descriptorRecordSilent;
}

void CQNF_8BFPluginVirtual::i_WriteEmptyDescriptor()
{
    if (!i_HasScriptingProcs(true))
        return;
    DescriptorWriteToken token = m_pRecord->descriptorParameters->writeDescriptorProcs->openWriteDescriptorProc();
    if (token)
        i_ReplaceDescriptor(token);
}

void CQNF_8BFPluginVirtual::i_RefuseScript(std::string why)
{
    i_WriteEmptyDescriptor();
    m_ScriptRefusal = std::move(why);
}

bool CQNF_8BFPluginVirtual::i_ScriptText(const uint8_t* data, uint32_t size, uint32_t maxText, CQNF_Mem& text)
{
    // Any failure still replaces the descriptor (with an empty one), so a
    // recorded action never replays the settings of an older run.
    CQNF_Mem packed;
    if (!data || size == 0) {
        i_RefuseScript("there were no settings to write");
        return false;
    }
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(data, size);
    zip.SetDestBlock(&packed);
    zip.SetMode(1);
    // Twice the packed size in text: a block that packs past the most text
    // a descriptor holds is never turned into text.
    const uint64_t length = zip.Process() ? uint64_t{packed.GetSize()} * 2 : 0;
    if (length > maxText) {
        i_RefuseScript("they are too large for a descriptor (" + std::to_string(length) + " characters, at most " +
                       std::to_string(maxText) + ")");
        return false;
    }
    if (length < kMinText || !EncodeHex(packed.GetPtr(), packed.GetSize(), text)) {
        i_RefuseScript("they could not be compressed into text (out of memory?)");
        return false;
    }
    return true;
}

bool CQNF_8BFPluginVirtual::i_ScriptBlock(const char* text, uint32_t length, CQNF_Mem* block)
{
    CQNF_Mem packed;
    if (!DecodeHex(text, length, packed))
        return false;
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(packed);
    zip.SetDestBlock(block);
    zip.SetMode(0);
    return zip.Process();
}

bool CQNF_8BFPluginVirtual::WriteEncryptedScriptParameter_V2(const uint8_t* data, uint32_t size)
{
    m_ScriptRefusal.clear();
    if (!i_HasScriptingProcs(true))
        return false;

    CQNF_Mem text;
    if (!i_ScriptText(data, size, kMaxText, text))
        return false;
    const uint32_t length = text.GetSize();
    const char* hex = reinterpret_cast<const char*>(text.GetPtr());

    // Open the host's descriptor writer.
    DescriptorParameters* d = m_pRecord->descriptorParameters;
    const WriteDescriptorProcs* w = d->writeDescriptorProcs;
    DescriptorWriteToken token = w->openWriteDescriptorProc();
    if (!token) {
        i_RefuseScript("the host could not open a descriptor to write");
        return false;
    }

    // Large chunks.
    bool ok = true;
    int32_t modeValue = static_cast<int32_t>(length) + kLargeBase;
    const uint32_t largeChunks = (length - 1) / kLargeChunk + 1;
    for (uint32_t i = 0; ok && i < largeChunks; ++i) {
        const uint32_t n = i + 1 < largeChunks ? kLargeChunk : length - i * kLargeChunk;
        if (!i_WESP_SetText(hex + size_t{i} * kLargeChunk, n, LargeKey(i), token, static_cast<uint16_t>(i))) {
            // A host that refuses long texts gets small chunks instead.
            ok = false;
            if (i == 0 && n > kSmallChunk) {
                const uint32_t smallChunks = (length - 1) / kSmallChunk + 1;
                ok = smallChunks <= kSmallMaxChunks;
                for (uint32_t k = 0; ok && k < smallChunks; ++k) {
                    const uint32_t m = k + 1 < smallChunks ? kSmallChunk : length - k * kSmallChunk;
                    ok = i_WESP_SetText(hex + size_t{k} * kSmallChunk, m, SmallKey(k), token,
                                        static_cast<uint16_t>(k));
                }
                modeValue = static_cast<int32_t>(length) + kSmallBase;
                break;
            }
        }
    }
    // The mode key last: it tells the reader the chunk size and text length.
    if (ok)
        ok = w->putIntegerProc(token, kModeKey, modeValue) == 0;

    // Whatever happened, the written descriptor replaces the host's; one
    // without its mode key does not read, and its replay is refused.
    i_ReplaceDescriptor(token);
    if (!ok)
        m_ScriptRefusal = length > kSmallChunk * kSmallMaxChunks && modeValue < kLargeBase
                              ? "they are too large for a descriptor of short texts (" + std::to_string(length) +
                                    " characters, at most " + std::to_string(kSmallChunk * kSmallMaxChunks) + ")"
                              : std::string("the host refused to write them");
    return ok;
}

bool CQNF_8BFPluginVirtual::i_WESP_GetText(char* buffer, uint32_t bufferLength, uint32_t chunkSize,
                                           DescriptorReadToken token, uint32_t maxChunks)
{
    const HandleProcs* hp = m_pRecord->handleProcs;
    FilterHandle h = nullptr;
    if (m_pRecord->descriptorParameters->readDescriptorProcs->getTextProc(token, &h) != 0 || !h)
        return false;
    bool ok = false;
    const int32_t size = hp->getSizeProc(h);
    const char* p = hp->lockProc(h, 0);
    if (p && size > 0)
        ok = PlaceChunk(p, static_cast<size_t>(size), buffer, bufferLength, chunkSize, maxChunks);
    hp->unlockProc(h);
    hp->disposeProc(h);
    return ok;
}

bool CQNF_8BFPluginVirtual::HasScriptParameters() const
{
    if (!i_HasScriptingProcs(false))
        return false;
    const DescriptorParameters* d = m_pRecord->descriptorParameters;
    const ReadDescriptorProcs* rp = d->readDescriptorProcs;
    // The mode key and every chunk key of either form: a chunk whose mode
    // key is lost is as much ours as the mode key alone.
    DescriptorKey keys[1 + kSingleMaxChunks + kLargeMaxChunks + kSmallKeys + 1] = {kModeKey};
    uint32_t n = 1;
    for (uint32_t i = 0; i < kSingleMaxChunks; ++i)
        keys[n++] = SingleKey(i);
    for (uint32_t i = 0; i < kLargeMaxChunks; ++i)
        keys[n++] = LargeKey(i);
    for (uint32_t i = 0; i < kSmallKeys; ++i)
        keys[n++] = SmallKey(i);
    DescriptorReadToken token = rp->openReadDescriptorProc(d->descriptor, keys);
    if (!token)
        return false;
    bool ours = false;
    DescriptorKey key = 0;
    DescriptorType type = 0;
    int32_t flags = 0;
    while (rp->getKeyProc(token, &key, &type, &flags))
        ours = ours || std::find(keys, keys + n, key) != keys + n;
    rp->closeReadDescriptorProc(token);
    return ours;
}

bool CQNF_8BFPluginVirtual::ReadEncryptedScriptParameter_V2(CQNF_Mem* block, uint8_t& showDialog)
{
    if (!block || !i_HasScriptingProcs(false))
        return false;
    DescriptorParameters* d = m_pRecord->descriptorParameters;
    const ReadDescriptorProcs* rp = d->readDescriptorProcs;

    // The mode and length.
    const DescriptorKey modeKeys[] = {kModeKey, 0};
    DescriptorReadToken token = rp->openReadDescriptorProc(d->descriptor, modeKeys);
    if (!token)
        return false;
    int32_t value = -1;
    bool ok = true;
    DescriptorKey key = 0;
    DescriptorType type = 0;
    int32_t flags = 0;
    while (rp->getKeyProc(token, &key, &type, &flags))
        if (key == kModeKey && rp->getIntegerProc(token, &value) != 0)
            ok = false;
    rp->closeReadDescriptorProc(token);
    if (!ok)
        return false;

    // The chunk plan the mode value names; an unknown value is no descriptor.
    ChunkPlan plan;
    if (!PlanFromModeValue(value, plan))
        return false;

    // The hexadecimal text, zeroed so that a missing chunk fails decoding.
    CQNF_Mem text;
    if (!text.Zalloc(plan.length))
        return false;

    // The chunks, in whatever order the host gives them.
    DescriptorKey keys[kSmallMaxChunks + 1] = {};
    for (uint32_t i = 0; i < plan.chunks; ++i)
        keys[i] = plan.large ? LargeKey(i) : SmallKey(i);
    token = rp->openReadDescriptorProc(d->descriptor, keys);
    if (!token)
        return false;
    while (ok && rp->getKeyProc(token, &key, &type, &flags)) {
        bool wanted = false;
        for (uint32_t i = 0; i < plan.chunks && !wanted; ++i)
            wanted = keys[i] == key;
        if (wanted)
            ok = i_WESP_GetText(reinterpret_cast<char*>(text.GetPtr()), plan.length, plan.chunkSize, token,
                                plan.maxChunks);
    }
    rp->closeReadDescriptorProc(token);
    if (!ok)
        return false;

    // A missing chunk leaves zero bytes, which are not hexadecimal.
    if (!i_ScriptBlock(reinterpret_cast<const char*>(text.GetPtr()), plan.length, block))
        return false;

    // The recorded action may ask for the dialog on replay.
    showDialog = d->playInfo == descriptorPlayDisplayDialog ? 1 : 0;
    return true;
}

bool CQNF_8BFPluginVirtual::WriteEncryptedScriptParameter(const uint8_t* data, uint32_t size)
{
    m_ScriptRefusal.clear();
    if (!i_HasScriptingProcs(true))
        return false;
    CQNF_Mem text;
    if (!i_ScriptText(data, size, kSingleMaxText, text))
        return false;
    const uint32_t length = text.GetSize();
    const char* hex = reinterpret_cast<const char*>(text.GetPtr());
    DescriptorWriteToken token = m_pRecord->descriptorParameters->writeDescriptorProcs->openWriteDescriptorProc();
    if (!token) {
        i_RefuseScript("the host could not open a descriptor to write");
        return false;
    }
    bool ok = true;
    const uint32_t chunks = (length - 1) / kSingleChunk + 1;
    for (uint32_t i = 0; ok && i < chunks; ++i) {
        const char letter = static_cast<char>('A' + i);
        const uint32_t n = i + 1 < chunks ? kSingleChunk : length - i * kSingleChunk;
        ok = i_PutChunkText(&letter, 1, hex + size_t{i} * kSingleChunk, n, SingleKey(i), token);
    }
    // Whatever happened, the written descriptor replaces the host's; a
    // partial one lacks its last chunk and no longer reads.
    i_ReplaceDescriptor(token);
    if (!ok)
        m_ScriptRefusal = "the host refused to write them";
    return ok;
}

bool CQNF_8BFPluginVirtual::ReadEncryptedScriptParameter(CQNF_Mem* block, uint8_t& showDialog)
{
    if (!block || !i_HasScriptingProcs(false))
        return false;
    DescriptorParameters* d = m_pRecord->descriptorParameters;
    const ReadDescriptorProcs* rp = d->readDescriptorProcs;
    const HandleProcs* hp = m_pRecord->handleProcs;

    DescriptorKey keys[kSingleMaxChunks + 1] = {};
    for (uint32_t i = 0; i < kSingleMaxChunks; ++i)
        keys[i] = SingleKey(i);
    DescriptorReadToken token = rp->openReadDescriptorProc(d->descriptor, keys);
    if (!token)
        return false;
    char text[kSingleMaxText] = {};
    uint32_t lengths[kSingleMaxChunks] = {};
    bool ok = true;
    DescriptorKey key = 0;
    DescriptorType type = 0;
    int32_t flags = 0;
    while (ok && rp->getKeyProc(token, &key, &type, &flags)) {
        if (key < SingleKey(0) || key > SingleKey(kSingleMaxChunks - 1))
            continue;
        FilterHandle h = nullptr;
        if (rp->getTextProc(token, &h) != 0 || !h) {
            ok = false;
            break;
        }
        const int32_t size = hp->getSizeProc(h);
        const char* p = hp->lockProc(h, 0);
        uint32_t index = 0;
        uint32_t characters = 0;
        ok = p && size > 0 && PlaceSingleChunk(p, static_cast<size_t>(size), text, index, characters);
        // The same chunk twice is a damaged descriptor, not a choice to make.
        if (ok && lengths[index] != 0)
            ok = false;
        if (ok)
            lengths[index] = characters;
        hp->unlockProc(h);
        hp->disposeProc(h);
    }
    rp->closeReadDescriptorProc(token);
    if (!ok)
        return false;
    const uint32_t length = SingleTextLength(lengths);
    if (length == 0 || !i_ScriptBlock(text, length, block))
        return false;
    showDialog = d->playInfo == descriptorPlayDisplayDialog ? 1 : 0;
    return true;
}
