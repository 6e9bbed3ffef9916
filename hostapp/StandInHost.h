// The stand-in host: an image editor in miniature that runs a filter plug-in
// through the filter interface of filterapi/FilterApi.h.
//
// It fills the parameter block from a HostDocument, answers every callback
// (pixel requests in row bands, progress, abort, colours, properties, handles,
// scripting descriptors, the channel-ports suite for layer pixels), runs the
// selector sequence of a real host and applies the result through the
// selection. It checks what a strict host would and records every breach as
// a violation: requests outside the image or above the space it offered,
// writes to protected transparency, unknown or leaked handles, descriptor
// tokens left open, suites still held after a selector returned.
//
// The interface's procedures carry no context, so one host at a time is the
// current one: the host whose Call is running (or ran last).
#pragma once

#include "core/Progress.h"
#include "filterapi/FilterApi.h"
#include "hostapp/HostDescriptor.h"
#include "hostapp/HostDocument.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hostapp {

struct HostSettings {
    uint32_t hostSig = FILTER_FOURCC('Q', 'N', 'S', 'H');
    std::optional<int> imageMode;   // the mode number sent instead of the document's
    int depth = 8;                  // bits per channel sent
    std::optional<int> filterCase;  // the filter case sent instead of the derived one
    bool protectTransparency = false;
    int32_t maxSpace = 8 << 20;
    int rowPad = 0;           // extra bytes at the end of every row handed out
    bool strictSpace = true;  // refuse requests above maxSpace
    int32_t maxText = -1;     // longest text value accepted, -1 for any
    long abortAfter = -1;     // abortProc answers 1 from this call on (1-based)
    int16_t playInfo = descriptorPlayDontDisplay;
    bool pickCancels = true;  // the colour picker's answer
    uint8_t pick[3] = {0, 0, 0};
    bool offerAdvanceState = true;
    bool offerAbort = true;
    bool offerProgress = true;
    bool offerColorServices = true;
    bool offerProperties = true;
    bool offerHandles = true;
    bool offerDescriptors = true;
    bool offerSuites = true;
    bool offerDocumentInfo = true;
};

// One pixel request the plug-in made.
struct PixelRequest {
    char kind;  // 'i' input, 'o' output, 'm' mask
    FilterRect16 rect;
    int lo;
    int hi;
    bool absolute;
};

class StandInHost {
public:
    enum class Sequence {
        Replay,  // Prepare, Start, Finish
        Dialog,  // Parameters, Prepare, Start, Finish
        About
    };

    StandInHost(HostDocument document, HostSettings settings);
    ~StandInHost();
    StandInHost(const StandInHost&) = delete;
    StandInHost& operator=(const StandInHost&) = delete;

    // The scripting descriptor handed to the plug-in; empty bytes for none.
    void SetDescriptor(const std::vector<uint8_t>& bytes);
    bool HasDescriptor() const { return !m_descriptorBytes.empty(); }
    const std::vector<uint8_t>& DescriptorBytes() const { return m_descriptorBytes; }
    int16_t RecordInfo() const { return m_recordInfo; }
    // Told every progress report of the plug-in, in per cent (not owned;
    // null for none).
    void SetProgressListener(CQNF_Progress* listener) { m_progressListener = listener; }

    // Runs one selector with the current parameter block and returns the
    // plug-in's result. Output handed out is committed to the working copy of
    // the target layer.
    int16_t Call(FilterEntryProc entry, int16_t selector);
    // Runs the selector sequence of a real host and stops at the first
    // non-zero result. On success the working copy is applied to the target
    // layer through the selection; otherwise the document stays untouched.
    int16_t Run(FilterEntryProc entry, Sequence sequence);

    const HostDocument& Document() const { return m_doc; }
    HostDocument& Document() { return m_doc; }
    FilterRecord& Record() { return m_record; }
    const HostSettings& Settings() const { return m_settings; }

    const std::vector<std::string>& Violations() const { return m_violations; }
    // Handles the plug-in allocated or received and never disposed.
    size_t LeakedHandles() const;
    // Acquisitions of a suite minus releases.
    int HeldSuites() const { return m_suitesHeld; }

    // What the plug-in did, for tests and the verbose log.
    const std::vector<PixelRequest>& Requests() const { return m_requests; }
    const std::vector<int32_t>& ProgressDone() const { return m_progressDone; }
    long AbortCalls() const { return m_abortCalls; }
    // Whether the abort test ever answered yes: a cancel the host asked for.
    bool AbortAnswered() const { return m_settings.abortAfter >= 1 && m_abortCalls >= m_settings.abortAfter; }
    long AdvanceCalls() const { return m_advanceCalls; }
    long ProcessEvents() const { return m_processEvents; }
    long SuiteReads() const { return m_suiteReads; }

    // Host handles, for tests that play the plug-in's part.
    FilterHandle NewHandle(const void* bytes, size_t size);
    std::vector<uint8_t> HandleBytes(FilterHandle h) const;

    // The current host, for the procedures of the interface.
    static StandInHost* Current();

private:
    struct HandleRec;
    struct PortRec;
    struct ReadToken;
    struct WriteToken;
    struct PendingOutput {
        FilterRect16 rect{};
        int lo = 0;
        int hi = 0;
        std::unique_ptr<uint8_t[]> buffer;
        int32_t rowBytes = 0;
    };

