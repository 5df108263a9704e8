#include "ui/status_display.h"

#include "device/device_session.h"
#include "res/resource.h"

StatusUpdaterParams statusUpdaterParams;

void StatusUpdaterPass(ConnectionState& lastState, StatusView& view) {
    ConnectionState state = syncState.connectionState;
    if (state == lastState) return;
    if (state == Syncing) {
        view.ShowStatePicture(IMG_CONNECTED);
        view.StartBlinking();
        view.ShowSyncingLabel();
    } else {
        if (view.IsBlinking()) {
            view.StopBlinking();
            state = syncState.connectionState;
        }
        if (state == Waiting) {
            view.ShowStatePicture(IMG_NOT_CONNECTED);
            syncState.statusText.Set(STATUS_WAITING_TEXT);
        } else if (state == Connected) {
            view.ShowStatePicture(IMG_CONNECTED);
        }
    }
    view.RedrawHelpBar();
    view.SetStatusLine(STATUS_LINE_CAPTION + syncState.statusText.Get());
    lastState = syncState.connectionState;
}

unsigned StatusUpdater(void* params) {
    const StatusUpdaterParams own = *static_cast<const StatusUpdaterParams*>(params);
    ConnectionState lastState = own.lastState;
    for (;;) {
        if (platform::DrainThreadMessages()) return 0;
        if (own.window) StatusUpdaterPass(lastState, *own.window);
        platform::SleepMs(STATUS_PACE_MS);
    }
}
