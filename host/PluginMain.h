// The filter's entry point and what it keeps of the host's current call.
//
// The host calls PluginMain once per step of a filter run (about, parameters, prepare, start,
// continue, finish). PluginMain stores the host's record, data slot and result word in the
// globals below for the duration of the call; the rest of the plug-in reads them from there.
// Everything here runs on the host's thread, one call at a time.
#pragma once

#include <windows.h>
#include <cstdint>
#include <exception>

#include "host/HostInterface.h"

// ---- the plug-in's records kept by the host between calls -------------------------------------

// The filter's scripting parameters, kept in FilterRecord.parameters. Read and written through
// scripting and the descriptor registry only; the denoising never consults them.
struct FilterParameters
{
    int16_t amount;           // 'Amnt', a percentage
    int16_t disposition;      // 'disP', 0..3
    uint8_t ignoreSelection;  // 'ignS'
};

// The plug-in's own block, kept in the handle that the host stores in the data slot.
struct DataBlock
{
    uint8_t m_bQueryForParameters;  // 1: the start selector shows the main window
    uint8_t m_reserved[15];
};

// ---- globals of the current call --------------------------------------------------------------

// The host's record of the current call (for the about selector it points at the AboutRecord).
extern FilterRecord* g_pFilterRecord;
extern intptr_t* g_pData;                // the host's data slot (holds the DataBlock handle)
extern int16_t* g_pResult;               // the host's result word; 0 = success
extern SPBasicSuite* g_pSPBasic;         // the host's basic suite (may be null)
extern FilterParameters* g_pParameters;  // locked by LockHandles, null otherwise
extern DataBlock* g_pDataBlock;          // locked by LockHandles, null otherwise

// The plug-in's module instance (stored by DllMain). Every caller passes 0, which selects it;
// any other value is returned as it is.
HINSTANCE GetPluginInstance(HINSTANCE hInstance = 0);

// ---- the entry point ----------------------------------------------------------------------------

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, FilterRecord* filterRecord, intptr_t* data,
                                                 int16_t* result);

void DoAbout();
void DoParameters();
void DoPrepare();
void DoStart();
void DoContinue();
void DoFinish();

// ---- rectangles (32-bit forms when the host offers them) --------------------------------------

// True when the host's bigDocumentData exists and says the plug-in uses 32-bit coordinates.
bool UsingBigDocument();
VRect GetFilterRect();
void SetInRect(int32_t top, int32_t left, int32_t bottom, int32_t right);
void SetOutRect(int32_t top, int32_t left, int32_t bottom, int32_t right);
void SetMaskRect(int32_t top, int32_t left, int32_t bottom, int32_t right);

// ---- the two handles ----------------------------------------------------------------------------

// Each returns the host result it also stores in the result word on failure (0 on success).
int16_t NewParameterHandle();
int16_t NewDataHandle();
int16_t LockHandles();
void UnlockHandles();

// ---- scripting and the descriptor registry ----------------------------------------------------

// Reads the recorded parameters into g_pParameters and says whether the main window is to be
// shown. Returns the host's result (not stored in the result word).
int16_t ReadScriptParameters(uint8_t* showDialog);
int16_t WriteScriptParameters();
int16_t ReadRegistryParameters();
int16_t WriteRegistryParameters();
DescriptorEnumID DispositionToEnum(int16_t disposition);
int16_t EnumToDisposition(DescriptorEnumID value);

// The key of the filter's entry in the host's descriptor registry (the property list's
// scripting unique string).
extern const char kHushpixRegistryKey[];

// ---- host suites acquired on demand -------------------------------------------------------------

// Raised by HostSuiteHolder::Acquire; carries the host's error (or 'Parm' without a basic suite).
class HostSuiteError : public std::exception
{
public:
    explicit HostSuiteError(int32_t code) : m_iCode(code) {}
    const char* what() const noexcept override { return "host suite not available"; }
    int32_t m_iCode;
};

// One lazily acquired host suite, released when the module unloads.
struct HostSuiteHolder
{
    const void* m_pSuite;  // null until acquired
    int32_t m_iVersion;
    const char* m_pszName;
    int32_t m_iError;  // error of the last acquisition

    // Acquires the suite through g_pSPBasic when it is not held yet. Throws HostSuiteError.
    const void* Acquire();
    // Releases a held suite through the basic suite of the last call.
    void Release();
};

constexpr int kHostSuiteCount = 18;
extern HostSuiteHolder g_HostSuites[kHostSuiteCount];
// The file-list suite whose URL browsing the About box uses (row 11 of the table).
constexpr int kHostSuiteGetFileList = 10;

// ---- the about selector -------------------------------------------------------------------------

INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
// Centres a dialog over its parent's client area (the desktop's when it has none).
void CenterDialog(HWND hDlg);