    void Violation(const std::string& what);
    void BuildRecord();
    void BuildDocumentInfo();
    // The rect's pixels of count planes into buffer rows of rowBytes, side
    // by side, the padding filled with a pattern.
    void FillRows(const uint8_t* const* planes, int count, const FilterRect16& rect, uint8_t* buffer,
                  size_t rowBytes) const;
    void CheckAfterCall();
    void ApplyResult();
    void CommitPending();

    // Plane access: relative planes of the target, or absolute document channels.
    int PlaneCount(bool absolute) const;
    const std::vector<uint8_t>* InputPlane(int plane, bool absolute) const;

    // Procedures of the interface, reached through Current().
    static int16_t AdvanceState();
    static uint8_t TestAbort();
    static void UpdateProgress(int32_t done, int32_t total);
    static void ProcessEvent(void* event);
    static int16_t GetProperty(uint32_t signature, uint32_t key, int32_t index, intptr_t* simple, FilterHandle* complex);
    static int16_t ColorServices(ColorServicesInfo* info);
    static FilterHandle HandleNew(int32_t size);
    static void HandleDispose(FilterHandle h);
    static int32_t HandleGetSize(FilterHandle h);
    static int16_t HandleSetSize(FilterHandle h, int32_t size);
    static char* HandleLock(FilterHandle h, uint8_t moveHigh);
    static void HandleUnlock(FilterHandle h);
    static DescriptorReadToken OpenRead(FilterHandle descriptor, const DescriptorKey* keys);
    static int16_t CloseRead(DescriptorReadToken token);
    static uint8_t GetKey(DescriptorReadToken token, DescriptorKey* key, DescriptorType* type, int32_t* flags);
    static int16_t GetInteger(DescriptorReadToken token, int32_t* value);
    static int16_t GetText(DescriptorReadToken token, FilterHandle* text);
    static DescriptorWriteToken OpenWrite();
    static int16_t CloseWrite(DescriptorWriteToken token, FilterHandle* descriptor);
    static int16_t PutInteger(DescriptorWriteToken token, DescriptorKey key, int32_t value);
    static int16_t PutText(DescriptorWriteToken token, DescriptorKey key, FilterHandle text);
    static int32_t AcquireSuite(const char* name, int32_t version, const void** suite);
    static int32_t ReleaseSuite(const char* name, int32_t version);
    static int32_t PortCanRead(ChannelReadPort port, uint8_t* canRead);
    static int32_t PortRead(ChannelReadPort port, int32_t level, const FilterRect32* rect, const PixelMemoryDesc* dest);
    static int32_t PortReadScaled(ChannelReadPort port, const FilterRect32* destRect, const ScalingDesc* scaling,
                                  const PixelMemoryDesc* dest);

    int16_t DoAdvanceState();
    HandleRec* FindHandle(FilterHandle h, const char* what);
    PortRec* FindPort(ChannelReadPort port);
    // The item a read token read last, when it has the type; else null.
    const DescriptorItem* LastReadItem(DescriptorReadToken token, DescriptorType type);
    // An open write token; null for an unknown one.
    WriteToken* FindWriteToken(DescriptorWriteToken token);
    bool CheckPixelDesc(const PixelMemoryDesc* dest, int32_t width, int32_t height);

    HostDocument m_doc;
    HostSettings m_settings;
    // The target before the run: it changes only when the run's result is
    // applied at the end.
    const RasterImage& Original() const { return m_doc.Target().pixels; }
    RasterImage m_working;   // the target as the plug-in wrote it
    RasterImage m_composite; // merged channels for the suite
    FilterRecord m_record{};
    HandleProcs m_handleProcs{};
    DescriptorParameters m_descParams{};
    ReadDescriptorProcs m_readProcs{};
    WriteDescriptorProcs m_writeProcs{};
    BasicSuite m_basicSuite{};
    ChannelPortsSuite m_portsSuite{};
    DocumentInfo m_docInfo{};
    std::deque<ChannelDescription> m_channelDescs;
    std::deque<LayerDescription> m_layerDescs;
    std::deque<PortRec> m_ports;
    std::deque<std::string> m_names;

    std::map<HandleRec*, std::unique_ptr<HandleRec>> m_handles;
    std::map<ReadToken*, std::unique_ptr<ReadToken>> m_readTokens;
    std::map<WriteToken*, std::unique_ptr<WriteToken>> m_writeTokens;
    std::vector<uint8_t> m_descriptorBytes;
    FilterHandle m_iccHandle = nullptr;
    int16_t m_recordInfo = 0;

    std::unique_ptr<uint8_t[]> m_inBuffer;
    std::unique_ptr<uint8_t[]> m_maskBuffer;
    PendingOutput m_pending;

    std::vector<std::string> m_violations;
    std::vector<PixelRequest> m_requests;
    std::vector<int32_t> m_progressDone;
    long m_abortCalls = 0;
    long m_advanceCalls = 0;
    long m_processEvents = 0;
    long m_suiteReads = 0;
    int m_suitesHeld = 0;
    CQNF_Progress* m_progressListener = nullptr;
};

}  // namespace hostapp
