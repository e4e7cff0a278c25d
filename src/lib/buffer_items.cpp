#include "lib/buffer_items.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace caldrith {

std::optional<ItemFormat> parse_item_format(const char* format, bool byte_order_allowed) {
    bool native_sizes = true;
    bool big_endian = std::endian::native == std::endian::big;
    switch (*format) {
        case '@':
            ++format;
            break;
        case '=':
        case '<':
        case '>':
        case '!':
            if (!byte_order_allowed) {
                return std::nullopt;
            }
            native_sizes = false;
            big_endian = *format == '=' ? big_endian : (*format == '>' || *format == '!');
            ++format;
            break;
        default:
            break;
    }
    if (format[0] == '\0' || format[1] != '\0') {
        return std::nullopt;
    }
    const bool swapped = big_endian != (std::endian::native == std::endian::big);
    const std::size_t long_size = native_sizes ? std::size_t{sizeof(long)} : 4;
    auto item = [swapped](ItemKind kind, std::size_t size) { return ItemFormat{kind, size, swapped}; };
    using enum ItemKind;
    switch (format[0]) {
        case 'b': return item(signed_integer, 1);
        case 'B': return item(unsigned_integer, 1);
        case 'h': return item(signed_integer, 2);
        case 'H': return item(unsigned_integer, 2);
        case 'i': return item(signed_integer, 4);
        case 'I': return item(unsigned_integer, 4);
        case 'l': return item(signed_integer, long_size);
        case 'L': return item(unsigned_integer, long_size);
        case 'q': return item(signed_integer, 8);
        case 'Q': return item(unsigned_integer, 8);
        case 'e': return item(binary_float, 2);
        case 'f': return item(binary_float, 4);
        case 'd': return item(binary_float, 8);
        case '?': return item(boolean, 1);
        case 'n':
            return native_sizes ? std::optional{item(signed_integer, std::size_t{sizeof(std::ptrdiff_t)})}
                                : std::nullopt;
        case 'N':
            return native_sizes ? std::optional{item(unsigned_integer, std::size_t{sizeof(std::size_t)})}
                                : std::nullopt;
        default: return std::nullopt;
    }
}

namespace {

// Each takes the item's bits in machine byte order and gives its double, or
// nothing where the general rule must decide.

template <class Integer>
std::optional<double> integer_value(std::make_unsigned_t<Integer> bits) {
    // Rounded to nearest, ties to even, as int.__float__ and the integer
    // scalars' own conversions round.
    return static_cast<double>(static_cast<Integer>(bits));
}

std::optional<double> boolean_value(std::uint8_t bits) {
    if (bits > 1) {
        return std::nullopt;
    }
    return bits == 1 ? 1.0 : 0.0;
}

std::optional<double> double_value(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// The conversion that numpy's float32 scalar, array.array and memoryview
// all apply (a NaN is quietened by it on every route).
std::optional<double> single_value(std::uint32_t bits) {
    return static_cast<double>(std::bit_cast<float>(bits));
}

// IEEE binary16: 1 sign bit, 5 exponent bits (bias 15), 10 fraction bits.
// Every finite value and both infinities are doubles exactly. A NaN is left
// to the item's own conversion: numpy's may be the processor's, which
// quietens it, or a bit-wise one, which keeps it signalling.
std::optional<double> half_value(std::uint16_t bits) {
    const unsigned exponent = (bits >> 10) & 0x1fu;
    const unsigned fraction = bits & 0x3ffu;
    double magnitude;
    if (exponent == 0x1f) {
        if (fraction != 0) {
            return std::nullopt;
        }
        magnitude = std::numeric_limits<double>::infinity();
    } else if (exponent == 0) {
        magnitude = fraction * 0x1p-24;
    } else {
        // (1024 + fraction) × 2^(exponent − 25), the power of two built from
        // its exponent bits: both factors and the product are exact.
        const double scale = std::bit_cast<double>(std::uint64_t{exponent + 1023 - 25} << 52);
        magnitude = (1024 + fraction) * scale;
    }
    return (bits & 0x8000u) != 0 ? -magnitude : magnitude;
}

template <class Bits>
Bits load(const char* address, bool swapped) {
    std::array<unsigned char, sizeof(Bits)> raw;
    std::memcpy(raw.data(), address, sizeof(Bits));
    if (swapped) {
        std::reverse(raw.begin(), raw.end());
    }
    return std::bit_cast<Bits>(raw);
}

// Appends the value of every item; false at the first item without one.
template <class Bits, std::optional<double> (*Value)(Bits)>
bool read_all(const char* first, std::ptrdiff_t count, std::ptrdiff_t stride, bool swapped,
              std::vector<double>& values) {
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::optional<double> value = Value(load<Bits>(first + i * stride, swapped));
        if (!value) {
            return false;
        }
        values.push_back(*value);
    }
    return true;
}

using Reader = bool (*)(const char*, std::ptrdiff_t, std::ptrdiff_t, bool, std::vector<double>&);

Reader reader_for(const ItemFormat& format) {
    switch (format.kind) {
        case ItemKind::boolean: return read_all<std::uint8_t, boolean_value>;
        case ItemKind::binary_float:
            switch (format.size) {
                case 2: return read_all<std::uint16_t, half_value>;
                case 4: return read_all<std::uint32_t, single_value>;
                default: return read_all<std::uint64_t, double_value>;
            }
        case ItemKind::signed_integer:
            switch (format.size) {
                case 1: return read_all<std::uint8_t, integer_value<std::int8_t>>;
                case 2: return read_all<std::uint16_t, integer_value<std::int16_t>>;
                case 4: return read_all<std::uint32_t, integer_value<std::int32_t>>;
                default: return read_all<std::uint64_t, integer_value<std::int64_t>>;
            }
        case ItemKind::unsigned_integer:
            switch (format.size) {
                case 1: return read_all<std::uint8_t, integer_value<std::uint8_t>>;
                case 2: return read_all<std::uint16_t, integer_value<std::uint16_t>>;
                case 4: return read_all<std::uint32_t, integer_value<std::uint32_t>>;
                default: return read_all<std::uint64_t, integer_value<std::uint64_t>>;
            }
    }
    return nullptr;
}

}  // namespace

bool read_items(const ItemFormat& format, const char* first, std::ptrdiff_t count, std::ptrdiff_t stride,
                std::vector<double>& values) {
    return reader_for(format)(first, count, stride, format.swapped, values);
}

}  // namespace caldrith
