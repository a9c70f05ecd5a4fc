#include "app/dialogs/JpegQuality.h"

#include <commctrl.h>

int ClampJpegQuality(int quality)
{
    if (quality < kMinJpegQuality) return kMinJpegQuality;
    if (quality > kMaxJpegQuality) return kMaxJpegQuality;
    return quality;
}

int JpegQualityAfterScroll(HWND bar, WPARAM wParam)
{
    int pos = static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0));
    switch (LOWORD(wParam))
    {
    case SB_LINELEFT:
    case SB_PAGELEFT:
        pos -= 1;
        break;
    case SB_LINERIGHT:
    case SB_PAGERIGHT:
        pos += 1;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        pos = HIWORD(wParam);
        break;
    default:
        break;
    }
    return ClampJpegQuality(pos);
}
