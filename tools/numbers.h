// Numbers as users type them on the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

// A 32-bit unsigned number, decimal or hex with 0x; nothing else may follow.
std::optional<uint32_t> ParseU32(const std::string &text);

// A number of seconds, at most a day; above 0, or from 0 with allowZero. Its
// message states the range as users write numbers.
CLI::Validator SecondsRange(bool allowZero);
