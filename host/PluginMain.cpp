// The filter's entry point, its six selector handlers, the two handles the host keeps for the
// plug-in, the host's rectangles and the module instance.
#include "host/PluginMain.h"

#include <cstring>
#include <new>
#include <vector>

#include "app/window/MainWindow.h"
#include "engine/ImageBuffer.h"
#include "host/HostBridge.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ControlSkin.h"
#include "ui/DockerPanel.h"

FilterRecord* g_pFilterRecord = nullptr;
intptr_t* g_pData = nullptr;
int16_t* g_pResult = nullptr;
SPBasicSuite* g_pSPBasic = nullptr;
FilterParameters* g_pParameters = nullptr;
DataBlock* g_pDataBlock = nullptr;

namespace
{

HINSTANCE g_hPluginInstance = nullptr;
bool g_bFirstCall = true;

void SetResult(int16_t err)
{
    if (g_pResult) *g_pResult = err;
}

int16_t Result() { return g_pResult ? *g_pResult : int16_t(noErr); }

HandleProcs* Handles() { return g_pFilterRecord ? g_pFilterRecord->handleProcs : nullptr; }

void InitDataBlock()
{
    if (!g_pDataBlock) return;
    std::memset(g_pDataBlock, 0, sizeof(DataBlock));
    g_pDataBlock->m_bQueryForParameters = 1;
}

// The document's EXIF block, read through the host's property procedures ('8BIM' 'EXIF'); empty
// when the host offers none. The handle is the host's and is disposed of here.
std::vector<uint8_t> ReadHostExif()
{
    std::vector<uint8_t> exif;
    FilterRecord* fr = g_pFilterRecord;
    if (!fr || !fr->propertyProcs || !fr->propertyProcs->getPropertyProc) return exif;
    Handle h = nullptr;
    intptr_t simple = 0;
    if (fr->propertyProcs->getPropertyProc(kPhotoshopSignature, propEXIFData, 0, &simple, &h) != noErr || !h)
        return exif;
    HandleProcs* hp = Handles();
    if (hp && hp->getSizeProc && hp->lockProc && hp->unlockProc)
    {
        const int32_t size = hp->getSizeProc(h);
        if (size > 0)
        {
            if (Ptr p = hp->lockProc(h, false))
            {
                try
                {
                    exif.assign(reinterpret_cast<const uint8_t*>(p), reinterpret_cast<const uint8_t*>(p) + size);
                }
                catch (const std::bad_alloc&)
                {
                    exif.clear();  // no information strings; the image still opens
                }
                hp->unlockProc(h);
            }
        }
    }
    if (hp && hp->disposeProc) hp->disposeProc(h);
    return exif;
}

// The plug-in's main window runs its modal loop on the host's thread between the fetch and the
// write-back: it copies the host image buffers into its document and a finished result back,
// and returns false only when it could not be created (the run then counts as cancelled).
bool RunFilterWindow()
{
    const std::vector<uint8_t> exif = ReadHostExif();
    MainWindowHost host = {};
    host.hModule = GetPluginInstance();
    const PlatformData* platform = static_cast<const PlatformData*>(g_pFilterRecord->platformData);
    host.hHostWindow = platform ? reinterpret_cast<HWND>(platform->hwnd) : nullptr;
    host.pImage = &g_HostImage;
    host.pAlpha = &g_HostAlpha;
    host.pExif = exif.empty() ? nullptr : exif.data();
    host.cbExif = uint32_t(exif.size());
    const bool ran = RunMainWindow(host);
    SetResult(noErr);
    return ran;
}

}  // namespace

HINSTANCE GetPluginInstance(HINSTANCE hInstance) { return hInstance ? hInstance : g_hPluginInstance; }

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID reserved)
{
    (void)reason;
    (void)reserved;
    g_hPluginInstance = hInstance;
    return TRUE;
}

