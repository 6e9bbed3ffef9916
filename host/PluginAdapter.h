// CQNF_8BFPluginVirtual: the host adapter, the only code that touches the
// host's filter parameter block.
//
// It keeps the pointers of the current host call, builds its picture of the
// host document at Start (the plug-in data record, channel names, ICC copy),
// moves pixels in and out one plane at a time in row bands through the host's
// advanceState, reads the document's layers through the channel-ports suite,
// converts and picks colours, keeps the settings block in the host's
// scripting descriptor and the plug-in's files in the plug-in folder.
//
// Result codes are written through the host's result pointer; every other
// failure is a false return with the reason in the adapter's error number
// (1: a missing argument, parameter block or host facility; 48: an image mode
// or filter case the plug-in does not take). The error number is never shown
// to the user.
//
// The channel-ports suite is acquired on first need within a host call and
// released before that call returns (ReleasePSSuites, called by the entry
// dispatch): the parameter block of a finished call must never be used again,
// so nothing is left to release through it at unload.
//
// Single-threaded: everything runs inside the host's call.
#pragma once

#include "core/Array.h"
#include "core/ErrorManager.h"
#include "core/FSRef.h"
#include "core/Mem.h"
#include "core/String.h"
#include "core/Types.h"
#include "filterapi/FilterApi.h"

#include <cstdint>
#include <functional>

class CQNF_Image;
class CQNF_Storage;

// Error numbers of the host adapter beyond the core's.
namespace qnerr {
inline constexpr unsigned short HostUnsupportedImage = 48;  // same number as ImageUnsupported
}  // namespace qnerr

class CQNF_8BFPluginVirtual : public CQNF_FrameWork {
public:
    // The adapter's picture of the host document, filled at Start.
    struct PLUGINDATA {
        uint8_t colorMode;             // 0 grayscale, 1 RGB, 2 CMYK
        uint8_t depth;                 // bits per channel, always 8
        uint8_t planes;                // colour planes, plus 1 with a transparency plane (the last)
        uint8_t transparencyEditable;  // the plug-in may write the transparency plane
        uint8_t hasTransparency;
        uint8_t hostMask;       // the host hands out a selection mask
        uint8_t withSelection;  // the filter case says a selection exists
        qntRECT_s filterRect;   // right and bottom exclusive
        qntSIZE_s wholeSize;
        qntSIZE_s imageSize;
        qntPOS offset;
        double resolutionH;  // pixels per inch
        double resolutionV;
        uint8_t rulerUnit;  // 0 pixels, 1 inches, 2 cm, 3 mm, 4 per cent
        uint8_t channelNamesPresent;
        uint16_t channelCount;
        uint8_t foreColor[4];  // the host's colours in the image's mode, per plane
        uint8_t backColor[4];
        uint8_t* iccProfile;  // the adapter's copy, or null
        uint32_t iccSize;
        uint8_t layersAvailable;
        qntRECT_s documentRect;  // the work rectangle in document coordinates
    };

    // One entry of the cached layer table (120 bytes).
    struct REALLAYERINFO {
        int32_t id;  // the host's sheet id; -1 for the composite
        int32_t left;  // bounds of the non-transparent pixels, document coordinates;
        int32_t top;   // all -32000 when there are none
        int32_t right;
        int32_t bottom;
        char name[100];
    };

    CQNF_8BFPluginVirtual();
    ~CQNF_8BFPluginVirtual() override;
    CQNF_8BFPluginVirtual(const CQNF_8BFPluginVirtual&) = delete;
    CQNF_8BFPluginVirtual& operator=(const CQNF_8BFPluginVirtual&) = delete;

    // ---- Selector operations ----------------------------------------------
    virtual void DoAbout();
    virtual void DoParameters();
    virtual void DoPrepare();
    virtual void DoStart();
    virtual void DoContinue();
    virtual void DoFinish();

    // ---- The current host call ---------------------------------------------
    void SetHostPointers(FilterRecord* record, intptr_t* data, int16_t* result);
    void SetPluginFolder(const FSRef& folder) { m_Folder = folder; }
    const FSRef& GetPluginFolder() const { return m_Folder; }
    FilterRecord* GetFilterRecord() const { return m_pRecord; }

    void HostSetRetCode_NoError() { HostSetRetCode(0); }
    void HostSetRetCode_Cancel() { HostSetRetCode(userCanceledErr); }
    void HostSetRetCode_MemFull() { HostSetRetCode(memFullErr); }
    void HostSetRetCode_BadParam() { HostSetRetCode(filterBadParameters); }
    void HostSetRetCode(int16_t code);
    int16_t HostGetRetCode() const;

