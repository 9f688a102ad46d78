#include "numbers.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

std::optional<uint32_t> ParseU32(const std::string &text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *digits = text.c_str() + (hex ? 2 : 0);
    // strtoull would accept a sign or blanks in front; a number starts with a digit.
    if (*digits < '0' || *digits > '9') {
        if (!hex || !std::isxdigit(static_cast<unsigned char>(*digits))) {
            return std::nullopt;
        }
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(digits, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

CLI::Validator SecondsRange(bool allowZero) {
    constexpr double kDay = 86400;
    return CLI::Validator(
        [allowZero](std::string &text) -> std::string {
            double value = 0;
            const bool number = CLI::detail::lexical_cast(text, value);
            if (number && (allowZero ? value >= 0 : value > 0) && value <= kDay) {
                return "";
            }
            return allowZero ? "expected 0 to 86400 seconds"
                             : "expected more than 0 and at most 86400 seconds";
        },
        "SECONDS");
}