namespace
{
// After an exception: the handles go back to the host, and a failed start keeps nothing of the
// host's image for the next call.
void EndFailedCall(int16_t selector)
{
    if (selector == filterSelectorStart)
    {
        ReleaseImage(&g_HostImage);
        ReleaseImage(&g_HostAlpha);
    }
    if (selector != filterSelectorAbout) UnlockHandles();
}
}  // namespace

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, FilterRecord* filterRecord, intptr_t* data,
                                                 int16_t* result)
{
    // Nothing may unwind into the host's frames.
    try
    {
        if (g_bFirstCall)
        {
            g_bFirstCall = false;
            InitImage(&g_HostImage);
            InitImage(&g_HostAlpha);
        }
        g_pFilterRecord = filterRecord;
        g_pData = data;
        g_pResult = result;
        if (!filterRecord) return;

        if (selector == filterSelectorAbout)
        {
            g_pSPBasic = reinterpret_cast<AboutRecord*>(filterRecord)->sSPBasic;
        }
        else
        {
            g_pSPBasic = filterRecord->sSPBasic;
            if (filterRecord->bigDocumentData) filterRecord->bigDocumentData->PluginUsing32BitCoordinates = 1;
        }

        switch (selector)
        {
        case filterSelectorAbout:
            DoAbout();
            break;
        case filterSelectorParameters:
            DoParameters();
            break;
        case filterSelectorPrepare:
            DoPrepare();
            break;
        case filterSelectorStart:
            DoStart();
            break;
        case filterSelectorContinue:
            DoContinue();
            break;
        case filterSelectorFinish:
            DoFinish();
            break;
        default:
            break;
        }
        if (selector != filterSelectorAbout) UnlockHandles();
    }
    catch (const std::bad_alloc&)
    {
        SetResult(memFullErr);
        EndFailedCall(selector);
    }
    catch (...)
    {
        TraceCaughtException("PluginMain");
        SetResult(filterBadParameters);
        EndFailedCall(selector);
    }
}

// ---- rectangles -------------------------------------------------------------------------------

bool UsingBigDocument()
{
    return g_pFilterRecord && g_pFilterRecord->bigDocumentData &&
        g_pFilterRecord->bigDocumentData->PluginUsing32BitCoordinates != 0;
}

VRect GetFilterRect()
{
    VRect r = {0, 0, 0, 0};
    if (!g_pFilterRecord) return r;
    if (UsingBigDocument()) return g_pFilterRecord->bigDocumentData->filterRect32;
    const Rect& s = g_pFilterRecord->filterRect;
    r.top = s.top;
    r.left = s.left;
    r.bottom = s.bottom;
    r.right = s.right;
    return r;
}

namespace
{
void StoreRect(VRect* big, Rect* small, int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    if (UsingBigDocument())
    {
        big->top = top;
        big->left = left;
        big->bottom = bottom;
        big->right = right;
    }
    else
    {
        small->top = int16_t(top);
        small->left = int16_t(left);
        small->bottom = int16_t(bottom);
        small->right = int16_t(right);
    }
}
}  // namespace

void SetInRect(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    if (!g_pFilterRecord) return;
    BigDocumentStruct* big = g_pFilterRecord->bigDocumentData;
    StoreRect(big ? &big->inRect32 : nullptr, &g_pFilterRecord->inRect, top, left, bottom, right);
}

void SetOutRect(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    if (!g_pFilterRecord) return;
    BigDocumentStruct* big = g_pFilterRecord->bigDocumentData;
    StoreRect(big ? &big->outRect32 : nullptr, &g_pFilterRecord->outRect, top, left, bottom, right);
}

void SetMaskRect(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    if (!g_pFilterRecord) return;
    BigDocumentStruct* big = g_pFilterRecord->bigDocumentData;
    StoreRect(big ? &big->maskRect32 : nullptr, &g_pFilterRecord->maskRect, top, left, bottom, right);
}

// ---- handles ----------------------------------------------------------------------------------

int16_t NewParameterHandle()
{
    HandleProcs* hp = Handles();
    Handle h = (hp && hp->newProc) ? hp->newProc(int32_t(sizeof(FilterParameters))) : nullptr;
    if (!h)
    {
        SetResult(memFullErr);
        return memFullErr;
    }
    g_pFilterRecord->parameters = h;
    // A new record starts from zero rather than from whatever the host's block held.
    if (hp->lockProc && hp->unlockProc)
    {
        if (Ptr p = hp->lockProc(h, false))
        {
            std::memset(p, 0, sizeof(FilterParameters));
            hp->unlockProc(h);
        }
    }
    return noErr;
}

int16_t NewDataHandle()
{
    HandleProcs* hp = Handles();
    Handle h = (hp && hp->newProc && g_pData) ? hp->newProc(int32_t(sizeof(DataBlock))) : nullptr;
    if (!h)
    {
        SetResult(memFullErr);
        return memFullErr;
    }
    *g_pData = reinterpret_cast<intptr_t>(h);
    return noErr;
}