    // inRect, outRect and maskRect := all zero.
    void EmptyRects();
    void Scripting_SetMustShowUI(uint8_t show) { m_bMustShowUI = show; }
    uint8_t Scripting_GetMustShowUI() const { return m_bMustShowUI; }
    uint8_t IsDialogWanted() const { return m_bDialogWanted; }

    // Never configured: no marker, no block. Both return false.
    bool GetDataFromHostParameters();
    bool PutDataToHostParameters();

    // ---- Document picture ------------------------------------------------
    bool FillPluginData();
    PLUGINDATA* GetPluginDataPtr() { return &m_Data; }
    const CQNF_StringArray& GetChannelNames() const { return m_ChannelNames; }

    // ---- Pixels in row bands -----------------------------------------------
    // Plane 255 reads the selection mask.
    bool HostGetChanel(uint8_t plane, qntRECT_s rect, uint8_t* buffer, uint32_t rowBytes);
    // One document channel by absolute index.
    bool HostGetAlphaChanel(uint16_t plane, qntRECT_s rect, uint8_t* buffer, uint32_t rowBytes);
    bool HostPutChanel(uint8_t plane, qntRECT_s rect, const uint8_t* buffer, uint32_t rowBytes);
    bool HostPutChanel(uint8_t plane, qntRECT_s rect, uint8_t value);
    bool HostDoIt();
    uint8_t HostCancel();
    bool HostProgress(uint32_t total, uint32_t done);

    // ---- Layers -------------------------------------------------------------
    bool InitPSSuites();
    // Releases the suite acquired during this host call (end of every call).
    void ReleasePSSuites();
    bool PS_FillRealLayerBounds(qntRECT_s clip, uint8_t force);
    const REALLAYERINFO* GetLayerTable(uint32_t& count) const;
    // The colour channels and transparency of a layer (-1: the composite);
    // null when the host has none.
    void PS_GetLayerChannels(int32_t id, const ChannelDescription*& colour,
                             const ChannelDescription*& transparency) const
    {
        i_LayerChannels(id, colour, transparency);
    }
    // The suite while it is held within this host call; null otherwise.
    const ChannelPortsSuite* GetChannelPortsSuite() const { return m_pPortsSuite; }
    bool PS_GetLayerWithColorConversionIfNeeded(int32_t id, uint8_t** planes, int32_t width, int32_t height,
                                                uint8_t planeCount, qntRECT_s rect);
    bool PS_GetLayer(int32_t id, uint8_t** planes, int32_t width, int32_t height, uint8_t planeCount, qntRECT_s rect);
    qntRECT_s PS_GetLayerBounds(int32_t id);
    bool PS_GetScaledLayerRGB(int32_t id, CQNF_Image* dest, qntRECT_s rect);

    // ---- Colours and services ---------------------------------------------
    bool Fill8ByteColorLineFromRGB(uint8_t line[8]);
    bool SelectColor_RGB(qntRGBA8* colour);
    // The desktop's colour chooser (16 bits a channel; false: cancelled),
    // installed while the plug-in's windows run; a pick without the host's
    // colour services opens it. Null removes it.
    using SystemColorPicker = std::function<bool(uint16_t rgb[3])>;
    static void SetSystemColorPicker(SystemColorPicker picker);
    bool SelectColor_ALL(uint8_t line[8]);
    bool ConvertFilterColorToRGB(const uint8_t colour[4], qntRGBA8* out);
    bool GetForeColor_RGB(qntRGBA8* out);
    bool GetBgColor_RGB(qntRGBA8* out);
    bool ConvertArrayToRGB(uint8_t** in, uint8_t** out, uint32_t n);
    bool ConvertArrayToRGB_Internal(uint8_t** in, uint8_t** out, uint32_t n);
    bool LaunchFile(const char* name);
    bool LaunchURL(const char* url);

    // ---- Scripting descriptor -----------------------------------------------
    bool WriteEncryptedScriptParameter_V2(const uint8_t* data, uint32_t size);
    // Why the last write left the host's descriptor without settings ("they
    // are too large for a descriptor (...)"), or empty: after a write that
    // succeeded, and when the host offers no descriptor at all.
    const std::string& ScriptRefusal() const { return m_ScriptRefusal; }
    bool ReadEncryptedScriptParameter_V2(CQNF_Mem* block, uint8_t& showDialog);
    // Whether the host's descriptor holds settings of ours at all (read or
    // not): a descriptor that does but does not read is damaged.
    bool HasScriptParameters() const;
    // The earlier single-level form (ScriptChunks.h): at most 26 chunks of
    // 250 characters, so blocks of about 3 KB once compressed. Kept so that
    // descriptors in that form can still be read and made.
    bool WriteEncryptedScriptParameter(const uint8_t* data, uint32_t size);
    bool ReadEncryptedScriptParameter(CQNF_Mem* block, uint8_t& showDialog);

