// Reading of the unsigned decimal counts found in the pool's environment
// variables and control-group files.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace caldrith {

// The whole of `text` as an unsigned 64-bit integer: an optional single '+',
// then one or more ASCII digits (leading zeros allowed) and nothing else.
// Blanks, a '-', any other character, an empty text, a lone sign and values
// above 2^64 - 1 give nothing.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

}  // namespace caldrith
