// The host's side of the filter plug-in interface, as far as this plug-in uses it.
//
// The host hands the plug-in plain C records with procedure pointers in them. These
// declarations follow the host's published interface: the same names, the same field order
// and the 32-bit Windows layout (4-byte pointers, natural alignment, every member at most
// 4-byte aligned). Fields that the plug-in never touches keep their place as opaque pointers
// or integers so that every field after them lies where the host puts it. The static_asserts
// at the end pin the offsets that the plug-in reads or writes.
//
// Every procedure of the host uses the C calling convention on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hostapi_detail
{
constexpr uint32_t FourCC(const char (&s)[5])
{
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
        uint32_t(uint8_t(s[3]));
}
}  // namespace hostapi_detail

// Four-character codes as the host compares them: the first character in the high byte.
#define HPX_FOURCC(s) (::hostapi_detail::FourCC(s))

extern "C"
{
    // ---- basic types ------------------------------------------------------------------------------

    typedef int16_t OSErr;
    typedef uint32_t OSType;
    typedef uint32_t ResType;
    typedef uint32_t DescType;
    typedef int32_t Fixed;          // 16.16 fixed point
    typedef unsigned char Boolean;  // 0 or 1
    typedef char* Ptr;
    typedef char** Handle;  // opaque to the plug-in: reached only through HandleProcs

    typedef struct Point
    {
        int16_t v;
        int16_t h;
    } Point;
    typedef struct Rect
    {
        int16_t top;
        int16_t left;
        int16_t bottom;
        int16_t right;
    } Rect;
    typedef struct VPoint
    {
        int32_t v;
        int32_t h;
    } VPoint;
    typedef struct VRect
    {
        int32_t top;
        int32_t left;
        int32_t bottom;
        int32_t right;
    } VRect;
    typedef struct RGBColor
    {
        uint16_t red;
        uint16_t green;
        uint16_t blue;
    } RGBColor;
    typedef unsigned char FilterColor[4];

    // The window the host wants dialogs owned by (FilterRecord.platformData, AboutRecord.platformData).
    typedef struct PlatformData
    {
        intptr_t hwnd;
    } PlatformData;

    // 10 Fixed values describing the host's monitor.
    typedef struct PlugInMonitor
    {
        Fixed gamma;
        Fixed redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY;
        Fixed ambient;
    } PlugInMonitor;

    // ---- handle procedures --------------------------------------------------------------------------

    typedef Handle (*NewPIHandleProc)(int32_t size);
    typedef void (*DisposePIHandleProc)(Handle h);
    typedef int32_t (*GetPIHandleSizeProc)(Handle h);
    typedef OSErr (*SetPIHandleSizeProc)(Handle h, int32_t newSize);
    typedef Ptr (*LockPIHandleProc)(Handle h, Boolean moveHigh);
    typedef void (*UnlockPIHandleProc)(Handle h);
    typedef void (*RecoverSpaceProc)(int32_t size);
    typedef void (*DisposeRegularHandlePIHandleProc)(Handle h);

    typedef struct HandleProcs
    {
        int16_t handleProcsVersion;
        int16_t numHandleProcs;
        NewPIHandleProc newProc;
        DisposePIHandleProc disposeProc;
        GetPIHandleSizeProc getSizeProc;
        SetPIHandleSizeProc setSizeProc;
        LockPIHandleProc lockProc;
        UnlockPIHandleProc unlockProc;
        RecoverSpaceProc recoverSpaceProc;
        DisposeRegularHandlePIHandleProc disposeRegularHandleProc;
    } HandleProcs;

    // ---- property procedures ------------------------------------------------------------------------

    typedef OSErr (*GetPropertyProc)(OSType signature, OSType key, int32_t index, intptr_t* simpleProperty,
                                     Handle* complexProperty);
    typedef OSErr (*SetPropertyProc)(OSType signature, OSType key, int32_t index, intptr_t simpleProperty,
                                     Handle complexProperty);

    typedef struct PropertyProcs
    {
        int16_t propertyProcsVersion;
        int16_t numPropertyProcs;
        GetPropertyProc getPropertyProc;
        SetPropertyProc setPropertyProc;
    } PropertyProcs;

    // ---- descriptor (scripting) parameters ----------------------------------------------------------

    typedef uint32_t DescriptorKeyID;
    typedef uint32_t DescriptorTypeID;
    typedef uint32_t DescriptorUnitID;
    typedef uint32_t DescriptorEnumID;
    typedef uint32_t DescriptorEnumTypeID;
    typedef uint32_t DescriptorClassID;
    typedef DescriptorKeyID DescriptorKeyIDArray[];  // ends with 0
    typedef Handle PIDescriptorHandle;
    typedef struct PIOpaqueReadDescriptor* PIReadDescriptor;
    typedef struct PIOpaqueWriteDescriptor* PIWriteDescriptor;

    typedef PIReadDescriptor (*OpenReadDescriptorProc)(PIDescriptorHandle descriptor, DescriptorKeyIDArray keys);
    typedef OSErr (*CloseReadDescriptorProc)(PIReadDescriptor token);
    typedef Boolean (*GetKeyProc)(PIReadDescriptor token, DescriptorKeyID* key, DescType* type, int32_t* flags);
    typedef OSErr (*GetIntegerProc)(PIReadDescriptor token, int32_t* value);
    typedef OSErr (*GetFloatProc)(PIReadDescriptor token, double* value);
    typedef OSErr (*GetUnitFloatProc)(PIReadDescriptor token, DescriptorUnitID* unit, double* value);
    typedef OSErr (*GetBooleanProc)(PIReadDescriptor token, Boolean* value);
    typedef OSErr (*GetEnumeratedProc)(PIReadDescriptor token, DescriptorEnumID* value);

    typedef struct ReadDescriptorProcs
    {
        int16_t readDescriptorProcsVersion;
        int16_t numReadDescriptorProcs;
        OpenReadDescriptorProc openReadDescriptorProc;
        CloseReadDescriptorProc closeReadDescriptorProc;
        GetKeyProc getKeyProc;
        GetIntegerProc getIntegerProc;
        GetFloatProc getFloatProc;
        GetUnitFloatProc getUnitFloatProc;
        GetBooleanProc getBooleanProc;
        void* getTextProc;
        void* getAliasProc;
        GetEnumeratedProc getEnumeratedProc;
        void* getClassProc;
        void* getSimpleReferenceProc;
        void* getObjectProc;
        void* getCountProc;
        void* getStringProc;
        void* getPinnedIntegerProc;
        void* getPinnedFloatProc;
        void* getPinnedUnitFloatProc;
    } ReadDescriptorProcs;

    typedef PIWriteDescriptor (*OpenWriteDescriptorProc)(void);
    typedef OSErr (*CloseWriteDescriptorProc)(PIWriteDescriptor token, PIDescriptorHandle* newDescriptor);
    typedef OSErr (*PutIntegerProc)(PIWriteDescriptor token, DescriptorKeyID key, int32_t value);
    typedef OSErr (*PutFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, const double* value);
    typedef OSErr (*PutUnitFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit,
                                      const double* value);
    typedef OSErr (*PutBooleanProc)(PIWriteDescriptor token, DescriptorKeyID key, Boolean value);
    typedef OSErr (*PutEnumeratedProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                       DescriptorEnumID value);

    typedef struct WriteDescriptorProcs
    {
        int16_t writeDescriptorProcsVersion;
        int16_t numWriteDescriptorProcs;
        OpenWriteDescriptorProc openWriteDescriptorProc;
        CloseWriteDescriptorProc closeWriteDescriptorProc;
        PutIntegerProc putIntegerProc;
        PutFloatProc putFloatProc;
        PutUnitFloatProc putUnitFloatProc;
        PutBooleanProc putBooleanProc;
        void* putTextProc;
        void* putAliasProc;
        PutEnumeratedProc putEnumeratedProc;
        void* putClassProc;
        void* putSimpleReferenceProc;
        void* putObjectProc;
        void* putCountProc;
        void* putStringProc;
        void* putScopedClassProc;
        void* putScopedObjectProc;
    } WriteDescriptorProcs;

    typedef struct PIDescriptorParameters
    {
        int16_t descriptorParametersVersion;
        int16_t playInfo;    // PIDialogPlayOptions
        int16_t recordInfo;  // PIDialogRecordOptions
        PIDescriptorHandle descriptor;
        WriteDescriptorProcs* writeDescriptorProcs;
        ReadDescriptorProcs* readDescriptorProcs;
    } PIDescriptorParameters;

    // ---- the basic suite ----------------------------------------------------------------------------

    typedef int32_t SPErr;
    typedef int32_t SPBoolean;

    typedef struct SPBasicSuite
    {
        SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
        SPErr (*ReleaseSuite)(const char* name, int32_t version);
        SPBoolean (*IsEqual)(const char* token1, const char* token2);
        SPErr (*AllocateBlock)(size_t size, void** block);
        SPErr (*FreeBlock)(void* block);
        SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newBlock);
        SPErr (*Undefined)(void);
    } SPBasicSuite;

    // ---- the action descriptor and descriptor registry suites --------------------------------------

    typedef struct PIOpaqueActionDescriptor* PIActionDescriptor;

    typedef struct PSActionDescriptorProcs
    {
        SPErr (*Make)(PIActionDescriptor* descriptor);
        SPErr (*Free)(PIActionDescriptor descriptor);
        void* GetType;
        void* GetKey;
        void* HasKey;
        void* GetCount;
        void* IsEqual;
        void* Erase;
        void* Clear;
        void* PutInteger;
        void* PutFloat;
        SPErr (*PutUnitFloat)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorUnitID unit, double value);
        void* PutString;
        SPErr (*PutBoolean)(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean value);
        void* PutList;
        void* PutObject;
        void* PutGlobalObject;
        SPErr (*PutEnumerated)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorEnumTypeID type,
                               DescriptorEnumID value);
        void* PutReference;
        void* PutClass;
        void* PutGlobalClass;
        void* PutAlias;
        void* GetInteger;
        void* GetFloat;
        SPErr (*GetUnitFloat)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorUnitID* unit,
                              double* value);
        void* GetStringLength;
        void* GetString;
        SPErr (*GetBoolean)(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean* value);
        void* GetList;
        void* GetObject;
        void* GetGlobalObject;
        SPErr (*GetEnumerated)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorEnumTypeID* type,
                               DescriptorEnumID* value);
        void* GetReference;
        void* GetClass;
        void* GetGlobalClass;
        void* GetAlias;
    } PSActionDescriptorProcs;

    typedef struct PSDescriptorRegistryProcs
    {
        SPErr (*Register)(const char* key, PIActionDescriptor descriptor, Boolean isPersistent);
        SPErr (*Erase)(const char* key);
        SPErr (*Get)(const char* key, PIActionDescriptor* descriptor);
    } PSDescriptorRegistryProcs;

    // The file-list suite: the plug-in uses only its URL browsing (the About box's web buttons).
    typedef struct PSGetFileListSuite4
    {
        void* GetFileHandleList;
        void* GetBrowserNameList;
        SPErr (*BrowseUrlWithIndexBrowser)(uint32_t index, const char* url);
        SPErr (*BrowseUrl)(const char* url);
    } PSGetFileListSuite4;

    // ---- the filter's records -----------------------------------------------------------------------

    typedef OSErr (*AdvanceStateProc)(void);

    // The 32-bit coordinates of documents larger than the 16-bit fields can describe.
    typedef struct BigDocumentStruct
    {
        int32_t PluginUsing32BitCoordinates;
        VPoint imageSize32;
        VRect filterRect32;
        VRect inRect32;
        VRect outRect32;
        VRect maskRect32;
        VPoint floatCoord32;
        VPoint wholeSize32;
    } BigDocumentStruct;

    // The record of the about selector.
    typedef struct AboutRecord
    {
        void* platformData;  // PlatformData*
        SPBasicSuite* sSPBasic;
        void* plugInRef;
        char reserved[244];
    } AboutRecord;

    // The record of every other selector.
    typedef struct FilterRecord
    {
        int32_t serialNumber;
        void* abortProc;
        void* progressProc;
        Handle parameters;
        Point imageSize;
        int16_t planes;
        Rect filterRect;
        RGBColor background;
        RGBColor foreground;
        int32_t maxSpace;
        int32_t bufferSpace;
        Rect inRect;
        int16_t inLoPlane;
        int16_t inHiPlane;
        Rect outRect;
        int16_t outLoPlane;
        int16_t outHiPlane;
        void* inData;
        int32_t inRowBytes;
        void* outData;
        int32_t outRowBytes;
        Boolean isFloating;
        Boolean haveMask;
        Boolean autoMask;
        Rect maskRect;
        void* maskData;
        int32_t maskRowBytes;
        FilterColor backColor;
        FilterColor foreColor;
        OSType hostSig;
        void* hostProc;
        int16_t imageMode;
        Fixed imageHRes;
        Fixed imageVRes;
        Point floatCoord;
        Point wholeSize;
        PlugInMonitor monitor;
        void* platformData;  // PlatformData*
        void* bufferProcs;
        void* resourceProcs;
        void* processEvent;
        void* displayPixels;
        HandleProcs* handleProcs;
        Boolean supportsDummyChannels;
        Boolean supportsAlternateLayouts;
        int16_t wantLayout;
        int16_t filterCase;
        int16_t dummyPlaneValue;
        void* premiereHook;
        AdvanceStateProc advanceState;
        Boolean supportsAbsolute;
        Boolean wantsAbsolute;
        void* getPropertyObsolete;
        Boolean cannotUndo;
        Boolean supportsPadding;
        int16_t inputPadding;
        int16_t outputPadding;
        int16_t maskPadding;
        char samplingSupport;
        char reservedByte;
        Fixed inputRate;
        Fixed maskRate;
        void* colorServices;
        int16_t inLayerPlanes;
        int16_t inTransparencyMask;
        int16_t inLayerMasks;
        int16_t inInvertedLayerMasks;
        int16_t inNonLayerPlanes;
        int16_t outLayerPlanes;
        int16_t outTransparencyMask;
        int16_t outLayerMasks;
        int16_t outInvertedLayerMasks;
        int16_t outNonLayerPlanes;
        int16_t absLayerPlanes;
        int16_t absTransparencyMask;
        int16_t absLayerMasks;
        int16_t absInvertedLayerMasks;
        int16_t absNonLayerPlanes;
        int16_t inPreDummyPlanes;
        int16_t inPostDummyPlanes;
        int16_t outPreDummyPlanes;
        int16_t outPostDummyPlanes;
        int32_t inColumnBytes;
        int32_t inPlaneBytes;
        int32_t outColumnBytes;
        int32_t outPlaneBytes;
        void* imageServicesProcs;
        PropertyProcs* propertyProcs;
        int16_t inTileHeight;
        int16_t inTileWidth;
        Point inTileOrigin;
        int16_t absTileHeight;
        int16_t absTileWidth;
        Point absTileOrigin;
        int16_t outTileHeight;
        int16_t outTileWidth;
        Point outTileOrigin;
        int16_t maskTileHeight;
        int16_t maskTileWidth;
        Point maskTileOrigin;
        PIDescriptorParameters* descriptorParameters;
        void* errorString;
        void* channelPortProcs;
        void* documentInfo;
        SPBasicSuite* sSPBasic;
        void* plugInRef;
        int32_t depth;
        Handle iCCprofileData;
        int32_t iCCprofileSize;
        int32_t canUseICCProfiles;
        int32_t hasImageScrap;
        BigDocumentStruct* bigDocumentData;
        char reserved[64];  // later fields of newer hosts: never read here
    } FilterRecord;

    typedef FilterRecord* FilterRecordPtr;

}  // extern "C"