    // ---- Files of the plug-in folder -----------------------------------------
    // A file of the folder that leads to a file the run reads (a link to
    // the picture, the skin, another of these) is never written: the
    // configuration storage is then not opened (the run goes on with the
    // defaults, saying so once on standard error), and a whole-file write
    // fails. ConfFile_Refusal says why a whole-file write failed.
    bool ConfStorage_Open(const char* name);
    CQNF_Storage* ConfStorage_GetStorage();
    bool ConfFile_Read(CQNF_Mem* block, const char* name, const char* unused = nullptr);
    bool ConfFile_Write(const void* data, uint32_t size, const char* name, const char* unused = nullptr);
    bool ConfFile_Write(const CQNF_Mem* block, const char* name, const char* unused = nullptr);
    // Why the last whole-file write failed ("cannot write PATH: why"), or
    // empty.
    const std::string& ConfFile_Refusal() const { return m_ConfRefusal; }

protected:
    // Shared procedure of the four band transfers.
    enum class Transfer { Get, GetMask, GetAbsolute, Put, PutValue };
    bool i_Transfer(Transfer kind, int plane, qntRECT_s rect, uint8_t* buffer, const uint8_t* source, uint32_t rowBytes,
                    uint8_t value);
    bool i_WESP_SetText(const char* text, uint32_t length, DescriptorKey key, DescriptorWriteToken token,
                        uint16_t index);
    bool i_WESP_GetText(char* buffer, uint32_t bufferLength, uint32_t chunkSize, DescriptorReadToken token,
                        uint32_t maxChunks);
    bool i_HasScriptingProcs(bool writing) const;
    // Puts prefix + text + 0 as one text value under key.
    bool i_PutChunkText(const char* prefix, uint32_t prefixLength, const char* text, uint32_t length,
                        DescriptorKey key, DescriptorWriteToken token);
    // Compresses data and makes its hexadecimal text of 2 .. maxText
    // characters; on failure the host's descriptor is replaced by an empty
    // one and m_ScriptRefusal says why.
    bool i_ScriptText(const uint8_t* data, uint32_t size, uint32_t maxText, CQNF_Mem& text);
    // Replaces the host's descriptor by an empty one, keeping why.
    void i_RefuseScript(std::string why);
    // Closes the writer and makes what it wrote the host's descriptor.
    void i_ReplaceDescriptor(DescriptorWriteToken token);
    // Decodes the hexadecimal text and decompresses it into block.
    static bool i_ScriptBlock(const char* text, uint32_t length, CQNF_Mem* block);
    // The start of an operation: resets the error number; false, with error
    // 1, when a needed argument or host facility is missing.
    bool i_Require(bool present)
    {
        ResetError();
        if (!present)
            SetError(qnerr::BadArgument);
        return present;
    }
    // Replaces the host's descriptor by an empty one, so a failed write never
    // leaves an older run's settings to be replayed.
    void i_WriteEmptyDescriptor();
    bool i_ConvertColor(int16_t sourceSpace, int16_t resultSpace, int16_t components[4]);
    // One of the record's colours as RGB: as it is in an RGB image, else
    // through the colour services.
    bool i_RecordColorToRGB(const uint8_t colour[4], qntRGBA8* out);
    const LayerDescription* i_FindLayer(int32_t id) const;
    // The colour channels and transparency of a layer (-1: the merged
    // composite); null where there are none.
    void i_LayerChannels(int32_t id, const ChannelDescription*& colour, const ChannelDescription*& transparency) const;
    bool i_ReadLayer(int32_t id, uint8_t** planes, int32_t width, int32_t height, uint8_t planeCount, qntRECT_s rect,
                     bool convert);

    FSRef m_Folder;
    std::string m_ConfRefusal;
    std::string m_ScriptRefusal;
    FilterRecord* m_pRecord = nullptr;
    intptr_t* m_pData = nullptr;
    int16_t* m_pResult = nullptr;
    CQNF_Mem m_memICC;
    PLUGINDATA m_Data{};
    CQNF_StringArray m_ChannelNames;
    CQNF_Storage* m_pConfStorage = nullptr;  // owned
    uint8_t m_bConfOpen = 0;
    uint8_t m_bMustShowUI = 0;
    const ChannelPortsSuite* m_pPortsSuite = nullptr;
    BasicSuite* m_pSuiteOwner = nullptr;  // the provider the suite came from
    CQNF_Mem m_memLayers;
    REALLAYERINFO* m_pLayers = nullptr;
    uint32_t m_nLayers = 0;
    uint8_t m_bDialogWanted = 0;
};
