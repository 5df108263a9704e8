#include "ui/framework/image.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace {

// GDI+ is started once, on first use, and left running for the process.
bool StartGdiplus() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    });
    return started;
}

}  // namespace

CImage::CImage(CImage&& other) noexcept
    : bitmap_(other.bitmap_), bits_(other.bits_), width_(other.width_), height_(other.height_) {
    other.bitmap_ = nullptr;
    other.bits_ = nullptr;
    other.width_ = other.height_ = 0;
}

CImage& CImage::operator=(CImage&& other) noexcept {
    if (this != &other) {
        Destroy();
        bitmap_ = other.bitmap_;
        bits_ = other.bits_;
        width_ = other.width_;
        height_ = other.height_;
        other.bitmap_ = nullptr;
        other.bits_ = nullptr;
        other.width_ = other.height_ = 0;
    }
    return *this;
}

void CImage::Destroy() {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = nullptr;
    bits_ = nullptr;
    width_ = height_ = 0;
}

HBITMAP CImage::Detach() {
    HBITMAP bitmap = bitmap_;
    bitmap_ = nullptr;
    bits_ = nullptr;
    width_ = height_ = 0;
    return bitmap;
}

uint32_t CImage::GetPixelBgra(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    uint32_t pixel = 0;
    std::memcpy(&pixel, static_cast<const unsigned char*>(bits_) + (static_cast<size_t>(y) * width_ + x) * 4, 4);
    return pixel;
}

HRESULT CImage::Load(IStream* stream) {
    Destroy();
    if (!stream || !StartGdiplus()) return E_FAIL;
    std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream));
    if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) return E_FAIL;
    const UINT width = decoded->GetWidth();
    const UINT height = decoded->GetHeight();
    if (width == 0 || height == 0 || width > 0x7FFF || height > 0x7FFF) return E_FAIL;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, like GDI+'s rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        return E_OUTOFMEMORY;
    }

    // GDI+ writes the rows straight into the DIB section, colours as in the picture: the
    // picture control premultiplies them once when it takes the bitmap.
    Gdiplus::BitmapData data{};
    data.Width = width;
    data.Height = height;
    data.Stride = static_cast<INT>(width * 4);
    data.PixelFormat = PixelFormat32bppARGB;
    data.Scan0 = bits;
    Gdiplus::Rect area(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    const Gdiplus::Status locked = decoded->LockBits(
        &area, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf, PixelFormat32bppARGB, &data);
    if (locked != Gdiplus::Ok) {
        DeleteObject(bitmap);
        return E_FAIL;
    }
    decoded->UnlockBits(&data);
    bitmap_ = bitmap;
    bits_ = bits;
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    return S_OK;
}