// ---- constants ----------------------------------------------------------------------------------

// Selectors.
enum : int16_t
{
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5
};

// Results.
enum : int16_t
{
    noErr = 0,
    readErr = -19,
    memFullErr = -108,
    userCanceledErr = -128,
    errMissingParameter = -1715,
    filterBadParameters = -30100,
    errPlugInHostInsufficient = -30900
};

// PIDescriptorParameters.playInfo and .recordInfo.
enum : int16_t
{
    plugInDialogDontDisplay = 0,
    plugInDialogDisplay = 1,
    plugInDialogSilent = 2
};
enum : int16_t
{
    plugInDialogOptional = 0,
    plugInDialogRequired = 1,
    plugInDialogNone = 2
};

// Signatures, keys, types and units.
constexpr OSType kPhotoshopSignature = HPX_FOURCC("8BIM");
constexpr OSType propEXIFData = HPX_FOURCC("EXIF");
constexpr OSType kParmError = HPX_FOURCC("Parm");
constexpr DescriptorKeyID keyAmount = HPX_FOURCC("Amnt");
constexpr DescriptorKeyID keyDisposition = HPX_FOURCC("disP");
constexpr DescriptorKeyID keyIgnoreSelection = HPX_FOURCC("ignS");
constexpr DescriptorTypeID typeMood = HPX_FOURCC("mooD");
constexpr DescriptorUnitID unitPercent = HPX_FOURCC("#Prc");
constexpr DescriptorTypeID typeUnitFloat = HPX_FOURCC("UntF");
constexpr DescriptorTypeID typeEnumerated = HPX_FOURCC("enum");
constexpr DescriptorTypeID typeBoolean = HPX_FOURCC("bool");
constexpr DescriptorEnumID enumMood0 = HPX_FOURCC("moD0");
constexpr DescriptorEnumID enumMood1 = HPX_FOURCC("moD1");
constexpr DescriptorEnumID enumMood2 = HPX_FOURCC("moD2");
constexpr DescriptorEnumID enumMood3 = HPX_FOURCC("moD3");

