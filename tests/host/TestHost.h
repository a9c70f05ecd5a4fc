// A small host of the filter plug-in interface, used by the test host program and by the
// tests: it loads a .8bf, reads its property list, fills a FilterRecord from a document and
// calls the selectors in a host's order, serving advanceState, handles, properties, scripting
// descriptors and the basic suite (with the descriptor registry and action descriptor suites).
//
// The host's procedures are plain C function pointers without a context argument, so one
// TestHost is "current" while it calls into the plug-in. Everything runs on one thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/HostInterface.h"

namespace hpxhost
{

class ScriptedUser;

// ---- documents ----------------------------------------------------------------------------------

// A document as the host holds it: interleaved planes (R, G, B [, A] or grey [, A]), rows top to
// bottom; 8-bit samples, or 16-bit samples from 0 to 32768.
struct HostDocument
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t planes = 0;
    int32_t depth = 8;  // 8 or 16
    std::vector<uint8_t> pixels;

    int32_t BytesPerSample() const { return depth == 8 ? 1 : 2; }
    int32_t RowBytes() const { return width * planes * BytesPerSample(); }
    uint32_t Get(int32_t x, int32_t y, int32_t plane) const;
    void Set(int32_t x, int32_t y, int32_t plane, uint32_t value);
    bool operator==(const HostDocument& o) const
    {
        return width == o.width && height == o.height && planes == o.planes && depth == o.depth && pixels == o.pixels;
    }
    bool operator!=(const HostDocument& o) const { return !(*this == o); }
};

HostDocument MakeDocument(int32_t width, int32_t height, int32_t planes, int32_t depth);
// A deterministic picture with gradients and noise; 16-bit samples cover 0..32768 (both ends
// included somewhere in every plane).
HostDocument MakeGeneratedDocument(int32_t width, int32_t height, int32_t planes, int32_t depth, uint32_t seed);
// Image files through FreeImage: grey, RGB and RGBA at 8 or 16 bits (other files are converted
// to 8-bit RGB). 16-bit file samples are scaled to the host's 0..32768 and back.
// The file's EXIF block (TIFF layout, as a host keeps it for its 'EXIF' property) goes to *exif
// when asked for and present.
bool LoadDocumentFromFile(const std::wstring& path, HostDocument* doc, std::string* error,
                          std::vector<uint8_t>* exif = nullptr);
bool SaveDocumentToFile(const std::wstring& path, const HostDocument& doc, std::string* error);

// ---- descriptors --------------------------------------------------------------------------------

struct DescriptorItem
{
    DescriptorKeyID key;
    DescType type;          // typeUnitFloat, typeEnumerated, typeBoolean, or 'long'
    DescriptorUnitID unit;  // unit of a unit float
    double number;          // unit float or integer value
    DescriptorEnumTypeID enumType;
    DescriptorEnumID enumValue;
    uint8_t flag;  // boolean
};
using Descriptor = std::vector<DescriptorItem>;

DescriptorItem UnitFloatItem(DescriptorKeyID key, DescriptorUnitID unit, double value);
DescriptorItem EnumItem(DescriptorKeyID key, DescriptorEnumTypeID type, DescriptorEnumID value);
DescriptorItem BoolItem(DescriptorKeyID key, bool value);
DescriptorItem IntegerItem(DescriptorKeyID key, int32_t value);
// Null when the key is absent.
const DescriptorItem* FindItem(const Descriptor& d, DescriptorKeyID key);

// ---- the plug-in's property list ----------------------------------------------------------------

struct PiplProperty
{
    uint32_t vendor = 0;
    uint32_t key = 0;
    int32_t id = 0;
    std::vector<uint8_t> data;  // as stored, with its padding
};

struct Pipl
{
    std::vector<uint8_t> bytes;
    std::vector<PiplProperty> properties;
    const PiplProperty* Find(uint32_t key) const;
};

// Reads and parses "PIPL" 16000; false with a reason when it is missing or malformed.
bool ReadPipl(HMODULE module, Pipl* pipl, std::string* error);

// ---- the host -----------------------------------------------------------------------------------

struct HostOptions
{
    bool bigDocument = true;         // offer bigDocumentData (32-bit coordinates)
    bool mask = false;               // the document has a selection mask (maskData)
    VRect selection = {0, 0, 0, 0};  // filterRect; empty = whole image
    int32_t maxSpace = 0x40000000;
    int32_t rowPadding = 0;  // extra bytes at the end of every inData/outData row

    bool basicSuite = true;     // sSPBasic present
    bool serveSuites = true;    // the basic suite serves the registry and descriptor suites
    bool serveFileList = true;  // ... and the file-list suite (URL browsing)
    bool descriptorParameters = true;
    bool readDescriptorProcs = true;
    bool writeDescriptorProcs = true;
    bool refuseWriteToken = false;  // openWriteDescriptorProc returns null
    int16_t playInfo = plugInDialogDisplay;

    bool failNewHandle = false;                     // newProc returns null
    bool failLock = false;                          // lockProc returns null
    int failAdvanceStateCall = -1;                  // index (0-based, per run of a selector) of a failing call
    OSErr advanceStateError = filterBadParameters;  // the error it returns

    std::vector<uint8_t> exif;         // served for '8BIM' 'EXIF' when not empty
    bool aboutPressWebButton = false;  // the About box: press button 4 before closing
    bool passWindow = true;            // platformData names the host's window (else none)
};

