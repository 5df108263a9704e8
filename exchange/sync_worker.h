// The per-phone worker that polls the companion app's command files, and the job fields' reset
// and clean-up.
#pragma once

// Thread entry: a pass every 200 ms until MSG_THREAD_QUIT.
unsigned DeviceWorker(void* unused);

// Sets wantCurrentRing and wantUpdateRing from whether the command files can be opened.
void ProbeCommandFiles();

// Puts the job fields to their start-of-job values; syncBusy becomes true.
void ResetSyncJob();

// Removes the update request and both queue directories (one remove each).
void ClearSyncQueue();
