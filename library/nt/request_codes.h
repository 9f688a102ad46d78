// The driver's control codes: the numbered requests of the camera operations
// and the three codes the device channel sends on its own.
#pragma once

#include <array>
#include <cstdint>

#include "tqdev_protocol.h"

constexpr uint32_t kSettingsCode = TQPROTO_SETTINGS_CODE;
constexpr uint32_t kStatusCode = TQPROTO_STATUS_CODE;
constexpr uint32_t kCancelCode = TQPROTO_CANCEL_CODE;
constexpr uint32_t kInvalidCode = 0xFFFFFFFF;

constexpr uint32_t kRequestCount = TQPROTO_REQUEST_COUNT;

// Indexed by request number.
constexpr std::array<uint32_t, kRequestCount> kRequestCodes = TQPROTO_REQUEST_CODES;
constexpr std::array<uint32_t, kRequestCount> kRequestDirections = TQPROTO_REQUEST_DIRECTIONS;

// The control code of a request number, or kInvalidCode outside the table.
constexpr uint32_t RequestCode(uint32_t request) {
    return request < kRequestCount ? kRequestCodes[request] : kInvalidCode;
}

// Whether the driver writes the buffer of this code; every other code reads
// its buffer. The status transfer writes the status record.
constexpr bool IsOutputCode(uint32_t code) {
    if (code == kStatusCode) {
        return true;
    }
    for (uint32_t request = 0; request < kRequestCount; ++request) {
        if (kRequestCodes[request] == code) {
            return kRequestDirections[request] == TQPROTO_OUT;
        }
    }
    return false;
}
