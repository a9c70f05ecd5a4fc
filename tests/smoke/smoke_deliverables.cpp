// Loads the shipped plug-in the way a host does and starts the shipped GPU program the way
// the plug-in does, outside any test framework, so a broken deliverable shows up plainly.
#include <windows.h>
#include <cstdio>
#include <string>

namespace
{

std::wstring DistPath(const wchar_t* name)
{
    // HPX_DIST_DIR is a Unix path; Wine maps the root of the Unix file system to Z:.
    std::string dir = HPX_DIST_DIR;
    std::wstring w = L"Z:";
    for (char c : dir) w += (c == '/') ? L'\\' : static_cast<wchar_t>(c);
    return w + L"\\" + name;
}

int SmokePlugin()
{
    std::wstring path = DistPath(L"Hushpix.8bf");
    HMODULE h = LoadLibraryW(path.c_str());
    if (!h)
    {
        std::printf("LoadLibraryW failed: %lu\n", GetLastError());
        return 1;
    }
    FARPROC entry = GetProcAddress(h, "PluginMain");
    std::printf("PluginMain at %p\n", reinterpret_cast<void*>(entry));
    // The property list is how a host finds the filter at all.
    HRSRC pipl = FindResourceW(h, MAKEINTRESOURCEW(16000), L"PIPL");
    std::printf("PIPL 16000 %s\n", pipl ? "present" : "absent");
    FreeLibrary(h);
    return entry ? 0 : 1;
}

int SmokeGpu()
{
    std::wstring path = DistPath(L"HPXProcessGPU.exe");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    {
        std::printf("CreateProcessW failed: %lu\n", GetLastError());
        return 1;
    }
    // With no plug-in window to talk to, the program either ends by itself or waits for the
    // exit command (105) that the plug-in sends before it starts a new instance.
    DWORD waited = 0;
    while (WaitForSingleObject(pi.hProcess, 200) == WAIT_TIMEOUT && waited < 60000)
    {
        waited += 200;
        if (HWND w = FindWindowW(L"HPXPROCESSGPU", L"HPXProcessGPU")) PostMessageW(w, WM_COMMAND, 105, 0);
    }
    DWORD code = 1;
    bool ended = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
    if (ended)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("HPXProcessGPU %s, exit code %lu\n", ended ? "ended" : "did not end", code);
    return (ended && code == 0) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "plugin") return SmokePlugin();
    if (what == "gpu") return SmokeGpu();
    std::printf("usage: smoke_deliverables plugin|gpu\n");
    return 2;
}
