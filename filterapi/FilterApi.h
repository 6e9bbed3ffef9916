/* The host's filter interface as this project uses it: the parameter block a
 * host hands to a filter plug-in's entry function, the callbacks and procedure
 * tables behind it, the scripting descriptor procedures, the channel-ports
 * suite for layer pixels and the document information with its layers.
 *
 * The plug-in (host/, plugin/) and the stand-in host (hostapp/) both include
 * this header, so its layout is the contract between them. It is plain C so
 * that a host written in C can use it as well.
 *
 * Conventions of the interface:
 * - A procedure that returns an int16_t or int32_t status answers 0 for
 *   success and anything else for failure.
 * - Rectangles in the parameter block are 16-bit (top, left, bottom, right,
 *   bottom and right exclusive); an all-zero rectangle asks for nothing.
 * - Planes are numbered from 0: the colour planes of the image mode, then the
 *   transparency plane when the target has one. CMYK planes hold the host's
 *   plane form, where 255 means no ink.
 * - The host owns every buffer it hands out; a buffer is valid until the
 *   next advanceState call or until the selector call returns.
 */
#ifndef TESSOLO_FILTERAPI_FILTERAPI_H
#define TESSOLO_FILTERAPI_FILTERAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A four-character code, first character most significant. */
#define FILTER_FOURCC(a, b, c, d) \
    (((uint32_t)(uint8_t)(a) << 24) | ((uint32_t)(uint8_t)(b) << 16) | ((uint32_t)(uint8_t)(c) << 8) | (uint32_t)(uint8_t)(d))

/* ---- Selectors and result codes ---------------------------------------- */

enum {
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5
};

enum {
    filterNoErr = 0,
    userCanceledErr = -128,
    memFullErr = -108,
    filterBadParameters = -30100,
    filterBadMode = -30101
};
/* A result above 0: the plug-in has told the user itself why it could not
   run (its windows could not be had), and the host adds no word of its own. */
enum { filterErrorReported = 1 };

/* ---- Image modes and filter cases ---------------------------------------- */

enum {
    filterModeBitmap = 0,
    filterModeGray = 1,
    filterModeIndexed = 2,
    filterModeRGB = 3,
    filterModeCMYK = 4,
    filterModeMultichannel = 7,
    filterModeDuotone = 8,
    filterModeLab = 9
};

enum {
    filterCaseUnsupported = 0, /* the host does not say */
    filterCaseFlatImageNoSelection = 1,
    filterCaseFlatImageWithSelection = 2,
    filterCaseFloatingSelection = 3,
    filterCaseEditableTransparencyNoSelection = 4,
    filterCaseEditableTransparencyWithSelection = 5,
    filterCaseProtectedTransparencyNoSelection = 6,
    filterCaseProtectedTransparencyWithSelection = 7
};

/* The signature of the host family whose filter cases already describe
 * transparency; other hosts may report it through in/outTransparencyMask. */
#define filterHostSigReference FILTER_FOURCC('8', 'B', 'I', 'M')

/* ---- Geometry ---------------------------------------------------------- */

typedef struct FilterRect16 {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
} FilterRect16;

typedef struct FilterRect32 {
    int32_t top;
    int32_t left;
    int32_t bottom;
    int32_t right;
} FilterRect32;

typedef struct FilterPoint {
    int32_t h;
    int32_t v;
} FilterPoint;

/* ---- Handles ------------------------------------------------------------- */

/* A movable block of host memory, reached through the handle procedures. */
typedef struct FilterHandleRec* FilterHandle;

typedef struct HandleProcs {
    int16_t handleProcsVersion;
    int16_t numHandleProcs;
    FilterHandle (*newProc)(int32_t size);              /* null on failure */
    void (*disposeProc)(FilterHandle h);
    int32_t (*getSizeProc)(FilterHandle h);
    int16_t (*setSizeProc)(FilterHandle h, int32_t newSize);
    char* (*lockProc)(FilterHandle h, uint8_t moveHigh); /* null on failure */
    void (*unlockProc)(FilterHandle h);
} HandleProcs;

/* ---- Callbacks ------------------------------------------------------------ */

/* Commits output handed out before and fills the buffers for the request
 * rectangles now set in the parameter block. */
typedef int16_t (*AdvanceStateProc)(void);
/* Non-zero: the user asked to stop. */
typedef uint8_t (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32_t done, int32_t total);
/* Lets the host see events while a plug-in window runs its own loop. */
typedef void (*ProcessEventProc)(void* event);

/* ---- Properties ------------------------------------------------------- */

