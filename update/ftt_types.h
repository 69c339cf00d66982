#pragma once
// Codes, states and limits of the file-transfer library.
#include <cstdint>

namespace ftt {

enum TaskType : int32_t { FTT_TASK_UNKNOWN = 0, FTT_TASK_SENDFILE = 1, FTT_TASK_RECVFILE = 2 };

enum TaskState : int32_t {
  stateCreated = -1, stateIniting = 0, stateInited = 1, stateTransfering = 2, stateRecved = 3, stateAborted = 4,
};

enum NodeState : int32_t {
  STATE_CREATED = 0, STATE_AUTHENTICATING = 1, STATE_TRANSFERING = 2, STATE_RECVED = 3, STATE_CLOSED = 4,
};

enum Result : uint16_t {
  FTTR_OPERATE_SUCCESS = 0, FTTR_OPERATE_FAILED = 1, FTTR_ERR_OVER_FILE_MAX = 2, FTTR_ERR_NO_MORE_CONN = 3,
  FTTR_ERR_TASK_NO_EXIST = 4, FTTR_ERR_FILE_NOT_EXIST = 5, FTTR_ERR_FILE_EXIST = 6, FTTR_ERR_FILE_OPEN_ERROR = 7,
  FTTR_ERR_FILE_READ_WRITE_ERROR = 8, FTTR_ERR_FILE_HAS_MODIFIED = 9, FTTR_ERR_OPERATE_FINISH = 10,
  FTTR_ERR_OPERATE_PAUSE = 11, FTTR_ERR_OPERATE_RESUME = 12, FTTR_ERR_OPERATE_ABORT = 13,
  FTTR_ERR_NO_ENOUGH_DISK_SPACE = 14, FTTR_ERR_FTT_SOCKET_CONNECT_FAILED = 15, FTTR_ERR_TASK_CONNECT_TIME_OUT = 16,
  FTTR_ERR_TASK_WAIT_TIME_OUT = 17, FTTR_ERR_NODE_CONNECT_TIME_OUT = 18, FTTR_ERR_NODE_WAIT_TIME_OUT = 19,
  FTTR_ERR_NO_IDLE_FILEBLOCK = 20, FTTR_ERR_KEEPALIVE_RECV_TIME_OUT = 21, FTTR_ERR_CONN_FINISH = 22,
  FTTR_ERR_AUTH_DENIED = 23, FTTR_ERR_BAD_DATA = 24, FTTR_ERR_BAD_STATE = 25, FTTR_ERR_CANT_CREATE_TARGET_FILE = 26,
  FTTR_ERR_CLOSESOCKET = 0x200, FTTR_ERR_AUTHNOTEXIST = 0x201, FTTR_ERR_SOCKTNOTEXIST = 0x202,
  FTTR_ERR_PROGRESS = 0x203,  // a progress report, not an error
  FTTR_ERR_OPERATE = 0x204, FTTR_ERR_PDUUNKOWN = 0x205, FTTR_ERR_DATA = 0x206, FTTR_ERR_CONN = 0x207,
  FTTR_ERR_DISK_FINISH = 0x208, FTTR_ERR_FILE_DELETE = 0x209, FTTR_NODE_STATE_CHANGED = 0x20A,
};

// "FTTR_OPERATE_SUCCESS" and so on; "FTTR_UNKNOWN" for any other value.
const char* ResultName(uint16_t result);

// Limits and time limits.
inline constexpr int FTT_SECRET_KEY_LENGTH = 16;
inline constexpr int FTT_AUTH_CODE_LENGTH = 16;
inline constexpr uint32_t FTT_MAX_PACKAGE_SIZE = 32768;  // data bytes per download response
inline constexpr int NEDDISK_RATE = 1000;               // progress in tenths of a percent
inline constexpr uint32_t PROGRESS_DATA_LEN_MAX = 65536;  // the temporary file beyond the data
inline constexpr unsigned ELAPSE_WAIT_CONNECT = 300000;   // ms
inline constexpr unsigned ELAPSE_TASK_CONNECT_LIMIT = 2 * ELAPSE_WAIT_CONNECT + 30000;
inline constexpr unsigned ELAPSE_REMOVE_TIMER = 600000;  // ms

// The node record handed to AddNode: 40 bytes.
struct NodeRecord {
  uint32_t ulSize = 40;
  int32_t nMaxConnCnt = 1;
  char authCode[FTT_AUTH_CODE_LENGTH] = {};
  char szSecretKey[FTT_SECRET_KEY_LENGTH] = {};
};
static_assert(sizeof(NodeRecord) == 40);

}  // namespace ftt
