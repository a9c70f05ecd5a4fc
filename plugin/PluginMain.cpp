// Placeholder entry point so the deliverable links; replaced by the host adapter.
#include <windows.h>
#include <cstdint>

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, void* filterRecord, intptr_t* data, int16_t* result)
{
    (void)selector; (void)filterRecord; (void)data;
    if (result) *result = 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