#define filterPropSignature FILTER_FOURCC('8', 'B', 'I', 'M')
#define filterPropRulerUnits FILTER_FOURCC('r', 'u', 'l', 'r')   /* simple */
#define filterPropNumberOfChannels FILTER_FOURCC('n', 'u', 'c', 'h') /* simple */
#define filterPropChannelName FILTER_FOURCC('n', 'm', 'c', 'h')  /* complex: name bytes, index = channel */

enum {
    filterRulerPixels = 0,
    filterRulerInches = 1,
    filterRulerCm = 2,
    filterRulerMillimeters = 3,
    filterRulerPoints = 4,
    filterRulerPicas = 5,
    filterRulerPercent = 6
};

/* A simple property arrives in *simpleProperty; a complex one as a new handle
 * in *complexProperty that the caller disposes. */
typedef int16_t (*GetPropertyProc)(uint32_t signature, uint32_t key, int32_t index, intptr_t* simpleProperty,
                                   FilterHandle* complexProperty);

/* ---- Colour services ---------------------------------------------------- */

enum {
    colorServicesChooseColor = 0,
    colorServicesConvertColor = 1
};

enum {
    colorSpaceRGB = 0,
    colorSpaceGray = 1,
    colorSpaceCMYK = 2
};

/* components[] holds 8-bit values 0..255 in the order of the space: red,
 * green, blue; gray; or cyan, magenta, yellow, black in the plane form.
 * Choose: sourceSpace and resultSpace say in which space the colour comes and
 * goes; a non-zero answer means the user cancelled. Convert: components are
 * converted from sourceSpace to resultSpace in place. */
typedef struct ColorServicesInfo {
    int32_t infoSize;
    int16_t selector;
    int16_t sourceSpace;
    int16_t resultSpace;
    int16_t components[4];
    const char* prompt; /* choose only; null for none */
} ColorServicesInfo;

typedef int16_t (*ColorServicesProc)(ColorServicesInfo* info);

/* ---- Scripting descriptor ------------------------------------------------ */

typedef uint32_t DescriptorKey;
typedef uint32_t DescriptorType;
typedef struct DescriptorReadRec* DescriptorReadToken;
typedef struct DescriptorWriteRec* DescriptorWriteToken;

#define descriptorTypeInteger FILTER_FOURCC('l', 'o', 'n', 'g')
#define descriptorTypeText FILTER_FOURCC('T', 'E', 'X', 'T')

typedef struct ReadDescriptorProcs {
    int16_t readDescriptorProcsVersion;
    int16_t numReadDescriptorProcs;
    /* keyArray: the keys the reader is interested in, ended by 0; null for all. */
    DescriptorReadToken (*openReadDescriptorProc)(FilterHandle descriptor, const DescriptorKey* keyArray);
    int16_t (*closeReadDescriptorProc)(DescriptorReadToken token);
    /* Non-zero while there is a key; it becomes the current one. */
    uint8_t (*getKeyProc)(DescriptorReadToken token, DescriptorKey* key, DescriptorType* type, int32_t* flags);
    int16_t (*getIntegerProc)(DescriptorReadToken token, int32_t* value);
    /* The text of the current key as a new handle that the caller disposes. */
    int16_t (*getTextProc)(DescriptorReadToken token, FilterHandle* text);
} ReadDescriptorProcs;

typedef struct WriteDescriptorProcs {
    int16_t writeDescriptorProcsVersion;
    int16_t numWriteDescriptorProcs;
    DescriptorWriteToken (*openWriteDescriptorProc)(void);
    /* Ends the writing; *newDescriptor receives a handle of the written
     * descriptor that now belongs to whoever stores it. */
    int16_t (*closeWriteDescriptorProc)(DescriptorWriteToken token, FilterHandle* newDescriptor);
    int16_t (*putIntegerProc)(DescriptorWriteToken token, DescriptorKey key, int32_t value);
    /* The handle stays the caller's; the host copies its bytes. */
    int16_t (*putTextProc)(DescriptorWriteToken token, DescriptorKey key, FilterHandle text);
} WriteDescriptorProcs;

enum {
    descriptorPlayDontDisplay = 0,
    descriptorPlayDisplayDialog = 1
};

enum {
    descriptorRecordSilent = 0,
    descriptorRecordDisplayDialog = 1
};

typedef struct DescriptorParameters {
    int16_t descriptorParametersVersion;
    int16_t playInfo;   /* how the host wants the filter played back */
    int16_t recordInfo; /* how the plug-in wants its run recorded */
    FilterHandle descriptor;
    WriteDescriptorProcs* writeDescriptorProcs;
    ReadDescriptorProcs* readDescriptorProcs;
} DescriptorParameters;

