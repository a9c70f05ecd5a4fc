// Placeholder entry point so the deliverable links; replaced by the GPU program's host.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
