// Messages and command numbers of the command worker.
#pragma once

#include <cstdint>

namespace valdor {

// The response code of a request the unit carried out.
inline constexpr uint8_t kPositiveResponse = 0xE0;

// Appended when a command cannot be handed to the worker.
inline constexpr char kRefusedMessage[] = "Message send to SendThread error";

// Window thread -> worker: first parameter the command number, second 0.
inline constexpr unsigned WKM_COMMAND = 128;

enum Command : int {
    CMD_STATUS_READ = 1,
    CMD_MECHA_RESET = 2,
    CMD_BILL_COUNT = 3,
    CMD_BILL_COUNT_FRONT = 4,
    CMD_BILL_COUNT_REAR = 5,
    CMD_BILL_TRANSPORT = 6,
    CMD_BILL_RETRIEVAL = 7,
    CMD_CANCEL = 8,
    CMD_BILL_COUNT_REJECT = 9,
    CMD_LOG_READ_CLEAR = 10,
    CMD_LOG_ALL_CLEAR = 11,
    CMD_SENSOR_TRANSITION = 12,
    CMD_OPERATIONAL_LOG = 13,
    CMD_DEVICE_INFORMATION = 14,
    CMD_BILL_DIAGNOSIS = 15,
    CMD_LOG_WITH_MSG = 16,
    CMD_DOWNLOAD_BLOCK = 100,
};

}  // namespace valdor
