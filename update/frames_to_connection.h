#pragma once
// QR_BaseNet's frames, sent on one connection of an UpdateNetManager (the
// address client's and the address server's way of writing).
#include "net/qr_base_net.h"
#include "update/update_net_manager.h"

namespace update {

// Hands the frames QR_BaseNet makes to `net` on connection `hConn`.
net::QR_BaseNet::Writer FramesTo(UpdateNetManager& net, int hConn);

}  // namespace update
