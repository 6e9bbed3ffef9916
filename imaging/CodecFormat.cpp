#include "imaging/CodecFormat.h"

#include <utility>

#include <cstring>

// ---------------------------------------------------------------- format

bool CQNF_ImageFormat::GetMainImageSize(unsigned short& width, unsigned short& height)
{
    width = m_width;
    height = m_height;
    return true;
}

unsigned char CQNF_ImageFormat::GetImageMode() { return m_mode; }

unsigned char CQNF_ImageFormat::GetImageBPP() { return m_depth; }

CQNF_Mem* CQNF_ImageFormat::GetImageDataMem(signed char index)
{
    if (index < -1 || index > 3)
        return nullptr;
    CQNF_Mem& m = i_Plane(index);
    return m.GetSize() ? &m : nullptr;
}

unsigned char* CQNF_ImageFormat::GetImageDataPtr(signed char index)
{
    CQNF_Mem* m = GetImageDataMem(index);
    return m ? m->GetPtr() : nullptr;
}

CQNF_String CQNF_ImageFormat::GetComments() { return m_comments; }

CQNF_String CQNF_ImageFormat::GetEXIF() { return m_exif; }

bool CQNF_ImageFormat::i_Report(uint8_t percent)
{
    if (!m_progress)
        return true;
    m_progress->Progress(percent, m_progress->GetUserDataPtr());
    return !m_progress->IsCanceled();
}

bool CQNF_ImageFormat::i_CheckThenReport(uint8_t percent)
{
    if (!m_progress)
        return true;
    if (m_progress->IsCanceled())
        return false;
    m_progress->Progress(percent, m_progress->GetUserDataPtr());
    return true;
}

void CQNF_ImageFormat::i_FreePlanes()
{
    for (auto& m : m_data)
        m.free();
}

bool CQNF_ImageFormat::i_WithinLimits(uint64_t width, uint64_t height, uint64_t bytes)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width == 0 || height == 0)
        return i_Damaged("it describes a picture of " + size);
    const uint64_t side = m_limits.maxSide < 65535 ? m_limits.maxSide : 65535;
    if (width > side || height > side) {
        m_overLimits = true;
        return i_Refuse(size + ", more than the " + std::to_string(side) + " pixels a side this program reads");
    }
    if (bytes > m_limits.maxBytes) {
        m_overLimits = true;
        return i_Refuse(size + ", which take " + std::to_string((bytes + (1 << 20) - 1) >> 20) +
                        " MiB to decode, more than the " + std::to_string(m_limits.maxBytes >> 20) +
                        " MiB one picture may take");
    }
    return true;
}

bool CQNF_ImageFormat::i_Truncated(const std::string& where)
{
    m_reason = where.empty() ? "truncated" : "truncated: " + where;
    SetError(qncodec::ErrCorrupt);
    return false;
}

bool CQNF_ImageFormat::i_Damaged(const std::string& what)
{
    m_reason = "damaged: " + what;
    SetError(qncodec::ErrCorrupt);
    return false;
}

bool CQNF_ImageFormat::i_Refuse(std::string reason)
{
    m_reason = std::move(reason);
    SetError(qncodec::ErrUnsupported);
    return false;
}

// ---------------------------------------------------------------- reader

bool CQNF_ImageReader::GetImageInfoByPtr(const void*, size_t) { return false; }

bool CQNF_ImageReader::ParseImageByPtr(const void*, size_t) { return false; }

bool CQNF_ImageReader::GetImageInfoByMem(CQNF_Mem& block)
{
    return GetImageInfoByPtr(block.GetPtr(), block.GetSize());
}

bool CQNF_ImageReader::ParseImageByMem(CQNF_Mem& block) { return ParseImageByPtr(block.GetPtr(), block.GetSize()); }

bool CQNF_ImageReader::GetImageInfoLocal() { return GetImageInfoByMem(m_local); }

bool CQNF_ImageReader::ParseImageLocal() { return ParseImageByMem(m_local); }

bool CQNF_ImageReader::GetImageInfoByFile(CQNF_StdFile& file)
{
    if (!i_LoadFile(file))
        return false;
    return GetImageInfoLocal();
}

bool CQNF_ImageReader::ParseImageByFile(CQNF_StdFile& file)
{
    if (!i_LoadFile(file))
        return false;
    return ParseImageLocal();
}

