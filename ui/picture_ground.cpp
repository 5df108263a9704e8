#include "ui/picture_ground.h"

#include <cstdint>

COLORREF PictureColourAt(const CImage& picture, PixelRect picturePlace, int x, int y) {
    const int px = x - picturePlace.x;
    const int py = y - picturePlace.y;
    if (picture.IsNull() || px < 0 || py < 0 || px >= picture.GetWidth() || py >= picture.GetHeight()) {
        return CLR_INVALID;
    }
    const uint32_t bgra = picture.GetPixelBgra(px, py);
    if ((bgra >> 24) == 0) return CLR_INVALID;
    return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
}

SolidBrush::~SolidBrush() {
    if (brush_) DeleteObject(brush_);
}

HBRUSH SolidBrush::For(COLORREF colour) {
    if (colour == CLR_INVALID) return nullptr;
    if (brush_ && colour == colour_) return brush_;
    HBRUSH made = CreateSolidBrush(colour);
    if (!made) return nullptr;
    if (brush_) DeleteObject(brush_);
    brush_ = made;
    colour_ = colour;
    return brush_;
}
