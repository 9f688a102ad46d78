// The request table and the directions against the driver interface's list.
#include <gtest/gtest.h>

#include <cstdint>

#include "request_codes.h"

namespace {

struct RequestRow {
    uint32_t number;
    uint32_t code;
    bool output;
};

// The driver interface as written down for the driver, not derived from the
// library's composition of the codes.
constexpr RequestRow kDriverTable[] = {
    {0, 0xA3002911, true},   {1, 0xA300293C, true},   {2, 0xA3002914, true},
    {3, 0xA3002938, true},   {4, 0xA30028C0, true},   {5, 0xA300291C, false},
    {6, 0xA3002924, true},   {7, 0xA3002920, false},  {8, 0xA3002918, true},
    {9, 0xA3002934, true},   {10, 0xA3002940, false}, {11, 0xA3002944, true},
    {12, 0xA3002948, true},  {13, 0xA300294C, false}, {14, 0xA3002950, true},
    {15, 0xA3002954, false}, {16, 0xA3002958, false}, {17, 0xA300295C, false},
    {18, 0xA3002960, true},  {19, 0xA3002964, false}, {20, 0xA3002968, true},
    {21, 0xA300296C, false}, {22, 0xA3002928, false}, {23, 0xA300292C, false},
    {24, 0xA3002930, true},
};

constexpr bool TableMatches() {
    for (const RequestRow &row : kDriverTable) {
        if (RequestCode(row.number) != row.code || IsOutputCode(row.code) != row.output) {
            return false;
        }
    }
    return true;
}
static_assert(TableMatches());
static_assert(RequestCode(24) == 0xA3002930);
static_assert(RequestCode(25) == 0xFFFFFFFF);
static_assert(kSettingsCode == 0xA3002920 && !IsOutputCode(kSettingsCode));
static_assert(kStatusCode == 0xA3002970 && IsOutputCode(kStatusCode));
static_assert(kCancelCode == 0xA3002974 && !IsOutputCode(kCancelCode));

TEST(RequestCodesTest, EveryNumberMapsAsTheDriverExpects) {
    for (const RequestRow &row : kDriverTable) {
        EXPECT_EQ(RequestCode(row.number), row.code) << "request " << row.number;
        EXPECT_EQ(IsOutputCode(row.code), row.output) << "request " << row.number;
    }
}

TEST(RequestCodesTest, NumbersBeyondTheTableHaveNoCode) {
    for (uint32_t number : {25u, 26u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(RequestCode(number), kInvalidCode) << number;
    }
}

TEST(RequestCodesTest, OnlyTheFifteenOutputCodesAreOutput) {
    // Neighbours of output codes, and values that are no code at all.
    for (uint32_t code : {0u, 0xFFFFFFFFu, 0xA3002910u, 0xA3002912u, 0xA3002971u, 0xA30028C4u}) {
        EXPECT_FALSE(IsOutputCode(code)) << std::hex << code;
    }
    int outputs = 0;
    for (uint32_t function = 0xA30; function <= 0xA5D; ++function) {
        for (uint32_t method = 0; method < 4; ++method) {
            outputs += IsOutputCode((0xA300u << 16) | (function << 2) | method) ? 1 : 0;
        }
    }
    EXPECT_EQ(outputs, 15);
}

} // namespace
