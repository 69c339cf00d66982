#include "update/frames_to_connection.h"

#include <algorithm>
#include <vector>

namespace update {

net::QR_BaseNet::Writer FramesTo(UpdateNetManager& net, int hConn) {
  return [&net, hConn](const uint8_t* data, size_t size) {
    if (size < net::kPduHeaderSize) return false;
    std::vector<uint8_t> buffer = net.AcquireBuffer(size);
    std::copy(data, data + size, buffer.begin());
    return net.SendPdu(hConn, uint16_t(data[0] | data[1] << 8), std::move(buffer), size);
  };
}

}  // namespace update
