// The test host's procedures and its run of the selectors.
#include "tests/host/TestHost.h"
#include "tests/host/ScriptedUser.h"

#include <gdiplus.h>

#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace hpxhost
{

namespace
{

TestHost* g_pCurrent = nullptr;

constexpr OSErr errPlugInPropertyUndefined = -30901;
constexpr OSErr paramErr = -50;
constexpr SPErr kSPSuiteNotFoundError = SPErr(HPX_FOURCC("S!Fd"));
constexpr SPErr kSPBadParameterError = SPErr(HPX_FOURCC("Parm"));
constexpr DescType typeInteger = HPX_FOURCC("long");

// ---- handles ------------------------------------------------------------------------------------

// A handle is a pointer to the block pointer, which is the first member of this record.
struct HostHandle
{
    char* data;
    int32_t size;
    int32_t locks;
    uint32_t magic;
};
constexpr uint32_t kHandleMagic = 0x48505848;  // "HPXH"
std::set<HostHandle*> g_Handles;

HostHandle* FromHandle(Handle h)
{
    auto* hh = reinterpret_cast<HostHandle*>(h);
    if (!hh || !g_Handles.count(hh) || hh->magic != kHandleMagic) return nullptr;
    return hh;
}

void ProtocolError(const std::string& what)
{
    if (g_pCurrent) g_pCurrent->protocolErrors.push_back(what);
}

Handle HostNewHandle(int32_t size)
{
    TestHost* host = TestHost::Current();
    if (host && host->options.failNewHandle) return nullptr;
    try
    {
        return host ? host->NewHandle(size) : nullptr;
    }
    catch (...)
    {
        return nullptr;
    }
}

void HostDisposeHandle(Handle h)
{
    if (TestHost* host = TestHost::Current()) host->DisposeHandle(h);
}

int32_t HostGetHandleSize(Handle h)
{
    HostHandle* hh = FromHandle(h);
    return hh ? hh->size : 0;
}

OSErr HostSetHandleSize(Handle h, int32_t size)
{
    HostHandle* hh = FromHandle(h);
    if (!hh || size < 0) return paramErr;
    if (hh->locks > 0) return -117;  // memLockedErr
    char* p = static_cast<char*>(std::realloc(hh->data, size_t(size) + 1));
    if (!p) return memFullErr;
    if (size > hh->size) std::memset(p + hh->size, 0, size_t(size - hh->size));
    hh->data = p;
    hh->size = size;
    return noErr;
}

Ptr HostLockHandle(Handle h, Boolean)
{
    TestHost* host = TestHost::Current();
    if (host && host->options.failLock) return nullptr;
    HostHandle* hh = FromHandle(h);
    if (!hh)
    {
        ProtocolError("lock of an unknown handle");
        return nullptr;
    }
    ++hh->locks;
    return hh->data;
}

void HostUnlockHandle(Handle h)
{
    HostHandle* hh = FromHandle(h);
    if (!hh)
    {
        ProtocolError("unlock of an unknown handle");
        return;
    }
    if (hh->locks <= 0)
    {
        ProtocolError("unlock of a handle that is not locked");
        return;
    }
    --hh->locks;
}

void HostRecoverSpace(int32_t) {}

HandleProcs g_HandleProcs = {2,
                             8,
                             HostNewHandle,
                             HostDisposeHandle,
                             HostGetHandleSize,
                             HostSetHandleSize,
                             HostLockHandle,
                             HostUnlockHandle,
                             HostRecoverSpace,
                             HostDisposeHandle};

// ---- descriptors in handles ---------------------------------------------------------------------

Descriptor DecodeDescriptor(Handle h)
{
    Descriptor d;
    HostHandle* hh = FromHandle(h);
    if (!hh) return d;
    const size_t n = size_t(hh->size) / sizeof(DescriptorItem);
    d.resize(n);
    if (n) std::memcpy(d.data(), hh->data, n * sizeof(DescriptorItem));
    return d;
}

Handle EncodeDescriptor(const Descriptor& d)
{
    TestHost* host = TestHost::Current();
    if (!host) return nullptr;
    Handle h = host->NewHandle(int32_t(d.size() * sizeof(DescriptorItem)));
    if (h && !d.empty()) std::memcpy(*h, d.data(), d.size() * sizeof(DescriptorItem));
    return h;
}

struct ReadToken
{
    Descriptor items;
    size_t next = 0;
    const DescriptorItem* current = nullptr;
    std::vector<DescriptorKeyID> required;
    std::set<DescriptorKeyID> read;
};

struct WriteToken
{
    Descriptor items;
};

PIReadDescriptor OpenRead(PIDescriptorHandle h, DescriptorKeyIDArray keys)
{
    if (!FromHandle(h))
    {
        ProtocolError("read descriptor opened on an unknown handle");
        return nullptr;
    }
    auto* t = new ReadToken;
    t->items = DecodeDescriptor(h);
    for (int i = 0; keys && keys[i]; ++i) t->required.push_back(keys[i]);
    if (g_pCurrent) ++g_pCurrent->openReadTokens;
    return reinterpret_cast<PIReadDescriptor>(t);
}

OSErr CloseRead(PIReadDescriptor token)
{
    auto* t = reinterpret_cast<ReadToken*>(token);
    if (!t) return paramErr;
    OSErr err = noErr;
    for (DescriptorKeyID k : t->required)
        if (!t->read.count(k)) err = errMissingParameter;
    delete t;
    if (g_pCurrent) --g_pCurrent->openReadTokens;
    return err;
}

Boolean GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescType* type, int32_t* flags)
{
    auto* t = reinterpret_cast<ReadToken*>(token);
    if (!t || t->next >= t->items.size()) return 0;
    t->current = &t->items[t->next++];
    if (key) *key = t->current->key;
    if (type) *type = t->current->type;
    if (flags) *flags = 0;
    return 1;
}

const DescriptorItem* CurrentItem(PIReadDescriptor token, DescType type)
{
    auto* t = reinterpret_cast<ReadToken*>(token);
    if (!t || !t->current || t->current->type != type) return nullptr;
    t->read.insert(t->current->key);
    return t->current;
}

OSErr GetUnitFloat(PIReadDescriptor token, DescriptorUnitID* unit, double* value)
{
    const DescriptorItem* item = CurrentItem(token, typeUnitFloat);
    if (!item) return paramErr;
    if (unit) *unit = item->unit;
    if (value) *value = item->number;
    return noErr;
}

OSErr GetEnumerated(PIReadDescriptor token, DescriptorEnumID* value)
{
    const DescriptorItem* item = CurrentItem(token, typeEnumerated);
    if (!item) return paramErr;
    if (value) *value = item->enumValue;
    return noErr;
}

OSErr GetBoolean(PIReadDescriptor token, Boolean* value)
{
    const DescriptorItem* item = CurrentItem(token, typeBoolean);
    if (!item) return paramErr;
    if (value) *value = item->flag;
    return noErr;
}

OSErr GetInteger(PIReadDescriptor token, int32_t* value)
{
    const DescriptorItem* item = CurrentItem(token, typeInteger);
    if (!item) return paramErr;
    if (value) *value = int32_t(item->number);
    return noErr;
}

PIWriteDescriptor OpenWrite()
{
    if (g_pCurrent && g_pCurrent->options.refuseWriteToken) return nullptr;
    if (g_pCurrent) ++g_pCurrent->openWriteTokens;
    return reinterpret_cast<PIWriteDescriptor>(new WriteToken);
}

OSErr CloseWrite(PIWriteDescriptor token, PIDescriptorHandle* h)
{
    auto* t = reinterpret_cast<WriteToken*>(token);
    if (!t) return paramErr;
    if (h) *h = EncodeDescriptor(t->items);
    delete t;
    if (g_pCurrent) --g_pCurrent->openWriteTokens;
    return noErr;
}

OSErr PutUnitFloat(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit, const double* value)
{
    auto* t = reinterpret_cast<WriteToken*>(token);
    if (!t || !value) return paramErr;
    t->items.push_back(UnitFloatItem(key, unit, *value));
    return noErr;
}

OSErr PutEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type, DescriptorEnumID value)
{
    auto* t = reinterpret_cast<WriteToken*>(token);
    if (!t) return paramErr;
    t->items.push_back(EnumItem(key, type, value));
    return noErr;
}