int16_t LockHandles()
{
    HandleProcs* hp = Handles();
    if (!g_pFilterRecord || !g_pFilterRecord->parameters || !g_pData || !*g_pData || !hp || !hp->lockProc)
    {
        SetResult(filterBadParameters);
        return filterBadParameters;
    }
    UnlockHandles();
    g_pParameters = reinterpret_cast<FilterParameters*>(hp->lockProc(g_pFilterRecord->parameters, true));
    g_pDataBlock = reinterpret_cast<DataBlock*>(hp->lockProc(reinterpret_cast<Handle>(*g_pData), true));
    if (!g_pParameters || !g_pDataBlock)
    {
        UnlockHandles();
        SetResult(memFullErr);
        return memFullErr;
    }
    return noErr;
}

void UnlockHandles()
{
    // Only what this plug-in locked is unlocked, and a pointer never outlives its lock.
    HandleProcs* hp = Handles();
    if (hp && hp->unlockProc)
    {
        if (g_pDataBlock && g_pData && *g_pData) hp->unlockProc(reinterpret_cast<Handle>(*g_pData));
        if (g_pParameters && g_pFilterRecord->parameters) hp->unlockProc(g_pFilterRecord->parameters);
    }
    g_pDataBlock = nullptr;
    g_pParameters = nullptr;
}

// ---- selectors --------------------------------------------------------------------------------

void DoParameters()
{
    if (!g_pFilterRecord->parameters) NewParameterHandle();
    if (!g_pData || !*g_pData) NewDataHandle();
    if (Result() == noErr && LockHandles() == noErr) InitDataBlock();
}

void DoPrepare()
{
    FilterRecord* fr = g_pFilterRecord;
    if (fr->parameters && g_pData && *g_pData)
    {
        LockHandles();
    }
    else
    {
        if (!fr->parameters) NewParameterHandle();
        if (!g_pData || !*g_pData) NewDataHandle();
        if (Result() == noErr && LockHandles() == noErr) InitDataBlock();
    }

    // Tell the host how much of its memory the plug-in leaves to it: the plug-in keeps its own
    // copy of the image, so the host needs no more than twice the filtered area.
    fr->bufferSpace = 0;
    VRect r = GetFilterRect();
    int64_t planes = fr->planes + (fr->maskData ? 1 : 0);
    int64_t need = int64_t(r.right - r.left) * int64_t(r.bottom - r.top) * planes;
    if (need < 0) need = 0;
    if (int64_t(fr->maxSpace) > 2 * need) fr->maxSpace = int32_t(2 * need);
}

void DoStart()
{
    // Without both records nothing below can be read or recorded: report the host's error.
    if (LockHandles() != noErr)
    {
        ReleaseImage(&g_HostImage);
        ReleaseImage(&g_HostAlpha);
        return;
    }
    ReadRegistryParameters();

    const FilterParameters kept = *g_pParameters;
    bool ran = true;
    bool fetched = true;
    uint8_t show = 0;
    if (ReadScriptParameters(&show) == noErr && show)
    {
        SetSkinResourceModule(GetPluginInstance());
        ApplyDefaultSkin();
        FetchHostImage();
        if (Result() != noErr)
            fetched = false;  // the host's error stays; no window, no write-back
        else
            ran = RunFilterWindow();
    }

    if (fetched)
    {
        if (g_pDataBlock) g_pDataBlock->m_bQueryForParameters = 0;
        if (ran)
        {
            SetResult(noErr);
            WriteHostImage();
        }
        else
        {
            if (g_pParameters) *g_pParameters = kept;
            SetResult(userCanceledErr);
        }
    }

    ReleaseImage(&g_HostImage);
    ReleaseImage(&g_HostAlpha);
}

void DoContinue()
{
    // All work was done in the start selector: empty rectangles end the host's loop.
    SetInRect(0, 0, 0, 0);
    SetOutRect(0, 0, 0, 0);
    SetMaskRect(0, 0, 0, 0);
}

void DoFinish()
{
    UnregisterDockerWindowClass();
    FreeSkinBrushes();
    if (LockHandles() == noErr)
    {
        WriteScriptParameters();
        WriteRegistryParameters();
    }
}