// Suite names and the versions the plug-in asks for.
#define kPSActionDescriptorSuite "df135115-c769-11d0-8079-00c04fd7ec47"
#define kPSActionDescriptorSuiteVersion 3
#define kPSDescriptorRegistrySuite "61e608b0-40fd-11d1-8da3-00c04fd5f7ee"
#define kPSDescriptorRegistrySuiteVersion 1
#define kPSGetFileListSuite "Photoshop GetFileList Suite for Plug-ins"
#define kPSGetFileListSuiteVersion 4

// Fixed-point one (inputRate, maskRate).
constexpr Fixed kFixedOne = 0x10000;

// ---- layout checks (32-bit Windows) -------------------------------------------------------------

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(Point) == 4 && sizeof(Rect) == 8 && sizeof(VRect) == 16, "geometry records");
static_assert(sizeof(RGBColor) == 6 && sizeof(PlugInMonitor) == 40, "colour records");
static_assert(offsetof(HandleProcs, newProc) == 4 && offsetof(HandleProcs, disposeProc) == 8 &&
                  offsetof(HandleProcs, lockProc) == 20 && offsetof(HandleProcs, unlockProc) == 24 &&
                  sizeof(HandleProcs) == 36,
              "HandleProcs");
static_assert(offsetof(PropertyProcs, getPropertyProc) == 4, "PropertyProcs");
static_assert(offsetof(PIDescriptorParameters, playInfo) == 2 && offsetof(PIDescriptorParameters, recordInfo) == 4 &&
                  offsetof(PIDescriptorParameters, descriptor) == 8 &&
                  offsetof(PIDescriptorParameters, writeDescriptorProcs) == 12 &&
                  offsetof(PIDescriptorParameters, readDescriptorProcs) == 16,
              "PIDescriptorParameters");
