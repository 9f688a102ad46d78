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