OSErr PutBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean value)
{
    auto* t = reinterpret_cast<WriteToken*>(token);
    if (!t) return paramErr;
    t->items.push_back(BoolItem(key, value != 0));
    return noErr;
}

OSErr PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value)
{
    auto* t = reinterpret_cast<WriteToken*>(token);
    if (!t) return paramErr;
    t->items.push_back(IntegerItem(key, value));
    return noErr;
}

ReadDescriptorProcs g_ReadProcs = {};
WriteDescriptorProcs g_WriteProcs = {};

void InitDescriptorProcs()
{
    g_ReadProcs.readDescriptorProcsVersion = 0;
    g_ReadProcs.numReadDescriptorProcs = 18;
    g_ReadProcs.openReadDescriptorProc = OpenRead;
    g_ReadProcs.closeReadDescriptorProc = CloseRead;
    g_ReadProcs.getKeyProc = GetKey;
    g_ReadProcs.getIntegerProc = GetInteger;
    g_ReadProcs.getUnitFloatProc = GetUnitFloat;
    g_ReadProcs.getBooleanProc = GetBoolean;
    g_ReadProcs.getEnumeratedProc = GetEnumerated;
    g_WriteProcs.writeDescriptorProcsVersion = 0;
    g_WriteProcs.numWriteDescriptorProcs = 16;
    g_WriteProcs.openWriteDescriptorProc = OpenWrite;
    g_WriteProcs.closeWriteDescriptorProc = CloseWrite;
    g_WriteProcs.putIntegerProc = PutInteger;
    g_WriteProcs.putUnitFloatProc = PutUnitFloat;
    g_WriteProcs.putBooleanProc = PutBoolean;
    g_WriteProcs.putEnumeratedProc = PutEnumerated;
}

// ---- the action descriptor and registry suites --------------------------------------------------

struct ActionDescriptor
{
    uint32_t magic = 0x48505844;  // "HPXD"
    Descriptor items;
};
std::set<ActionDescriptor*> g_ActionDescriptors;

ActionDescriptor* FromAction(PIActionDescriptor d)
{
    auto* a = reinterpret_cast<ActionDescriptor*>(d);
    return (a && g_ActionDescriptors.count(a)) ? a : nullptr;
}

PIActionDescriptor NewAction(const Descriptor& items)
{
    auto* a = new ActionDescriptor;
    a->items = items;
    g_ActionDescriptors.insert(a);
    if (g_pCurrent) ++g_pCurrent->liveActionDescriptors;
    return reinterpret_cast<PIActionDescriptor>(a);
}

SPErr AdMake(PIActionDescriptor* d)
{
    if (!d) return kSPBadParameterError;
    *d = NewAction(Descriptor());
    return 0;
}

SPErr AdFree(PIActionDescriptor d)
{
    ActionDescriptor* a = FromAction(d);
    if (!a)
    {
        ProtocolError("free of an unknown action descriptor");
        return kSPBadParameterError;
    }
    g_ActionDescriptors.erase(a);
    delete a;
    if (g_pCurrent) --g_pCurrent->liveActionDescriptors;
    return 0;
}

void PutItem(ActionDescriptor* a, const DescriptorItem& item)
{
    for (DescriptorItem& i : a->items)
        if (i.key == item.key)
        {
            i = item;
            return;
        }
    a->items.push_back(item);
}

SPErr AdPutUnitFloat(PIActionDescriptor d, DescriptorKeyID key, DescriptorUnitID unit, double value)
{
    ActionDescriptor* a = FromAction(d);
    if (!a) return kSPBadParameterError;
    PutItem(a, UnitFloatItem(key, unit, value));
    return 0;
}

SPErr AdPutBoolean(PIActionDescriptor d, DescriptorKeyID key, Boolean value)
{
    ActionDescriptor* a = FromAction(d);
    if (!a) return kSPBadParameterError;
    PutItem(a, BoolItem(key, value != 0));
    return 0;
}

SPErr AdPutEnumerated(PIActionDescriptor d, DescriptorKeyID key, DescriptorEnumTypeID type, DescriptorEnumID value)
{
    ActionDescriptor* a = FromAction(d);
    if (!a) return kSPBadParameterError;
    PutItem(a, EnumItem(key, type, value));
    return 0;
}

