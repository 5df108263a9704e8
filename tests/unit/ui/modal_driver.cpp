#include "tests/unit/ui/modal_driver.h"

namespace {

constexpr UINT STEP_MS = 60;
constexpr UINT GIVE_UP_MS = 3000;

struct Driver {
    CDialogEx* dialog = nullptr;
    std::vector<ModalStep> steps;
    size_t next = 0;
    UINT_PTR stepTimer = 0;
    UINT_PTR giveUpTimer = 0;
    bool gaveUp = false;
};
Driver* current = nullptr;

void CALLBACK GiveUp(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    Driver* d = current;
    if (!d) return;
    d->gaveUp = true;
    if (d->dialog->m_hWnd) d->dialog->EndDialog(MODAL_DRIVER_GAVE_UP);
}

void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
    Driver* d = current;
    if (!d || !d->dialog->m_hWnd || d->next >= d->steps.size()) return;
    ModalStep step = d->steps[d->next++];
    if (d->next == d->steps.size()) {
        // After the last step nothing wakes the loop any more but what the dialog itself does.
        KillTimer(nullptr, d->stepTimer);
        d->giveUpTimer = SetTimer(nullptr, 0, GIVE_UP_MS, GiveUp);
    }
    step(*d->dialog);
}

}  // namespace

INT_PTR RunModalWithSteps(CDialogEx& dialog, std::vector<ModalStep> steps) {
    Driver driver{&dialog, std::move(steps)};
    Driver* outer = current;
    current = &driver;
    driver.stepTimer = SetTimer(nullptr, 0, STEP_MS, Step);
    if (driver.steps.empty()) driver.giveUpTimer = SetTimer(nullptr, 0, GIVE_UP_MS, GiveUp);
    const INT_PTR result = dialog.DoModal();
    KillTimer(nullptr, driver.stepTimer);
    if (driver.giveUpTimer) KillTimer(nullptr, driver.giveUpTimer);
    current = outer;
    return driver.gaveUp ? MODAL_DRIVER_GAVE_UP : result;
}

ChildPlace PlaceOf(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return ChildPlace{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

SIZE ClientSize(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    return SIZE{r.right, r.bottom};
}
