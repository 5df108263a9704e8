// The ground a picture control with transparent parts is drawn over: the colour of the larger
// picture beneath it at the control's place, answered to the control's colour query.
#pragma once

#include <windows.h>

#include "ui/framework/image.h"
#include "ui/layout.h"

// Colour of `picture`, placed at `picturePlace` in the window, at window point (x, y).
// CLR_INVALID with no picture, outside it, or at a fully transparent pixel.
COLORREF PictureColourAt(const CImage& picture, PixelRect picturePlace, int x, int y);

// One solid brush, made again only when the colour changes.
class SolidBrush {
public:
    SolidBrush() = default;
    ~SolidBrush();
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;

    // The brush of `colour`; nullptr for CLR_INVALID or when none can be made. Valid until
    // the next call with another colour or the object's end.
    HBRUSH For(COLORREF colour);

private:
    COLORREF colour_ = CLR_INVALID;
    HBRUSH brush_ = nullptr;
};