SPErr AdGetUnitFloat(PIActionDescriptor d, DescriptorKeyID key, DescriptorUnitID* unit, double* value)
{
    ActionDescriptor* a = FromAction(d);
    if (!a) return kSPBadParameterError;
    const DescriptorItem* i = FindItem(a->items, key);
    if (!i || i->type != typeUnitFloat) return errMissingParameter;
    if (unit) *unit = i->unit;
    if (value) *value = i->number;
    return 0;
}

SPErr AdGetBoolean(PIActionDescriptor d, DescriptorKeyID key, Boolean* value)
{
    ActionDescriptor* a = FromAction(d);
    if (!a) return kSPBadParameterError;
    const DescriptorItem* i = FindItem(a->items, key);
    if (!i || i->type != typeBoolean) return errMissingParameter;
    if (value) *value = i->flag;
    return 0;
}

SPErr AdGetEnumerated(PIActionDescriptor d, DescriptorKeyID key, DescriptorEnumTypeID* type, DescriptorEnumID* value)
{
    ActionDescriptor* a = FromAction(d);
    if (!a) return kSPBadParameterError;
    const DescriptorItem* i = FindItem(a->items, key);
    if (!i || i->type != typeEnumerated) return errMissingParameter;
    if (type) *type = i->enumType;
    if (value) *value = i->enumValue;
    return 0;
}

PSActionDescriptorProcs g_ActionProcs = {};

SPErr RegRegister(const char* key, PIActionDescriptor d, Boolean)
{
    ActionDescriptor* a = FromAction(d);
    if (!a || !key || !g_pCurrent) return kSPBadParameterError;
    g_pCurrent->registry[key] = a->items;
    return 0;
}

SPErr RegErase(const char* key)
{
    if (!key || !g_pCurrent) return kSPBadParameterError;
    g_pCurrent->registry.erase(key);
    return 0;
}

SPErr RegGet(const char* key, PIActionDescriptor* d)
{
    if (!key || !d || !g_pCurrent) return kSPBadParameterError;
    auto it = g_pCurrent->registry.find(key);
    *d = (it == g_pCurrent->registry.end()) ? nullptr : NewAction(it->second);
    return 0;
}

PSDescriptorRegistryProcs g_RegistryProcs = {RegRegister, RegErase, RegGet};

SPErr BrowseUrl(const char* url)
{
    if (g_pCurrent && url) g_pCurrent->browsedUrls.push_back(url);
    return 0;
}

SPErr BrowseUrlWithIndex(uint32_t, const char* url) { return BrowseUrl(url); }

PSGetFileListSuite4 g_FileListSuite = {nullptr, nullptr, BrowseUrlWithIndex, BrowseUrl};

void InitSuites()
{
    g_ActionProcs.Make = AdMake;
    g_ActionProcs.Free = AdFree;
    g_ActionProcs.PutUnitFloat = AdPutUnitFloat;
    g_ActionProcs.PutBoolean = AdPutBoolean;
    g_ActionProcs.PutEnumerated = AdPutEnumerated;
    g_ActionProcs.GetUnitFloat = AdGetUnitFloat;
    g_ActionProcs.GetBoolean = AdGetBoolean;
    g_ActionProcs.GetEnumerated = AdGetEnumerated;
}

// ---- the basic suite ----------------------------------------------------------------------------

SPErr BasicAcquire(const char* name, int32_t version, const void** suite)
{
    TestHost* host = TestHost::Current();
    if (!host) return kSPBadParameterError;
    return host->AcquireSuite(name, version, suite);
}

SPErr BasicRelease(const char* name, int32_t version)
{
    TestHost* host = TestHost::Current();
    if (!host) return kSPBadParameterError;
    return host->ReleaseSuite(name, version);
}

SPBoolean BasicIsEqual(const char* a, const char* b) { return (a && b && std::strcmp(a, b) == 0) ? 1 : 0; }

SPErr BasicAllocate(size_t size, void** block)
{
    if (!block) return kSPBadParameterError;
    *block = std::malloc(size ? size : 1);
    return *block ? 0 : SPErr(HPX_FOURCC("!MEM"));
}

SPErr BasicFree(void* block)
{
    std::free(block);
    return 0;
}

SPErr BasicReallocate(void* block, size_t size, void** newBlock)
{
    if (!newBlock) return kSPBadParameterError;
    *newBlock = std::realloc(block, size ? size : 1);
    return *newBlock ? 0 : SPErr(HPX_FOURCC("!MEM"));
}

SPErr BasicUndefined() { return kSPBadParameterError; }

SPBasicSuite g_BasicSuite = {BasicAcquire, BasicRelease,    BasicIsEqual,  BasicAllocate,
                             BasicFree,    BasicReallocate, BasicUndefined};

// ---- other procedures ---------------------------------------------------------------------------

// The host's procedures are called from the plug-in's frames: nothing may unwind through them.
OSErr HostAdvanceState()
{
    TestHost* host = TestHost::Current();
    try
    {
        return host ? host->AdvanceState() : OSErr(errPlugInHostInsufficient);
    }
    catch (...)
    {
        return memFullErr;
    }
}

OSErr HostGetProperty(OSType signature, OSType key, int32_t index, intptr_t* simple, Handle* complex)
{
    TestHost* host = TestHost::Current();
    return host ? host->GetProperty(signature, key, index, simple, complex) : OSErr(errPlugInHostInsufficient);
}

PropertyProcs g_PropertyProcs = {1, 2, HostGetProperty, nullptr};

LRESULT CALLBACK HostWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == kHostSettleMessage)
    {
        SetEvent(reinterpret_cast<HANDLE>(lParam));
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

// Finds the About box (a dialog owned by the host window), reads it and closes it.
BOOL CALLBACK FindAboutBox(HWND hWnd, LPARAM lParam)
{
    auto* host = reinterpret_cast<TestHost*>(lParam);
    wchar_t cls[16] = {};
    GetClassNameW(hWnd, cls, 15);
    if (std::wcscmp(cls, L"#32770") != 0 || GetWindow(hWnd, GW_OWNER) != host->Window()) return TRUE;
    char text[512] = {};
    GetDlgItemTextA(hWnd, 3, text, sizeof text - 1);
    host->aboutText = text;
    host->aboutSeen = true;
    if (host->options.aboutPressWebButton) SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(4, BN_CLICKED), 0);
    PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return FALSE;
}