bool CQNF_ImageReader::i_LoadFile(CQNF_StdFile& file)
{
    m_local.free();
    i_Begin();
    const long long length = file.GetLength();
    if (length <= 0 || length >= 0xFFFFFFFFLL) {
        // An empty file is not an image of any format; a file whose length
        // cannot be had keeps the file's own reason.
        SetError(file.GetError() ? file.GetError() : qncodec::ErrCorrupt);
        return false;
    }
    uint64_t most = static_cast<uint64_t>(length);
    if (!JudgeHeader(file, static_cast<uint64_t>(length), most))
        return false;
    if (static_cast<uint64_t>(length) > most)
        return i_Refuse("the file has " + std::to_string(length) +
                        " bytes, more than the picture it describes can need (" + std::to_string(most) + ")");
    if (!m_local.alloc(static_cast<uint64_t>(length))) {
        SetError(m_local.GetError());
        return false;
    }
    if (file.SetPos(0) != 0) {
        SetError(file.GetError() ? file.GetError() : qnerr::FileSeek);
        m_local.free();
        return false;
    }
    // A short read is not an error for the file, but a partial copy would
    // be decoded as if the rest were there: read until all of it is in.
    uint64_t done = 0;
    while (done < static_cast<uint64_t>(length)) {
        const long long got = file.Read(m_local.GetPtr() + done, static_cast<uint32_t>(length - done));
        if (got <= 0) {
            SetError(file.GetError() ? file.GetError() : qnerr::FileRead);
            m_local.free();
            return false;
        }
        done += static_cast<uint64_t>(got);
    }
    return true;
}

bool CQNF_ImageReader::JudgeHeader(CQNF_StdFile&, uint64_t, uint64_t&) { return true; }

bool CQNF_ImageReader::ReadHeaderBytes(CQNF_StdFile&, uint64_t) { return false; }

bool CQNF_ImageReader::i_ReadOpening(CQNF_StdFile& file, uint64_t size)
{
    m_local.free();
    if (size == 0 || !m_local.alloc(size) || file.SetPos(0) != 0)
        return false;
    uint64_t done = 0;
    while (done < size) {
        const long long got = file.Read(m_local.GetPtr() + done, static_cast<uint32_t>(size - done));
        if (got <= 0) {
            m_local.free();
            return false;
        }
        done += static_cast<uint64_t>(got);
    }
    return true;
}

bool CQNF_ImageReader::GetImageInfoByFileHead(CQNF_StdFile& file)
{
    m_local.free();
    i_Begin();
    const long long length = file.GetLength();
    if (length <= 0 || length >= 0xFFFFFFFFLL)
        return GetImageInfoByFile(file);  // which names the cause
    uint64_t most = static_cast<uint64_t>(length);
    if (!JudgeHeader(file, static_cast<uint64_t>(length), most))
        return false;
    if (static_cast<uint64_t>(length) > most || !ReadHeaderBytes(file, static_cast<uint64_t>(length)))
        return GetImageInfoByFile(file);
    m_headerOnly = true;
    const bool ok = GetImageInfoLocal();
    m_headerOnly = false;
    return ok;
}

// ---------------------------------------------------------------- writer

bool CQNF_ImageWriter::Create(CQNF_StdFile& file)
{
    if (!file.IsOpened() || !file.IsAllowToWrite()) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    m_file = &file;
    return true;
}

void CQNF_ImageWriter::WriteClean() {}

uint32_t CQNF_ImageWriter::Write_SetPos(uint32_t position)
{
    if (!m_file)
        return 0xFFFFFFFF;
    const long long now = m_file->GetPos();
    if (now < 0 || now >= 0xFFFFFFFFLL)
        return 0xFFFFFFFF;
    if (position != qncodec::CurrentPos && m_file->SetPos(position) < 0)
        return 0xFFFFFFFF;
    return static_cast<uint32_t>(now);
}

bool CQNF_ImageWriter::Write_Buffer(const unsigned char* data, size_t size, uint32_t position)
{
    if (!m_file)
        return false;
    uint32_t back = qncodec::CurrentPos;
    if (position != qncodec::CurrentPos) {
        back = Write_SetPos(position);
        if (back == 0xFFFFFFFF) {
            SetError(m_file->GetError() ? m_file->GetError() : qnerr::FileSeek);
            return false;
        }
    }
    bool ok = true;
    size_t done = 0;
    while (done < size) {
        const size_t chunk = size - done > 0x40000000 ? 0x40000000 : size - done;
        const long long put = m_file->Write(const_cast<unsigned char*>(data) + done, static_cast<uint32_t>(chunk));
        if (put <= 0 || static_cast<size_t>(put) != chunk) {
            SetError(m_file->GetError() ? m_file->GetError() : qnerr::FileWrite);
            ok = false;
            break;
        }
        done += chunk;
    }
    if (back != qncodec::CurrentPos && m_file->SetPos(back) < 0) {
        if (ok)
            SetError(m_file->GetError() ? m_file->GetError() : qnerr::FileSeek);
        ok = false;
    }
    return ok;
}

bool CQNF_ImageWriter::Write_Flush()
{
    if (!m_file)
        return false;
    if (!m_file->Flush()) {
        SetError(m_file->GetError() ? m_file->GetError() : qnerr::FileWrite);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- placeholder

void CQNF_PostScriptGenerator::Clean()
{
    m_text = "";
    for (double& v : m_values)
        v = 0.0;
}

bool CQNF_PostScriptGenerator::EPS_AddPath(qntFPOS*, qntFPOS*, unsigned long) { return true; }
bool CQNF_PostScriptGenerator::EPS_GetData(CQNF_String*) { return true; }
bool CQNF_PostScriptGenerator::AI_AddPath(qntFPOS*, qntFPOS*, unsigned long) { return true; }
bool CQNF_PostScriptGenerator::AI_GetData(CQNF_String*) { return true; }
