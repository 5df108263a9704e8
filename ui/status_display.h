// StatusUpdater: mirrors connectionState into the main window five times a second.
#pragma once

#include <cstdint>
#include <string>

#include "device/sync_state.h"

inline constexpr char16_t STATUS_LINE_CAPTION[] = u"   连接状态：";
inline constexpr uint32_t BLINK_TIMER_ID = 1;
inline constexpr uint32_t BLINK_PERIOD_MS = 500;
inline constexpr uint32_t STATUS_PACE_MS = 200;

// The window changes StatusUpdater makes. The window carries each out on its own thread and
// returns when it is done; pictures may be decoded on the caller's thread.
class StatusView {
public:
    virtual ~StatusView() = default;
    // The state picture (kept in the state image holder).
    virtual void ShowStatePicture(uint16_t imageId) = 0;
    // blinkPhase = true, start the blink timer and remember its handle.
    virtual void StartBlinking() = 0;
    // The blink timer's handle is not 0.
    virtual bool IsBlinking() = 0;
    // Stop the blink timer, forget its handle, hide the syncing label.
    virtual void StopBlinking() = 0;
    // Move the syncing label to its place and show it.
    virtual void ShowSyncingLabel() = 0;
    // Redraw the help bar, background included, above the state picture.
    virtual void RedrawHelpBar() = 0;
    virtual void SetStatusLine(const std::u16string& text) = 0;
};

struct StatusUpdaterParams {
    ConnectionState lastState = Waiting;
    StatusView* window = nullptr;
};
extern StatusUpdaterParams statusUpdaterParams;

// One pass after the message drain: when connectionState differs from lastState, shows the
// new state and remembers it.
void StatusUpdaterPass(ConnectionState& lastState, StatusView& view);

// Thread entry; the argument is a StatusUpdaterParams, copied at start. 0 at MSG_THREAD_QUIT.
unsigned StatusUpdater(void* params);