void CALLBACK AboutTimer(HWND hWnd, UINT, UINT_PTR id, DWORD)
{
    TestHost* host = TestHost::Current();
    if (!host) return;
    if (!host->aboutSeen) EnumThreadWindows(GetCurrentThreadId(), FindAboutBox, reinterpret_cast<LPARAM>(host));
    if (host->aboutSeen) KillTimer(hWnd, id);
}

bool RectEmpty(const VRect& r) { return r.right <= r.left || r.bottom <= r.top; }

VRect ToV(const Rect& r) { return VRect{r.top, r.left, r.bottom, r.right}; }

}  // namespace

// ---- documents ----------------------------------------------------------------------------------

uint32_t HostDocument::Get(int32_t x, int32_t y, int32_t plane) const
{
    const size_t i = size_t(y) * RowBytes() + (size_t(x) * planes + plane) * BytesPerSample();
    if (depth == 8) return pixels[i];
    uint16_t v;
    std::memcpy(&v, &pixels[i], 2);
    return v;
}

void HostDocument::Set(int32_t x, int32_t y, int32_t plane, uint32_t value)
{
    const size_t i = size_t(y) * RowBytes() + (size_t(x) * planes + plane) * BytesPerSample();
    if (depth == 8)
    {
        pixels[i] = uint8_t(value);
    }
    else
    {
        const uint16_t v = uint16_t(value);
        std::memcpy(&pixels[i], &v, 2);
    }
}

HostDocument MakeDocument(int32_t width, int32_t height, int32_t planes, int32_t depth)
{
    HostDocument d;
    d.width = width;
    d.height = height;
    d.planes = planes;
    d.depth = depth;
    d.pixels.assign(size_t(d.RowBytes()) * size_t(height), 0);
    return d;
}

HostDocument MakeGeneratedDocument(int32_t width, int32_t height, int32_t planes, int32_t depth, uint32_t seed)
{
    HostDocument d = MakeDocument(width, height, planes, depth);
    const uint32_t maxValue = depth == 8 ? 255 : 32768;
    uint32_t state = seed * 2654435761u + 12345u;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t p = 0; p < planes; ++p)
            {
                state = state * 1664525u + 1013904223u;
                const uint32_t noise = (state >> 16) % (maxValue / 8 + 1);
                const uint32_t ramp =
                    uint32_t((uint64_t(x + y * (p + 1)) * maxValue) / uint64_t(width + height * (p + 1)));
                d.Set(x, y, p, std::min<uint32_t>(maxValue, (ramp + noise * (p + 1)) % (maxValue + 1)));
            }
    // Both ends of the range in every plane.
    for (int32_t p = 0; p < planes && width * height >= 2; ++p)
    {
        d.Set(0, 0, p, 0);
        d.Set(width - 1, height - 1, p, maxValue);
    }
    return d;
}

bool LoadDocumentFromFile(const std::wstring& path, HostDocument* doc, std::string* error, std::vector<uint8_t>* exif)
{
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeU(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilenameU(path.c_str());
    if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif))
    {
        if (error) *error = "unknown or unreadable image format";
        return false;
    }
    FIBITMAP* bmp = FreeImage_LoadU(fif, path.c_str(), 0);
    if (!bmp)
    {
        if (error) *error = "the image file cannot be read";
        return false;
    }
    if (exif)
    {
        exif->clear();
        FITAG* tag = nullptr;
        if (FreeImage_GetMetadata(FIMD_EXIF_RAW, bmp, "ExifRaw", &tag) && tag && FreeImage_GetTagValue(tag))
        {
            const auto* p = static_cast<const uint8_t*>(FreeImage_GetTagValue(tag));
            size_t n = FreeImage_GetTagLength(tag);
            if (n >= 6 && std::memcmp(p, "Exif\0\0", 6) == 0)
            {
                p += 6;
                n -= 6;
            }
            exif->assign(p, p + n);
        }
    }
    FREE_IMAGE_TYPE type = FreeImage_GetImageType(bmp);
    int planes = 0, depth = 8;
    if (type == FIT_UINT16)
    {
        planes = 1;
        depth = 16;
    }
    else if (type == FIT_RGB16)
    {
        planes = 3;
        depth = 16;
    }
    else if (type == FIT_RGBA16)
    {
        planes = 4;
        depth = 16;
    }
    else
    {
        FIBITMAP* conv = nullptr;
        if (type == FIT_BITMAP && FreeImage_GetBPP(bmp) == 8 && FreeImage_GetColorType(bmp) == FIC_MINISBLACK)
        {
            planes = 1;
        }
        else if (type == FIT_BITMAP && FreeImage_GetBPP(bmp) == 32)
        {
            planes = 4;
        }
        else
        {
            conv = FreeImage_ConvertTo24Bits(bmp);
            planes = 3;
        }
        if (conv)
        {
            FreeImage_Unload(bmp);
            bmp = conv;
        }
    }
    if (!bmp)
    {
        if (error) *error = "the image cannot be converted";
        return false;
    }
    const int32_t w = int32_t(FreeImage_GetWidth(bmp));
    const int32_t h = int32_t(FreeImage_GetHeight(bmp));
    *doc = MakeDocument(w, h, planes, depth);
    for (int32_t y = 0; y < h; ++y)
    {
        const BYTE* line = FreeImage_GetScanLine(bmp, h - 1 - y);
        for (int32_t x = 0; x < w; ++x)
        {
            if (depth == 8)
            {
                const BYTE* px = line + size_t(x) * planes;
                if (planes == 1)
                {
                    doc->Set(x, y, 0, px[0]);
                }
                else
                {
                    doc->Set(x, y, 0, px[FI_RGBA_RED]);
                    doc->Set(x, y, 1, px[FI_RGBA_GREEN]);
                    doc->Set(x, y, 2, px[FI_RGBA_BLUE]);
                    if (planes == 4) doc->Set(x, y, 3, px[FI_RGBA_ALPHA]);
                }
            }
            else
            {
                const uint16_t* px = reinterpret_cast<const uint16_t*>(line) + size_t(x) * planes;
                for (int p = 0; p < planes; ++p)  // RGB16/RGBA16 store red, green, blue [, alpha]
                    doc->Set(x, y, p, (uint32_t(px[p]) * 32768u + 32767u) / 65535u);
            }
        }
    }
    FreeImage_Unload(bmp);
    return true;
}