/* ---- Suites and the document's layers ----------------------------------- */

typedef struct BasicSuite {
    int32_t (*AcquireSuite)(const char* name, int32_t version, const void** suite);
    int32_t (*ReleaseSuite)(const char* name, int32_t version);
} BasicSuite;

#define filterChannelPortsSuiteName "Photoshop ChannelPorts Suite for Plug-ins"
#define filterChannelPortsSuiteVersion 2

typedef struct ChannelPortRec* ChannelReadPort;

/* Where read pixels go: rowBits between rows, colBits between pixels, depth
 * bits per pixel (only 8 is served). */
typedef struct PixelMemoryDesc {
    void* data;
    int32_t rowBits;
    int32_t colBits;
    int32_t bitOffset;
    int32_t depth;
} PixelMemoryDesc;

typedef struct ScalingDesc {
    FilterRect32 sourceRect;
    FilterRect32 destinationRect;
} ScalingDesc;

typedef struct ChannelPortsSuite {
    int32_t (*CanRead)(ChannelReadPort port, uint8_t* canRead);
    /* Reads rect (document coordinates) of the channel at the given level (0 =
     * full size) into dest. */
    int32_t (*ReadPixelsFromLevel)(ChannelReadPort port, int32_t level, const FilterRect32* rect,
                                   const PixelMemoryDesc* dest);
    /* Reads scaling->sourceRect scaled onto scaling->destinationRect; destRect
     * is the part of the destination to fill. */
    int32_t (*ReadScaledPixels)(ChannelReadPort port, const FilterRect32* destRect, const ScalingDesc* scaling,
                                const PixelMemoryDesc* dest);
} ChannelPortsSuite;

typedef struct ChannelDescription {
    struct ChannelDescription* next;
    ChannelReadPort port;
    FilterRect32 bounds; /* document coordinates */
    int32_t depth;
    const char* name;
} ChannelDescription;

typedef struct LayerDescription {
    struct LayerDescription* next;
    ChannelDescription* compositeChannelsList; /* colour channels in plane order */
    ChannelDescription* transparency;          /* null for a layer without one */
    int32_t sheetID;
    const char* name;
    uint8_t isPixelBased;
} LayerDescription;

typedef struct DocumentInfo {
    int32_t version; /* 2 and above carry the layer list */
    int32_t depth;
    FilterRect32 bounds;
    ChannelDescription* mergedCompositeChannels;
    ChannelDescription* mergedTransparency;
    ChannelDescription* alphaChannels;
    LayerDescription* layersDescriptor; /* bottom layer first */
} DocumentInfo;

/* ---- The parameter block -------------------------------------------------- */

typedef struct FilterRecord {
    uint32_t hostSig;
    int16_t imageMode;
    int16_t depth; /* bits per channel */
    int16_t filterCase;
    uint8_t haveMask;
    uint8_t supportsAbsolute;
    uint8_t wantsAbsolute;
    uint8_t canUseICCProfiles;

    FilterRect16 filterRect;
    FilterPoint imageSize;
    FilterPoint wholeSize;
    FilterPoint floatCoord;
    int32_t imageHRes; /* 16.16 fixed point, pixels per inch */
    int32_t imageVRes;
    int16_t inTransparencyMask;
    int16_t outTransparencyMask;
    uint8_t foreColor[4]; /* in the image's mode, per plane */
    uint8_t backColor[4];

    int32_t maxSpace;    /* bytes the host can give in one request */
    int32_t bufferSpace; /* bytes the plug-in keeps for itself */

    FilterRect16 inRect;
    int16_t inLoPlane;
    int16_t inHiPlane;
    FilterRect16 outRect;
    int16_t outLoPlane;
    int16_t outHiPlane;
    FilterRect16 maskRect;

    const void* inData;
    int32_t inRowBytes;
    void* outData;
    int32_t outRowBytes;
    const void* maskData;
    int32_t maskRowBytes;

    AdvanceStateProc advanceState;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    ProcessEventProc processEvent;
    GetPropertyProc getPropertyProc;
    ColorServicesProc colorServices;
    HandleProcs* handleProcs;
    DescriptorParameters* descriptorParameters;
    BasicSuite* sSPBasic;
    DocumentInfo* documentInfo;

    FilterHandle parameters;
    FilterHandle iCCprofileData;
    int32_t iCCprofileSize;
} FilterRecord;

/* The plug-in's entry function; the only symbol a plug-in exports. */
typedef void (*FilterEntryProc)(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result);
#define filterEntryName "PluginMain"

#ifdef __cplusplus
}
#endif

#endif
