#pragma once
// The address-server query. A package in address-server mode asks its
// address servers which update servers to use. One TCP connection per
// query; PDUs framed by QR_BaseNet: the request goes as a plain PDU, the
// answer may come wrapped (compressed and/or encrypted). Bodies are encoded
// like the update messages (update_messages.h): the int32 type code, for the
// answer the int32 result, then the fields.
//
//   GETUPDATESERVERS request  (PDU type 12)  int32 product number
//   GETUPDATESERVERS answer   (PDU type 12)  int32 result (SUCCESSED, or
//                             NOSRVCANUSED when no update server is alive),
//                             string servers: "address:port" items joined
//                             with ",", the least loaded first
#include <cstdint>
#include <string>

#include "update/update_messages.h"

namespace update {

inline constexpr int32_t QR_AS_GETUPDATESERVERS = 12;
// An answer names at most this many servers, each at most 300 characters.
inline constexpr size_t kMaxAnsweredServers = 64;

struct GetUpdateServersRequest {
  static constexpr int32_t kType = QR_AS_GETUPDATESERVERS;
  static constexpr bool kResponse = false;
  int32_t productNumber = 0;
  template <class A> void Fields(A& a) { a(productNumber); }
};

struct GetUpdateServersResponse {
  static constexpr int32_t kType = QR_AS_GETUPDATESERVERS;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  std::u16string servers;
  template <class A> void Fields(A& a) { a(servers); }
};

}  // namespace update
