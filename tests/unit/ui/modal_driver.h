// Drives a modal dialog from inside its own loop: one step per timer tick, as a user would act
// between two looks at the screen. After the last step nothing else wakes the loop, so a run
// that does not end by itself promptly (within 3 s) is ended and reported as
// MODAL_DRIVER_GAVE_UP, whatever the dialog's own result would have been.
#pragma once

#include <functional>
#include <vector>

#include "ui/framework/dialog.h"

inline constexpr int MODAL_DRIVER_GAVE_UP = -77;

using ModalStep = std::function<void(CDialogEx& dialog)>;

INT_PTR RunModalWithSteps(CDialogEx& dialog, std::vector<ModalStep> steps);

// Rectangle of a child in its parent's client coordinates, as x, y, width, height.
struct ChildPlace {
    int x, y, width, height;
    bool operator==(const ChildPlace&) const = default;
};
ChildPlace PlaceOf(HWND child);
SIZE ClientSize(HWND window);