bool SaveDocumentToFile(const std::wstring& path, const HostDocument& doc, std::string* error)
{
    FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFilenameU(path.c_str());
    if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsWriting(fif))
    {
        if (error) *error = "unknown or unwritable output format";
        return false;
    }
    FREE_IMAGE_TYPE type = FIT_BITMAP;
    int bpp = doc.planes * 8;
    if (doc.depth == 16)
    {
        type = doc.planes == 1 ? FIT_UINT16 : doc.planes == 3 ? FIT_RGB16 : FIT_RGBA16;
        bpp = doc.planes * 16;
    }
    if (doc.planes == 2)
    {
        if (error) *error = "grey documents with transparency cannot be saved";
        return false;
    }
    FIBITMAP* bmp = FreeImage_AllocateT(type, doc.width, doc.height, bpp);
    if (!bmp)
    {
        if (error) *error = "out of memory";
        return false;
    }
    if (type == FIT_BITMAP && doc.planes == 1)
    {
        RGBQUAD* pal = FreeImage_GetPalette(bmp);
        for (int i = 0; i < 256; ++i) pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = BYTE(i);
    }
    for (int32_t y = 0; y < doc.height; ++y)
    {
        BYTE* line = FreeImage_GetScanLine(bmp, doc.height - 1 - y);
        for (int32_t x = 0; x < doc.width; ++x)
        {
            if (doc.depth == 8)
            {
                BYTE* px = line + size_t(x) * doc.planes;
                if (doc.planes == 1)
                {
                    px[0] = BYTE(doc.Get(x, y, 0));
                }
                else
                {
                    px[FI_RGBA_RED] = BYTE(doc.Get(x, y, 0));
                    px[FI_RGBA_GREEN] = BYTE(doc.Get(x, y, 1));
                    px[FI_RGBA_BLUE] = BYTE(doc.Get(x, y, 2));
                    if (doc.planes == 4) px[FI_RGBA_ALPHA] = BYTE(doc.Get(x, y, 3));
                }
            }
            else
            {
                uint16_t* px = reinterpret_cast<uint16_t*>(line) + size_t(x) * doc.planes;
                for (int p = 0; p < doc.planes; ++p) px[p] = uint16_t((doc.Get(x, y, p) * 65535u + 16384u) / 32768u);
            }
        }
    }
    BOOL ok = FreeImage_SaveU(fif, bmp, path.c_str(), 0);
    FreeImage_Unload(bmp);
    if (!ok && error) *error = "the output file cannot be written";
    return ok != FALSE;
}

// ---- descriptors --------------------------------------------------------------------------------

DescriptorItem UnitFloatItem(DescriptorKeyID key, DescriptorUnitID unit, double value)
{
    DescriptorItem i = {};
    i.key = key;
    i.type = typeUnitFloat;
    i.unit = unit;
    i.number = value;
    return i;
}

DescriptorItem EnumItem(DescriptorKeyID key, DescriptorEnumTypeID type, DescriptorEnumID value)
{
    DescriptorItem i = {};
    i.key = key;
    i.type = typeEnumerated;
    i.enumType = type;
    i.enumValue = value;
    return i;
}

DescriptorItem BoolItem(DescriptorKeyID key, bool value)
{
    DescriptorItem i = {};
    i.key = key;
    i.type = typeBoolean;
    i.flag = value ? 1 : 0;
    return i;
}

DescriptorItem IntegerItem(DescriptorKeyID key, int32_t value)
{
    DescriptorItem i = {};
    i.key = key;
    i.type = typeInteger;
    i.number = value;
    return i;
}

const DescriptorItem* FindItem(const Descriptor& d, DescriptorKeyID key)
{
    for (const DescriptorItem& i : d)
        if (i.key == key) return &i;
    return nullptr;
}

// ---- the property list --------------------------------------------------------------------------

const PiplProperty* Pipl::Find(uint32_t key) const
{
    for (const PiplProperty& p : properties)
        if (p.key == key) return &p;
    return nullptr;
}

bool ReadPipl(HMODULE module, Pipl* pipl, std::string* error)
{
    auto fail = [error](const char* why)
    {
        if (error) *error = why;
        return false;
    };
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(16000), L"PIPL");
    if (!res) return fail("no PIPL resource 16000");
    const DWORD size = SizeofResource(module, res);
    HGLOBAL g = LoadResource(module, res);
    const auto* p = g ? static_cast<const uint8_t*>(LockResource(g)) : nullptr;
    if (!p || size < 10) return fail("PIPL resource unreadable");
    pipl->bytes.assign(p, p + size);
    auto u32 = [&](size_t at)
    {
        uint32_t v;
        std::memcpy(&v, p + at, 4);
        return v;
    };
    uint16_t version;
    std::memcpy(&version, p, 2);
    if (version != 1 || u32(2) != 0) return fail("PIPL header is not version 1, 0");
    const uint32_t count = u32(6);
    size_t at = 10;
    pipl->properties.clear();
    for (uint32_t i = 0; i < count; ++i)
    {
        if (at + 16 > size) return fail("PIPL property header beyond the resource");
        PiplProperty prop;
        prop.vendor = u32(at);
        prop.key = u32(at + 4);
        prop.id = int32_t(u32(at + 8));
        const uint32_t length = u32(at + 12);
        if (length % 4 != 0 || at + 16 + length > size) return fail("PIPL property length invalid");
        prop.data.assign(p + at + 16, p + at + 16 + length);
        pipl->properties.push_back(prop);
        at += 16 + length;
    }
    if (at != size) return fail("PIPL has bytes after its last property");
    return true;
}

// ---- the host -----------------------------------------------------------------------------------

std::string RunReport::Describe() const
{
    static const char* names[] = {"about", "parameters", "prepare", "start", "continue", "finish"};
    std::string s;
    for (const auto& c : calls)
    {
        char line[64];
        std::snprintf(line, sizeof line, "%s=%d ", (c.first >= 0 && c.first <= 5) ? names[c.first] : "?", c.second);
        s += line;
    }
    return s;
}

TestHost* TestHost::Current() { return g_pCurrent; }

