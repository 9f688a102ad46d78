// The driver's control codes: the numbered requests of the camera operations
// and the three codes the device channel sends on its own.
#pragma once

#include <array>
#include <cstdint>

// Composes a control code as the platform's CTL_CODE does.
constexpr uint32_t ControlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                               uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

constexpr uint32_t kDeviceType = 0xA300;
constexpr uint32_t kMethodBuffered = 0;
constexpr uint32_t kMethodInDirect = 1;
constexpr uint32_t kAnyAccess = 0;

constexpr uint32_t BufferedCode(uint32_t function) {
    return ControlCode(kDeviceType, function, kMethodBuffered, kAnyAccess);
}

constexpr uint32_t kSettingsCode = BufferedCode(0xA48); // 44-byte capture settings, input
constexpr uint32_t kStatusCode = BufferedCode(0xA5C);   // 28-byte status record, output
constexpr uint32_t kCancelCode = BufferedCode(0xA5D);   // no buffer
constexpr uint32_t kInvalidCode = 0xFFFFFFFF;

constexpr uint32_t kRequestCount = 25;

// Indexed by request number. The numbering is the library's own, not the
// order of the driver's function numbers.
constexpr std::array<uint32_t, kRequestCount> kRequestCodes = {
    ControlCode(kDeviceType, 0xA44, kMethodInDirect, kAnyAccess), // 0 frame data
    BufferedCode(0xA4F),                                          // 1 capture state
    BufferedCode(0xA45),                                          // 2 camera info
    BufferedCode(0xA4E),                                          // 3 extended info
    BufferedCode(0xA30),                                          // 4
    BufferedCode(0xA47),                                          // 5
    BufferedCode(0xA49),                                          // 6 frame descriptor
    BufferedCode(0xA48),                                          // 7
    BufferedCode(0xA46),                                          // 8 integration time
    BufferedCode(0xA4D),                                          // 9 device state
    BufferedCode(0xA50),                                          // 10 clear
    BufferedCode(0xA51),                                          // 11 flaw count
    BufferedCode(0xA52),                                          // 12 read flaws
    BufferedCode(0xA53),                                          // 13 write flaws
    BufferedCode(0xA54),                                          // 14 matrix
    BufferedCode(0xA55),                                          // 15 write matrix
    BufferedCode(0xA56),                                          // 16 Bayer pattern
    BufferedCode(0xA57),                                          // 17 average dark
    BufferedCode(0xA58),                                          // 18 read dark
    BufferedCode(0xA59),                                          // 19 tap gains
    BufferedCode(0xA5A),                                          // 20 driver pair
    BufferedCode(0xA5B),                                          // 21 homing
    BufferedCode(0xA4A),                                          // 22 register address
    BufferedCode(0xA4B),                                          // 23 register value
    BufferedCode(0xA4C),                                          // 24 read register
};

// Codes whose buffer the driver writes; every other code reads its buffer.
constexpr std::array<uint32_t, 15> kOutputCodes = {
    0xA30028C0, 0xA3002911, 0xA3002914, 0xA3002918, 0xA3002924, 0xA3002930, 0xA3002934, 0xA3002938,
    0xA300293C, 0xA3002944, 0xA3002948, 0xA3002950, 0xA3002960, 0xA3002968, 0xA3002970,
};

// The control code of a request number, or kInvalidCode outside the table.
constexpr uint32_t RequestCode(uint32_t request) {
    return request < kRequestCount ? kRequestCodes[request] : kInvalidCode;
}

constexpr bool IsOutputCode(uint32_t code) {
    for (uint32_t output : kOutputCodes) {
        if (output == code) {
            return true;
        }
    }
    return false;
}
