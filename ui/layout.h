// Pixel placement: the windows are laid out in pixels at the skin's scale, whatever the
// dialog font's metrics.
#pragma once

#include <windows.h>

struct PixelRect {
    int x, y, width, height;
};

inline void PlaceWindow(HWND window, PixelRect r, bool repaint = true) {
    if (window) MoveWindow(window, r.x, r.y, r.width, r.height, repaint ? TRUE : FALSE);
}
