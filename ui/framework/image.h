// Image holder: owns one decoded bitmap (a 32-bpp DIB section, alpha not premultiplied) or
// nothing. Picture controls premultiply their own copy of such a bitmap before blending it.
#pragma once

#include <windows.h>

#include <cstdint>

struct IStream;

class CImage {
public:
    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;
    CImage(CImage&& other) noexcept;
    CImage& operator=(CImage&& other) noexcept;

    bool IsNull() const { return bitmap_ == nullptr; }
    void Destroy();
    // Gives the bitmap away; the holder is empty afterwards.
    HBITMAP Detach();
    operator HBITMAP() const { return bitmap_; }
    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    // Pixel in the DIB's BGRA layout (colour not scaled by alpha), 0 outside the picture.
    uint32_t GetPixelBgra(int x, int y) const;

    // Decodes a picture (PNG among others, alpha kept) from the stream with GDI+. The holder
    // is emptied first and stays empty when decoding fails.
    HRESULT Load(IStream* stream);

private:
    HBITMAP bitmap_ = nullptr;
    void* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};
