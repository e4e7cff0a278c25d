// Items of a one-dimensional buffer, described by a format in the struct
// module's syntax, as doubles: integers, booleans and binary floats, in
// either byte order, contiguous or strided. Free of Python objects.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace caldrith {

enum class ItemKind { signed_integer, unsigned_integer, binary_float, boolean };

struct ItemFormat {
    ItemKind kind;
    std::size_t size;  // in bytes: 1, 2, 4 or 8
    bool swapped;      // stored in the byte order opposite to the machine's
};

// A single item code (b B h H i I l L q Q n N e f d ?) with an optional
// byte-order prefix: none or '@' (native sizes and order), '=' (standard
// sizes, native order), '<', '>' or '!' (standard sizes, little or big end
// first); the prefixes other than '@' only where `byte_order_allowed`.
// Anything else (several items, counts, 'Zd', 'O', 's', 'g', ...) is none.
std::optional<ItemFormat> parse_item_format(const char* format, bool byte_order_allowed);

// Appends the value of each of the `count` items, the first at `first`, the
// others `stride` bytes apart (unaligned, negative and zero strides allowed).
// Integers are rounded to nearest, ties to even, as int.__float__ rounds;
// floats and booleans (0 or 1) are exact. Returns false, with some values
// appended, at the first item that has no value fixed bit for bit: a
// half-precision NaN, whose payload converters treat differently, or a
// boolean byte other than 0 or 1.
bool read_items(const ItemFormat& format, const char* first, std::ptrdiff_t count, std::ptrdiff_t stride,
                std::vector<double>& values);

}  // namespace caldrith
