// The camera's records through its requests: round trips, the defect-list
// limits and the buffer-size checks.
#include <algorithm>
#include <cstring>

#include "sim_channel.h"

namespace simtest {
namespace {

using Records = SimCamera;

TEST_F(Records, RegistersRoundTripPerAddress) {
    const std::uint32_t pairs[][2] = {{0, 1}, {0x10, 0xDEADBEEF}, {0xFFFFFFFF, 7}};
    for (const auto &pair : pairs) {
        std::uint32_t address = pair[0], value = pair[1];
        ASSERT_EQ(Run(22, &address, 4).word[0], 0u);
        ASSERT_EQ(Run(23, &value, 4).word[0], 0u);
    }
    for (const auto &pair : pairs) {
        std::uint32_t address = pair[0], value = 0;
        ASSERT_EQ(Run(22, &address, 4).word[0], 0u);
        ASSERT_EQ(Run(24, &value, 4).word[0], 0u);
        EXPECT_EQ(value, pair[1]) << pair[0];
        std::uint32_t stored = 0;
        ASSERT_EQ(TqsimReadRegister(camera_, pair[0], &stored), 0);
        EXPECT_EQ(stored, pair[1]);
    }
}

TEST_F(Records, RegisterAccessNeedsASelectedAddress) {
    std::uint32_t value = 5;
    EXPECT_EQ(Run(23, &value, 4).word[0], TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(Run(24, &value, 4).word[0], TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(value, 5u);
}

// A full register file refuses a new address; one already stored can still
// be written.
TEST_F(Records, RegisterFileCapacity) {
    for (std::uint32_t address = 0; address < TQSIM_REGISTER_CAPACITY; ++address) {
        ASSERT_EQ(TqsimWriteRegister(camera_, address, address + 1), 0);
    }
    EXPECT_EQ(TqsimWriteRegister(camera_, 5000, 1), -1);
    std::uint32_t address = 5000, value = 9;
    ASSERT_EQ(Run(22, &address, 4).word[0], 0u);
    EXPECT_EQ(Run(23, &value, 4).word[0], TQDEV_RESULT_INVALID_PARAMETER);
    address = 7;
    ASSERT_EQ(Run(22, &address, 4).word[0], 0u);
    EXPECT_EQ(Run(23, &value, 4).word[0], 0u);
    std::uint32_t stored = 0;
    ASSERT_EQ(TqsimReadRegister(camera_, 7, &stored), 0);
    EXPECT_EQ(stored, 9u);
}

TEST_F(Records, DefectListWritesOfUpTo128Entries) {
    std::vector<TQDEV_FLAW> flaws(129);
    for (std::uint32_t i = 0; i < flaws.size(); ++i) {
        flaws[i] = {{i, i * 2, i * 3, i * 4, i * 5}};
    }
    EXPECT_EQ(Run(13, flaws.data(), 129 * 20).word[0], TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(Run(13, flaws.data(), 21).word[0], TQDEV_RESULT_INVALID_BUFFER);
    ASSERT_EQ(Run(13, flaws.data(), 128 * 20).word[0], 0u);
    ASSERT_EQ(Run(13, flaws.data() + 128, 20).word[0], 0u) << "writes append";

    std::uint32_t reply[2] = {};
    ASSERT_EQ(Run(11, reply, sizeof reply).word[0], 0u);
    EXPECT_EQ(reply[0], 129u);
    EXPECT_EQ(reply[1], static_cast<std::uint32_t>(TQSIM_FLAW_CAPACITY));
    std::vector<TQDEV_FLAW> read(129);
    ASSERT_EQ(Run(12, read.data(), 129 * 20).word[0], 0u);
    EXPECT_EQ(std::memcmp(read.data(), flaws.data(), 129 * 20), 0);
    EXPECT_EQ(Run(12, read.data(), 130 * 20).word[0], TQDEV_RESULT_INVALID_BUFFER)
        << "more entries than stored";

    ASSERT_EQ(Run(13, nullptr, 0).word[0], 0u) << "an empty write clears the list";
    std::uint32_t count = 1;
    ASSERT_EQ(TqsimGetFlaws(camera_, nullptr, 0, &count), 0);
    EXPECT_EQ(count, 0u);
}

TEST_F(Records, DefectListCapacity) {
    std::vector<TQDEV_FLAW> full(TQSIM_FLAW_CAPACITY);
    ASSERT_EQ(TqsimSetFlaws(camera_, full.data(), TQSIM_FLAW_CAPACITY), 0);
    TQDEV_FLAW one{};
    EXPECT_EQ(Run(13, &one, 20).word[0], TQDEV_RESULT_INVALID_PARAMETER);
    std::uint32_t count = 0;
    ASSERT_EQ(TqsimGetFlaws(camera_, nullptr, 0, &count), 0);
    EXPECT_EQ(count, static_cast<std::uint32_t>(TQSIM_FLAW_CAPACITY));
}

TEST_F(Records, WrittenValuesReadBack) {
    const float matrix[9] = {1.5f, -2, 3, 0.25f, 5, 6, 7, 8, -9};
    ASSERT_EQ(Run(15, const_cast<float *>(matrix), sizeof matrix).word[0], 0u);
    std::uint32_t nine[9] = {};
    ASSERT_EQ(Run(14, nine, sizeof nine).word[0], 0u);
    EXPECT_EQ(std::memcmp(nine, matrix, sizeof nine), 0);

    std::uint16_t dark = 0xFFFF, darkRead = 0;
    ASSERT_EQ(Run(17, &dark, 2).word[0], 0u);
    ASSERT_EQ(Run(18, &darkRead, 2).word[0], 0u);
    EXPECT_EQ(darkRead, 0xFFFF);

    std::uint8_t bayer = 3, bayerRead = 0;
    ASSERT_EQ(Run(16, &bayer, 1).word[0], 0u);
    ASSERT_EQ(TqsimGetBayerPattern(camera_, &bayerRead), 0);
    EXPECT_EQ(bayerRead, 3);

    float gains[3] = {1.0f, 1.25f, 0.5f}, stored[4] = {};
    ASSERT_EQ(Run(19, gains, sizeof gains).word[0], 0u);
    std::uint32_t count = 0;
    ASSERT_EQ(TqsimGetTapGains(camera_, stored, 4, &count), 0);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(std::memcmp(stored, gains, sizeof gains), 0);
    std::vector<float> tooMany(TQSIM_TAP_GAIN_MAX + 1, 1.0f);
    EXPECT_EQ(Run(19, tooMany.data(), static_cast<DWORD>(tooMany.size() * 4)).word[0],
              TQDEV_RESULT_INVALID_PARAMETER);
    EXPECT_EQ(Run(19, gains, 6).word[0], TQDEV_RESULT_INVALID_BUFFER);

    const std::uint32_t pair[2] = {0x12345678, 0x9ABCDEF0};
    ASSERT_EQ(TqsimSetDriverPair(camera_, pair), 0);
    std::uint32_t pairRead[2] = {};
    ASSERT_EQ(Run(20, pairRead, sizeof pairRead).word[0], 0u);
    EXPECT_EQ(pairRead[0], pair[0]);
    EXPECT_EQ(pairRead[1], pair[1]);
}

TEST_F(Records, InformationRecordsComeFromTheCamera) {
    TQDEV_CAMERA_INFO info{};
    ASSERT_EQ(Run(2, &info, sizeof info).word[0], 0u);
    EXPECT_EQ(info.capability_flags, config_.capability_flags);

    TQDEV_EXTENDED_CAMERA_INFO extended{};
    extended.driver_data[0] = 0xEE;
    ASSERT_EQ(TqsimSetExtendedInfo(camera_, &extended), 0);
    TQDEV_EXTENDED_CAMERA_INFO extendedRead{};
    ASSERT_EQ(Run(3, &extendedRead, sizeof extendedRead).word[0], 0u);
    EXPECT_EQ(std::memcmp(&extendedRead, &extended, sizeof extended), 0);

    TQDEV_DEVICE_STATE state{};
    state.driver_data[87] = 0x5A;
    ASSERT_EQ(TqsimSetDeviceState(camera_, &state), 0);
    TQDEV_DEVICE_STATE stateRead{};
    ASSERT_EQ(Run(9, &stateRead, sizeof stateRead).word[0], 0u);
    EXPECT_EQ(stateRead.driver_data[87], 0x5A);
}

// A buffer smaller than the record is refused and nothing is written into it.
TEST_F(Records, ShortBuffersAreRefusedUntouched) {
    struct Case {
        std::uint32_t number;
        DWORD size;
    };
    const Case cases[] = {{2, 219}, {3, 271}, {9, 87}, {11, 7},  {14, 35}, {18, 1},
                          {20, 7},  {1, 7},   {6, 67}, {15, 35}, {17, 1},  {22, 3}};
    TQDEV_CAPTURE_SETTINGS settings{};
    for (const Case &c : cases) {
        std::vector<std::uint8_t> buffer(c.size + 16, 0xCC);
        const TQDEV_STATUS status =
            Run(c.number, buffer.data(), c.size, c.number == 6 ? &settings : nullptr);
        EXPECT_EQ(status.word[0], TQDEV_RESULT_INVALID_BUFFER) << c.number;
        EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xCC),
                  static_cast<std::ptrdiff_t>(buffer.size()))
            << c.number;
    }
    float matrix[9] = {};
    ASSERT_EQ(TqsimGetMatrix(camera_, matrix), 0);
    EXPECT_EQ(matrix[0], 1.0f) << "the refused matrix write left the identity";
}

} // namespace
} // namespace simtest
