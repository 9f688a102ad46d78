// Numbers as users type them on the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A 32-bit unsigned number, decimal or hex with 0x; nothing else may follow.
std::optional<uint32_t> ParseU32(const std::string &text);
