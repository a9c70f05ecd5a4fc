// The about selector: the plug-in's own About dialog, owned by the host's window.
#include <cstdio>

#include "host/HostInterface.h"
#include "host/PluginMain.h"
#include "plugin/host_ids.h"
#include "ui/CaughtExceptionTrace.h"

namespace
{

// Runs the dialog inside the module's own activation context (its manifest, when it has
// one), so its controls look the same in every host.
class ModuleActivationContext
{
public:
    explicit ModuleActivationContext(HINSTANCE hModule)
    {
        ACTCTXW ctx = {};
        ctx.cbSize = sizeof ctx;
        ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        ctx.hModule = hModule;
        ctx.lpResourceName = MAKEINTRESOURCEW(2);  // the manifest resource of a DLL
        m_hCtx = CreateActCtxW(&ctx);
        if (m_hCtx != INVALID_HANDLE_VALUE && !ActivateActCtx(m_hCtx, &m_ulCookie))
        {
            ReleaseActCtx(m_hCtx);
            m_hCtx = INVALID_HANDLE_VALUE;
        }
    }
    ~ModuleActivationContext()
    {
        if (m_hCtx != INVALID_HANDLE_VALUE)
        {
            DeactivateActCtx(0, m_ulCookie);
            ReleaseActCtx(m_hCtx);
        }
    }
    ModuleActivationContext(const ModuleActivationContext&) = delete;
    ModuleActivationContext& operator=(const ModuleActivationContext&) = delete;

private:
    HANDLE m_hCtx = INVALID_HANDLE_VALUE;
    ULONG_PTR m_ulCookie = 0;
};

void OpenWebAddress(HWND hDlg, int control)
{
    char caption[256] = {};
    GetDlgItemTextA(hDlg, control, caption, 255);
    char address[300] = {};
    std::snprintf(address, sizeof address, "http://%s", caption);
    try
    {
        auto* suite = static_cast<const PSGetFileListSuite4*>(g_HostSuites[kHostSuiteGetFileList].Acquire());
        if (suite && suite->BrowseUrl) suite->BrowseUrl(address);
    }
    catch (const HostSuiteError&)
    {
        // The host does not browse addresses for plug-ins: the button does nothing.
    }
}

}  // namespace

void CenterDialog(HWND hDlg)
{
    HWND hParent = GetParent(hDlg);
    RECT parent;
    if (hParent)
    {
        GetClientRect(hParent, &parent);
        MapWindowPoints(hParent, nullptr, reinterpret_cast<POINT*>(&parent), 2);
    }
    else
    {
        GetClientRect(GetDesktopWindow(), &parent);
    }
    RECT dlg;
    GetWindowRect(hDlg, &dlg);
    const int dlgWidth = dlg.right - dlg.left;
    const int dlgHeight = dlg.bottom - dlg.top;
    const int parentWidth = parent.right - parent.left;
    const int parentHeight = parent.bottom - parent.top;

    int allowance = GetSystemMetrics(SM_CXSIZE);
    if (!(GetWindowLongW(hDlg, GWL_STYLE) & WS_SYSMENU)) allowance -= allowance / 3;
    int x = parent.left + (parentWidth > dlgWidth ? parentWidth - dlgWidth : 0) / 2 - allowance;
    int y = parent.top + (parentHeight > dlgHeight ? parentHeight - dlgHeight : 0) / 3;

    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (x + dlgWidth > screenWidth) x = screenWidth > dlgWidth ? screenWidth - dlgWidth : 0;
    if (y + dlgHeight > screenHeight) y = screenHeight > dlgHeight ? screenHeight - dlgHeight : 0;
    SetWindowPos(hDlg, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    try
    {
        switch (msg)
        {
        case WM_INITDIALOG:
        {
            CenterDialog(hDlg);
            char text[255] = {};
            LoadStringA(GetPluginInstance(0), IDS_HUSHPIX_ABOUT, text, 254);
            SetDlgItemTextA(hDlg, IDC_ABOUT_TEXT, text);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam))
            {
            case IDOK:
            case IDCANCEL:
                EndDialog(hDlg, LOWORD(wParam));
                return TRUE;
            case IDC_ABOUT_WEB1:
            case IDC_ABOUT_WEB2:
                OpenWebAddress(hDlg, LOWORD(wParam));
                return TRUE;
            default:
                break;
            }
            break;
        case WM_CHAR:
            if (wParam == VK_ESCAPE || wParam == VK_RETURN)
            {
                EndDialog(hDlg, IDOK);
                return TRUE;
            }
            break;
        case WM_LBUTTONDOWN:
            EndDialog(hDlg, IDOK);
            return TRUE;
        default:
            break;
        }
    }
    catch (...)
    {
        // Nothing may unwind through the dialog manager.
        TraceCaughtException("AboutDlgProc");
    }
    return FALSE;
}

void DoAbout()
{
    auto* about = reinterpret_cast<AboutRecord*>(g_pFilterRecord);
    HWND owner = nullptr;
    if (about && about->platformData)
        owner = reinterpret_cast<HWND>(static_cast<PlatformData*>(about->platformData)->hwnd);
    HINSTANCE hInstance = GetPluginInstance(0);
    ModuleActivationContext context(hInstance);
    DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_HUSHPIX_ABOUT), owner, AboutDlgProc, 0);
}