TestHost::TestHost()
{
    static bool once = false;
    if (!once)
    {
        once = true;
        InitDescriptorProcs();
        InitSuites();
        StartGdiplus();
        FreeImage_Initialise(FALSE);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = HostWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        wc.lpszClassName = L"HpxTestHostWindow";
        RegisterClassW(&wc);
    }
    m_hWnd = CreateWindowExW(0, L"HpxTestHostWindow", L"Hushpix test host", WS_OVERLAPPEDWINDOW, 40, 40, 1024, 768,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (m_hWnd) ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    m_platform.hwnd = reinterpret_cast<intptr_t>(m_hWnd);
    g_pCurrent = this;
}

TestHost::~TestHost()
{
    g_pCurrent = this;
    Unload();
    if (m_descParams.descriptor) DisposeHandle(m_descParams.descriptor);
    if (m_record.parameters) DisposeHandle(m_record.parameters);
    if (m_dataSlot) DisposeHandle(reinterpret_cast<Handle>(m_dataSlot));
    if (m_hWnd) DestroyWindow(m_hWnd);
    if (g_pCurrent == this) g_pCurrent = nullptr;
}

bool TestHost::Load(const std::wstring& pluginPath, std::string* error)
{
    Unload();
    g_pCurrent = this;
    m_hModule = LoadLibraryW(pluginPath.c_str());
    if (!m_hModule)
    {
        if (error) *error = "LoadLibrary failed: " + std::to_string(GetLastError());
        return false;
    }
    Pipl pipl;
    std::string why;
    if (!ReadPipl(m_hModule, &pipl, &why))
    {
        if (error) *error = why;
        Unload();
        return false;
    }
    const PiplProperty* kind = pipl.Find(HPX_FOURCC("kind"));
    const PiplProperty* entry = pipl.Find(HPX_FOURCC("wx86"));
    uint32_t kindValue = 0;
    if (kind && kind->data.size() >= 4) std::memcpy(&kindValue, kind->data.data(), 4);
    if (kindValue != HPX_FOURCC("8BFM") || !entry)
    {
        if (error) *error = "the PIPL does not describe a filter with a 32-bit entry point";
        Unload();
        return false;
    }
    const std::string entryName(reinterpret_cast<const char*>(entry->data.data()),
                                strnlen(reinterpret_cast<const char*>(entry->data.data()), entry->data.size()));
    m_pEntry = reinterpret_cast<void (*)(int16_t, void*, intptr_t*, int16_t*)>(
        reinterpret_cast<void*>(GetProcAddress(m_hModule, entryName.c_str())));
    if (!m_pEntry)
    {
        if (error) *error = "the entry point " + entryName + " is not exported";
        Unload();
        return false;
    }
    return true;
}

void TestHost::UseEntry(PluginEntry entry)
{
    Unload();
    m_pEntry = reinterpret_cast<void (*)(int16_t, void*, intptr_t*, int16_t*)>(entry);
}

void TestHost::Unload()
{
    if (m_hModule)
    {
        g_pCurrent = this;
        FreeLibrary(m_hModule);
    }
    m_hModule = nullptr;
    m_pEntry = nullptr;
}

void TestHost::SetDocument(const HostDocument& doc)
{
    m_input = doc;
    m_output = doc;
}

Handle TestHost::NewHandle(int32_t size)
{
    if (size < 0) return nullptr;
    char* data = static_cast<char*>(std::calloc(size_t(size) + 1, 1));
    if (!data) return nullptr;
    auto* hh = new HostHandle;
    hh->data = data;
    hh->size = size;
    hh->locks = 0;
    hh->magic = kHandleMagic;
    g_Handles.insert(hh);
    return &hh->data;
}

void TestHost::DisposeHandle(Handle h)
{
    HostHandle* hh = FromHandle(h);
    if (!hh)
    {
        if (h) protocolErrors.push_back("dispose of an unknown handle");
        return;
    }
    g_Handles.erase(hh);
    hh->magic = 0;
    std::free(hh->data);
    delete hh;
}

int TestHost::LiveHandles() const { return int(g_Handles.size()); }

int TestHost::LockedHandles() const
{
    int n = 0;
    for (HostHandle* hh : g_Handles) n += hh->locks;
    return n;
}

Descriptor TestHost::RecordedDescriptor() const { return DecodeDescriptor(m_descParams.descriptor); }

void TestHost::SetRecordedDescriptor(const Descriptor& d)
{
    g_pCurrent = this;
    ClearRecordedDescriptor();
    m_descParams.descriptor = EncodeDescriptor(d);
}

void TestHost::ClearRecordedDescriptor()
{
    if (m_descParams.descriptor) DisposeHandle(m_descParams.descriptor);
    m_descParams.descriptor = nullptr;
}

std::vector<uint8_t> TestHost::ParameterBytes() const
{
    HostHandle* hh = FromHandle(m_record.parameters);
    if (!hh) return {};
    return std::vector<uint8_t>(hh->data, hh->data + hh->size);
}

void TestHost::SetParameterBytes(const std::vector<uint8_t>& bytes)
{
    HostHandle* hh = FromHandle(m_record.parameters);
    if (!hh) return;
    std::memcpy(hh->data, bytes.data(), std::min<size_t>(bytes.size(), size_t(hh->size)));
}

std::vector<uint8_t> TestHost::DataBytes() const
{
    HostHandle* hh = FromHandle(reinterpret_cast<Handle>(m_dataSlot));
    if (!hh) return {};
    return std::vector<uint8_t>(hh->data, hh->data + hh->size);
}

void TestHost::FillRecord()
{
    FilterRecord& r = m_record;
    const Handle keepParameters = r.parameters;
    const int32_t keepMaxSpace = r.maxSpace;
    (void)keepMaxSpace;
    std::memset(&r, 0, sizeof r);
    r.parameters = keepParameters;
    r.serialNumber = 0;
    r.imageSize.v = int16_t(m_input.height);
    r.imageSize.h = int16_t(m_input.width);
    r.planes = int16_t(m_input.planes);
    VRect sel = options.selection;
    if (RectEmpty(sel)) sel = VRect{0, 0, m_input.height, m_input.width};
    r.filterRect = Rect{int16_t(sel.top), int16_t(sel.left), int16_t(sel.bottom), int16_t(sel.right)};
    r.maxSpace = options.maxSpace;
    r.background = RGBColor{65535, 65535, 65535};
    r.isFloating = 0;
    r.haveMask = options.mask ? 1 : 0;
    r.autoMask = 0;
    if (options.mask)
    {
        m_maskBuffer.assign(size_t(m_input.width) * size_t(m_input.height), 255);
        r.maskData = m_maskBuffer.data();
        r.maskRowBytes = m_input.width;
    }
    r.hostSig = HPX_FOURCC("HPXh");
    r.imageMode = m_input.planes >= 3 ? (m_input.depth == 16 ? 9 : 3) : (m_input.depth == 16 ? 10 : 1);
    r.imageHRes = r.imageVRes = 72 << 16;
    r.wholeSize = r.imageSize;
    m_platform.hwnd = options.passWindow ? reinterpret_cast<intptr_t>(m_hWnd) : 0;
    r.platformData = &m_platform;
    r.handleProcs = &g_HandleProcs;
    r.advanceState = HostAdvanceState;
    r.supportsAbsolute = 0;
    r.inputRate = r.maskRate = kFixedOne;
    r.propertyProcs = &g_PropertyProcs;
    r.depth = m_input.depth;
    m_descParams.descriptorParametersVersion = 0;
    m_descParams.playInfo = options.playInfo;
    m_descParams.readDescriptorProcs = options.readDescriptorProcs ? &g_ReadProcs : nullptr;
    m_descParams.writeDescriptorProcs = options.writeDescriptorProcs ? &g_WriteProcs : nullptr;
    r.descriptorParameters = options.descriptorParameters ? &m_descParams : nullptr;
    r.sSPBasic = options.basicSuite ? &g_BasicSuite : nullptr;
    if (options.bigDocument)
    {
        m_bigDoc = BigDocumentStruct{};
        m_bigDoc.imageSize32 = VPoint{m_input.height, m_input.width};
        m_bigDoc.filterRect32 = sel;
        m_bigDoc.wholeSize32 = m_bigDoc.imageSize32;
        r.bigDocumentData = &m_bigDoc;
    }
}

bool TestHost::CurrentRects(VRect* in, VRect* out) const
{
    const bool big = options.bigDocument && m_bigDoc.PluginUsing32BitCoordinates != 0;
    if (big)
    {
        *in = m_bigDoc.inRect32;
        *out = m_bigDoc.outRect32;
    }
    else
    {
        *in = ToV(m_record.inRect);
        *out = ToV(m_record.outRect);
    }
    return big;
}

void TestHost::CommitOutput()
{
    if (!m_outPending) return;
    m_outPending = false;
    const AdvanceRequest& q = m_pendingOut;
    const int32_t bps = m_output.BytesPerSample();
    const int32_t n = q.outHiPlane - q.outLoPlane + 1;
    const int32_t rowBytes = (q.outRect.right - q.outRect.left) * n * bps + options.rowPadding;
    for (int32_t y = q.outRect.top; y < q.outRect.bottom; ++y)
        for (int32_t x = q.outRect.left; x < q.outRect.right; ++x)
            for (int32_t p = 0; p < n; ++p)
            {
                const size_t at = size_t(y - q.outRect.top) * rowBytes + (size_t(x - q.outRect.left) * n + p) * bps;
                uint32_t v = m_outBuffer[at];
                if (bps == 2)
                {
                    uint16_t w;
                    std::memcpy(&w, &m_outBuffer[at], 2);
                    v = w;
                    if (v > 32768) protocolErrors.push_back("a 16-bit sample above 32768 was written");
                }
                m_output.Set(x, y, q.outLoPlane + p, v);
            }
}

OSErr TestHost::AdvanceState()
{
    AdvanceRequest q;
    q.used32 = CurrentRects(&q.inRect, &q.outRect);
    q.inLoPlane = m_record.inLoPlane;
    q.inHiPlane = m_record.inHiPlane;
    q.outLoPlane = m_record.outLoPlane;
    q.outHiPlane = m_record.outHiPlane;
    q.inputRate = m_record.inputRate;
    q.maskRate = m_record.maskRate;
    const int index = m_advanceCalls++;

    // What the plug-in wrote since the last request goes into the document first.
    CommitOutput();

    if (index == options.failAdvanceStateCall)
    {
        q.result = options.advanceStateError;
        advanceRequests.push_back(q);
        return q.result;
    }

    auto validPlanes = [&](int16_t lo, int16_t hi) { return lo >= 0 && hi >= lo && hi < m_input.planes; };
    auto validRect = [&](const VRect& r)
    { return r.left >= 0 && r.top >= 0 && r.right <= m_input.width && r.bottom <= m_input.height; };
    if (!validRect(q.inRect) || !validRect(q.outRect) ||
        (!RectEmpty(q.inRect) && !validPlanes(q.inLoPlane, q.inHiPlane)) ||
        (!RectEmpty(q.outRect) && !validPlanes(q.outLoPlane, q.outHiPlane)) || q.inputRate != kFixedOne)
    {
        q.result = filterBadParameters;
        advanceRequests.push_back(q);
        return q.result;
    }

    const int32_t bps = m_input.BytesPerSample();
    m_record.inData = nullptr;
    m_record.inRowBytes = 0;
    if (!RectEmpty(q.inRect))
    {
        const int32_t n = q.inHiPlane - q.inLoPlane + 1;
        const int32_t rowBytes = (q.inRect.right - q.inRect.left) * n * bps + options.rowPadding;
        m_inBuffer.assign(size_t(rowBytes) * size_t(q.inRect.bottom - q.inRect.top) + 1, 0xA5);
        for (int32_t y = q.inRect.top; y < q.inRect.bottom; ++y)
            for (int32_t x = q.inRect.left; x < q.inRect.right; ++x)
                for (int32_t p = 0; p < n; ++p)
                {
                    const size_t at = size_t(y - q.inRect.top) * rowBytes + (size_t(x - q.inRect.left) * n + p) * bps;
                    const uint32_t v = m_input.Get(x, y, q.inLoPlane + p);
                    if (bps == 1)
                    {
                        m_inBuffer[at] = uint8_t(v);
                    }
                    else
                    {
                        const uint16_t w = uint16_t(v);
                        std::memcpy(&m_inBuffer[at], &w, 2);
                    }
                }
        m_record.inData = m_inBuffer.data();
        m_record.inRowBytes = rowBytes;
    }
    m_record.outData = nullptr;
    m_record.outRowBytes = 0;
    if (!RectEmpty(q.outRect))
    {
        // The output buffer starts with the document's present pixels, as a host's does.
        const int32_t n = q.outHiPlane - q.outLoPlane + 1;
        const int32_t rowBytes = (q.outRect.right - q.outRect.left) * n * bps + options.rowPadding;
        m_outBuffer.assign(size_t(rowBytes) * size_t(q.outRect.bottom - q.outRect.top) + 1, 0x5A);
        for (int32_t y = q.outRect.top; y < q.outRect.bottom; ++y)
            for (int32_t x = q.outRect.left; x < q.outRect.right; ++x)
                for (int32_t p = 0; p < n; ++p)
                {
                    const size_t at = size_t(y - q.outRect.top) * rowBytes + (size_t(x - q.outRect.left) * n + p) * bps;
                    const uint32_t v = m_output.Get(x, y, q.outLoPlane + p);
                    if (bps == 1)
                    {
                        m_outBuffer[at] = uint8_t(v);
                    }
                    else
                    {
                        const uint16_t w = uint16_t(v);
                        std::memcpy(&m_outBuffer[at], &w, 2);
                    }
                }
        m_record.outData = m_outBuffer.data();
        m_record.outRowBytes = rowBytes;
        m_outPending = true;
        m_pendingOut = q;
    }
    q.result = noErr;
    advanceRequests.push_back(q);
    return noErr;
}

OSErr TestHost::GetProperty(OSType signature, OSType key, int32_t index, intptr_t* simple, Handle* complex)
{
    if (signature != kPhotoshopSignature) return errPlugInPropertyUndefined;
    if (key == propEXIFData && index == 0)
    {
        if (options.exif.empty() || !complex) return errPlugInPropertyUndefined;
        Handle h = NewHandle(int32_t(options.exif.size()));
        std::memcpy(*h, options.exif.data(), options.exif.size());
        *complex = h;
        if (simple) *simple = 0;
        return noErr;
    }
    return errPlugInPropertyUndefined;
}

SPErr TestHost::AcquireSuite(const char* name, int32_t version, const void** suite)
{
    if (!name || !suite) return kSPBadParameterError;
    *suite = nullptr;
    const std::string n = name;
    if (options.serveSuites && n == kPSActionDescriptorSuite && version >= 1 && version <= 3)
        *suite = &g_ActionProcs;
    else if (options.serveSuites && n == kPSDescriptorRegistrySuite && version == 1)
        *suite = &g_RegistryProcs;
    else if (options.serveFileList && n == kPSGetFileListSuite && version >= 1 && version <= 4)
        *suite = &g_FileListSuite;
    if (!*suite)
    {
        ++acquireRefusals;
        return kSPSuiteNotFoundError;
    }
    ++suitesHeld[n];
    return 0;
}

SPErr TestHost::ReleaseSuite(const char* name, int32_t)
{
    if (!name) return kSPBadParameterError;
    auto it = suitesHeld.find(name);
    if (it == suitesHeld.end() || it->second <= 0)
    {
        protocolErrors.push_back(std::string("release of a suite not held: ") + name);
        return kSPBadParameterError;
    }
    --it->second;
    return 0;
}

OSErr TestHost::Call(int16_t selector)
{
    g_pCurrent = this;
    if (!m_pEntry) return errPlugInHostInsufficient;
    advanceRequests.clear();
    m_advanceCalls = 0;
    int16_t result = 0;
    if (selector == filterSelectorAbout)
    {
        m_about = AboutRecord{};
        m_about.platformData = &m_platform;
        m_about.sSPBasic = options.basicSuite ? &g_BasicSuite : nullptr;
        m_pEntry(selector, &m_about, &m_dataSlot, &result);
        return result;
    }
    if (selector == filterSelectorParameters || selector == filterSelectorPrepare || !m_record.handleProcs)
    {
        FillRecord();
    }
    else
    {
        // Between prepare and finish the host keeps the record; the procedures and options may
        // have changed for a test.
        m_descParams.playInfo = options.playInfo;
        m_record.sSPBasic = options.basicSuite ? &g_BasicSuite : nullptr;
        m_record.descriptorParameters = options.descriptorParameters ? &m_descParams : nullptr;
        m_descParams.readDescriptorProcs = options.readDescriptorProcs ? &g_ReadProcs : nullptr;
        m_descParams.writeDescriptorProcs = options.writeDescriptorProcs ? &g_WriteProcs : nullptr;
    }
    if (selector == filterSelectorStart)
    {
        // The start selector may run the plug-in's window and its modal loop on this thread.
        ScriptedUser stand_in;
        ScriptedUser* u = user ? user : &stand_in;
        ClearPluginCrashFlag();
        u->Start(m_hWnd);
        m_pEntry(selector, &m_record, &m_dataSlot, &result);
        u->Finish();
    }
    else
    {
        m_pEntry(selector, &m_record, &m_dataSlot, &result);
    }
    CommitOutput();
    return result;
}

OSErr TestHost::About()
{
    g_pCurrent = this;
    aboutSeen = false;
    aboutText.clear();
    const UINT_PTR timer = SetTimer(m_hWnd, 0x4850, 100, AboutTimer);
    const OSErr r = Call(filterSelectorAbout);
    KillTimer(m_hWnd, timer);
    return r;
}

RunReport TestHost::RunFilter(bool withParameters)
{
    RunReport report;
    auto step = [&](int16_t selector)
    {
        const OSErr r = Call(selector);
        report.calls.emplace_back(selector, r);
        return r == noErr;
    };
    if (withParameters && !step(filterSelectorParameters)) return report;
    if (!step(filterSelectorPrepare)) return report;
    if (!step(filterSelectorStart)) return report;
    for (int guard = 0; guard < 100000; ++guard)
    {
        VRect in, out;
        CurrentRects(&in, &out);
        VRect mask = (options.bigDocument && m_bigDoc.PluginUsing32BitCoordinates) ? m_bigDoc.maskRect32
                                                                                   : ToV(m_record.maskRect);
        if (RectEmpty(in) && RectEmpty(out) && RectEmpty(mask)) break;
        if (!step(filterSelectorContinue)) return report;
    }
    if (!step(filterSelectorFinish)) return report;
    report.ok = true;
    return report;
}

void StartGdiplus()
{
    static ULONG_PTR token = 0;
    if (token) return;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
}

std::wstring HostPath(const std::string& path)
{
    std::wstring w;
    if (!path.empty() && path[0] == '/') w = L"Z:";
    for (char c : path) w += (c == '/') ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    return w;
}

std::wstring DistPlugin()
{
#ifdef HPX_DIST_DIR
    return HostPath(std::string(HPX_DIST_DIR) + "/Hushpix.8bf");
#else
    return L"Hushpix.8bf";
#endif
}

}  // namespace hpxhost
