// The skin pictures: PNG resources (type "PNG") decoded into image holders and shown in
// picture controls.
#pragma once

#include <cstdint>

#include "ui/framework/controls.h"
#include "ui/framework/image.h"

// Decodes the program's PNG resource `id` into the holder, which is emptied first. False only
// when the resource cannot be found or loaded; an undecodable picture leaves the holder empty
// and still gives true.
bool LoadPngResource(CImage& holder, uint16_t id);

// Makes the control a bitmap picture showing PNG `id`. With a holder the decoded picture stays
// in it; without one the control keeps the picture itself. A picture that cannot be loaded
// leaves the control blank.
void SetControlImage(uint16_t id, CStatic& control, CImage* holder);

// The window half of SetControlImage, for a picture decoded on another thread: the holder (if
// any) takes the decoded picture and the control shows it.
void ShowDecodedImage(CStatic& control, CImage* holder, CImage&& decoded);