static_assert(offsetof(ReadDescriptorProcs, openReadDescriptorProc) == 4 &&
                  offsetof(ReadDescriptorProcs, closeReadDescriptorProc) == 8 &&
                  offsetof(ReadDescriptorProcs, getKeyProc) == 12 &&
                  offsetof(ReadDescriptorProcs, getUnitFloatProc) == 24 &&
                  offsetof(ReadDescriptorProcs, getBooleanProc) == 28 &&
                  offsetof(ReadDescriptorProcs, getEnumeratedProc) == 40,
              "ReadDescriptorProcs");
static_assert(offsetof(WriteDescriptorProcs, openWriteDescriptorProc) == 4 &&
                  offsetof(WriteDescriptorProcs, closeWriteDescriptorProc) == 8 &&
                  offsetof(WriteDescriptorProcs, putUnitFloatProc) == 20 &&
                  offsetof(WriteDescriptorProcs, putBooleanProc) == 24 &&
                  offsetof(WriteDescriptorProcs, putEnumeratedProc) == 36,
              "WriteDescriptorProcs");
static_assert(sizeof(SPBasicSuite) == 28 && offsetof(SPBasicSuite, ReleaseSuite) == 4, "SPBasicSuite");
static_assert(offsetof(PSActionDescriptorProcs, PutUnitFloat) == 44 &&
                  offsetof(PSActionDescriptorProcs, PutBoolean) == 52 &&
                  offsetof(PSActionDescriptorProcs, PutEnumerated) == 68 &&
                  offsetof(PSActionDescriptorProcs, GetUnitFloat) == 96 &&
                  offsetof(PSActionDescriptorProcs, GetBoolean) == 108 &&
                  offsetof(PSActionDescriptorProcs, GetEnumerated) == 124,
              "PSActionDescriptorProcs");