// One advanceState request as the plug-in made it.
struct AdvanceRequest
{
    bool used32 = false;
    VRect inRect = {0, 0, 0, 0};
    VRect outRect = {0, 0, 0, 0};
    int16_t inLoPlane = 0, inHiPlane = 0, outLoPlane = 0, outHiPlane = 0;
    Fixed inputRate = 0, maskRate = 0;
    OSErr result = 0;
};

struct RunReport
{
    std::vector<std::pair<int16_t, OSErr>> calls;  // selector, result
    bool ok = false;
    std::string Describe() const;
};

class TestHost
{
public:
    TestHost();
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    bool Load(const std::wstring& pluginPath, std::string* error);
    void Unload();
    // Drives an entry point linked into this program instead of a loaded module.
    using PluginEntry = void (*)(int16_t, FilterRecord*, intptr_t*, int16_t*);
    void UseEntry(PluginEntry entry);
    HMODULE Module() const { return m_hModule; }

    HostOptions options;
    // Who uses the plug-in's window while the start selector runs it. Without one, a user that
    // closes the window as soon as it appears stands in.
    ScriptedUser* user = nullptr;
    // The document the filter reads; the output starts as its copy and takes what the plug-in
    // writes. SetDocument resets the output.
    void SetDocument(const HostDocument& doc);
    const HostDocument& Document() const { return m_input; }
    const HostDocument& Output() const { return m_output; }
    // The document as the host's output buffers will be filled (it may differ from the input).
    HostDocument& OutputForWriting() { return m_output; }
    // The output becomes the input (the document after a run, for a repeat run).
    void AcceptOutput() { m_input = m_output; }

    // One selector with a fresh result word; the record is (re)filled from the options first.
    OSErr Call(int16_t selector);
    // The about selector: the About box is closed by the host after it was seen.
    OSErr About();
    // parameters (when asked), prepare, start, continue until the rectangles are empty, finish.
    // Stops at the first failing selector, as a host does.
    RunReport RunFilter(bool withParameters);

    // Observations.
    FilterRecord& Record() { return m_record; }
    PIDescriptorParameters& DescriptorParams() { return m_descParams; }
    BigDocumentStruct& BigDocument() { return m_bigDoc; }
    intptr_t DataSlot() const { return m_dataSlot; }
    std::vector<AdvanceRequest> advanceRequests;  // of the last selector call
    std::map<std::string, Descriptor> registry;   // the descriptor registry
    std::map<std::string, int> suitesHeld;        // acquired minus released, per suite name
    int acquireRefusals = 0;
    std::vector<std::string> browsedUrls;
    std::string aboutText;  // text of the About box's control 3
    bool aboutSeen = false;
    int liveActionDescriptors = 0;
    int openReadTokens = 0;
    int openWriteTokens = 0;
    std::vector<std::string> protocolErrors;  // misuse of the host's procedures

    // The recorded descriptor (descriptorParameters.descriptor) decoded; empty when none.
    Descriptor RecordedDescriptor() const;
    // Replaces the recorded descriptor (as a host playing an action does).
    void SetRecordedDescriptor(const Descriptor& d);
    void ClearRecordedDescriptor();
    // Bytes of the parameters handle (FilterRecord.parameters); empty when there is none.
    std::vector<uint8_t> ParameterBytes() const;
    void SetParameterBytes(const std::vector<uint8_t>& bytes);
    // Bytes of the data handle in the data slot.
    std::vector<uint8_t> DataBytes() const;
    int LiveHandles() const;
    int LockedHandles() const;

    // Host-side handle helpers (also used by the procedures).
    Handle NewHandle(int32_t size);
    void DisposeHandle(Handle h);

    // Internals used by the C procedures.
    static TestHost* Current();
    OSErr AdvanceState();
    OSErr GetProperty(OSType signature, OSType key, int32_t index, intptr_t* simple, Handle* complex);
    SPErr AcquireSuite(const char* name, int32_t version, const void** suite);
    SPErr ReleaseSuite(const char* name, int32_t version);
    HWND Window() const { return m_hWnd; }

    // Puts what the plug-in wrote into outData into the output document (the host does this at
    // the next advanceState and when a selector returns).
    void CommitOutput();

private:
    void FillRecord();
    bool CurrentRects(VRect* in, VRect* out) const;

    HMODULE m_hModule = nullptr;
    void (*m_pEntry)(int16_t, void*, intptr_t*, int16_t*) = nullptr;
    HWND m_hWnd = nullptr;
    PlatformData m_platform = {};
    FilterRecord m_record = {};
    AboutRecord m_about = {};
    BigDocumentStruct m_bigDoc = {};
    PIDescriptorParameters m_descParams = {};
    intptr_t m_dataSlot = 0;
    int m_advanceCalls = 0;

    HostDocument m_input;
    HostDocument m_output;
    std::vector<uint8_t> m_inBuffer;
    std::vector<uint8_t> m_outBuffer;
    std::vector<uint8_t> m_maskBuffer;
    bool m_outPending = false;
    AdvanceRequest m_pendingOut;
};

// Starts GDI+ once per process, as image editors do (the plug-in relies on it).
void StartGdiplus();
// Converts a Unix path (as the build passes them) to a Wine path; Windows paths pass unchanged.
std::wstring HostPath(const std::string& path);
// The built plug-in in the dist folder.
std::wstring DistPlugin();

}  // namespace hpxhost
