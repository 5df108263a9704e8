#include "ui/skin_images.h"

#include <objbase.h>

#include <cstring>
#include <utility>

#include "ui/framework/app.h"

bool LoadPngResource(CImage& holder, uint16_t id) {
    holder.Destroy();
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (!found) return false;
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) return false;
    const void* bytes = LockResource(loaded);
    const DWORD size = SizeofResource(module, found);
    if (!bytes) return false;

    // The stream owns the block and frees it when released.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block) return true;
    if (void* target = GlobalLock(block)) {
        std::memcpy(target, bytes, size);
        GlobalUnlock(block);
    }
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || !stream) {
        GlobalFree(block);
        return true;
    }
    holder.Load(stream);
    stream->Release();
    return true;
}

namespace {

void MakeBitmapPicture(CStatic& control) {
    control.ModifyStyle(SS_TYPEMASK, SS_BITMAP);
}

}  // namespace

void SetControlImage(uint16_t id, CStatic& control, CImage* holder) {
    CImage decoded;
    LoadPngResource(decoded, id);
    ShowDecodedImage(control, holder, std::move(decoded));
}

void ShowDecodedImage(CStatic& control, CImage* holder, CImage&& decoded) {
    MakeBitmapPicture(control);
    if (holder) {
        // The control lets go of the old picture before the holder releases it.
        control.ShowBitmap(nullptr, false);
        *holder = std::move(decoded);
        control.ShowBitmap(*holder, false);
    } else {
        control.ShowBitmap(decoded.Detach(), true);
    }
}
