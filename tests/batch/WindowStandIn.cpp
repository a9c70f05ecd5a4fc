// Until the main window lands: the two of its globals the walker and the document use.
#include <windows.h>
HWND g_hMainWnd = nullptr;
int g_iQualityMode = 3;
