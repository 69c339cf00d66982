#pragma once
// The wizard's online-install client: UpdateInstall with the wizard window as
// its main thread (events queued here, message 0x4C8 runs the queue; window
// timers), the
// download page's rows, timers and texts, and the install run after the
// last file.
namespace setup {

// Created while the header is read when the package is an online one.
void CreateOnlineClient();

}  // namespace setup