static_assert(offsetof(PSDescriptorRegistryProcs, Get) == 8, "PSDescriptorRegistryProcs");
static_assert(offsetof(PSGetFileListSuite4, BrowseUrl) == 12, "PSGetFileListSuite4");
static_assert(offsetof(BigDocumentStruct, imageSize32) == 4 && offsetof(BigDocumentStruct, filterRect32) == 12 &&
                  offsetof(BigDocumentStruct, inRect32) == 28 && offsetof(BigDocumentStruct, outRect32) == 44 &&
                  offsetof(BigDocumentStruct, maskRect32) == 60 && sizeof(BigDocumentStruct) == 92,
              "BigDocumentStruct");
static_assert(offsetof(AboutRecord, sSPBasic) == 4 && sizeof(AboutRecord) == 256, "AboutRecord");
static_assert(offsetof(FilterRecord, parameters) == 12 && offsetof(FilterRecord, imageSize) == 16 &&
                  offsetof(FilterRecord, planes) == 20 && offsetof(FilterRecord, filterRect) == 22 &&
                  offsetof(FilterRecord, maxSpace) == 44 && offsetof(FilterRecord, bufferSpace) == 48 &&
                  offsetof(FilterRecord, inRect) == 52 && offsetof(FilterRecord, inLoPlane) == 60 &&
                  offsetof(FilterRecord, inHiPlane) == 62 && offsetof(FilterRecord, outRect) == 64 &&
                  offsetof(FilterRecord, outLoPlane) == 72 && offsetof(FilterRecord, outHiPlane) == 74 &&
                  offsetof(FilterRecord, inData) == 76 && offsetof(FilterRecord, inRowBytes) == 80 &&
                  offsetof(FilterRecord, outData) == 84 && offsetof(FilterRecord, outRowBytes) == 88 &&
                  offsetof(FilterRecord, maskRect) == 96 && offsetof(FilterRecord, maskData) == 104 &&
                  offsetof(FilterRecord, platformData) == 188 && offsetof(FilterRecord, handleProcs) == 208,
              "FilterRecord up to handleProcs");
static_assert(offsetof(FilterRecord, advanceState) == 224 && offsetof(FilterRecord, inputRate) == 248 &&
                  offsetof(FilterRecord, maskRate) == 252 && offsetof(FilterRecord, propertyProcs) == 320 &&
                  offsetof(FilterRecord, descriptorParameters) == 356 && offsetof(FilterRecord, sSPBasic) == 372 &&
                  offsetof(FilterRecord, depth) == 380 && offsetof(FilterRecord, bigDocumentData) == 400,
              "FilterRecord from advanceState on");
#endif
