// The one way this library looks at untrusted bytes: a view that checks every
// offset + length (in 64-bit arithmetic that cannot wrap) before it reads, and
// answers std::nullopt instead of reading past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace codesign {

enum class Endian { Big, Little };

inline std::optional<std::uint64_t> checkedAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
    return sum;
}

inline std::optional<std::uint64_t> checkedMul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product;
    if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
    return product;
}

// True when [offset, offset + length) lies inside [0, size).
inline bool rangeFits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    auto end = checkedAdd(offset, length);
    return end && *end <= size;
}

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> bytes, Endian endian = Endian::Big)
        : bytes_(bytes), endian_(endian) {}

    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    Endian endian() const { return endian_; }
    ByteReader withEndian(Endian endian) const { return ByteReader(bytes_, endian); }

    bool contains(std::uint64_t offset, std::uint64_t length) const {
        return rangeFits(offset, length, bytes_.size());
    }

    // Integers in this reader's byte order.
    std::optional<std::uint8_t> u8(std::uint64_t offset) const { return read<std::uint8_t>(offset, endian_); }
    std::optional<std::uint16_t> u16(std::uint64_t offset) const { return read<std::uint16_t>(offset, endian_); }
    std::optional<std::uint32_t> u32(std::uint64_t offset) const { return read<std::uint32_t>(offset, endian_); }
    std::optional<std::uint64_t> u64(std::uint64_t offset) const { return read<std::uint64_t>(offset, endian_); }

    // Integers in a stated byte order.
    std::optional<std::uint16_t> u16be(std::uint64_t offset) const { return read<std::uint16_t>(offset, Endian::Big); }
    std::optional<std::uint32_t> u32be(std::uint64_t offset) const { return read<std::uint32_t>(offset, Endian::Big); }
    std::optional<std::uint64_t> u64be(std::uint64_t offset) const { return read<std::uint64_t>(offset, Endian::Big); }
    std::optional<std::uint16_t> u16le(std::uint64_t offset) const { return read<std::uint16_t>(offset, Endian::Little); }
    std::optional<std::uint32_t> u32le(std::uint64_t offset) const { return read<std::uint32_t>(offset, Endian::Little); }
    std::optional<std::uint64_t> u64le(std::uint64_t offset) const { return read<std::uint64_t>(offset, Endian::Little); }

    std::optional<std::span<const std::uint8_t>> span(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length)) return std::nullopt;
        return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }

    // A reader over [offset, offset + length), keeping this reader's byte order.
    std::optional<ByteReader> sub(std::uint64_t offset, std::uint64_t length) const {
        auto s = span(offset, length);
        if (!s) return std::nullopt;
        return ByteReader(*s, endian_);
    }

    // A reader over everything from offset to the end.
    std::optional<ByteReader> from(std::uint64_t offset) const {
        if (offset > bytes_.size()) return std::nullopt;
        return sub(offset, bytes_.size() - offset);
    }

    // The NUL-terminated string starting at offset, without its NUL. None when
    // the offset is outside the view or no NUL follows it inside the view.
    std::optional<std::string_view> cString(std::uint64_t offset) const {
        if (offset >= bytes_.size()) return std::nullopt;
        const auto rest = bytes_.subspan(static_cast<std::size_t>(offset));
        for (std::size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == 0) return std::string_view(reinterpret_cast<const char*>(rest.data()), i);
        }
        return std::nullopt;
    }

private:
    template <class T>
    std::optional<T> read(std::uint64_t offset, Endian endian) const {
        if (!contains(offset, sizeof(T))) return std::nullopt;
        const std::uint8_t* p = bytes_.data() + offset;
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            const std::size_t at = endian == Endian::Big ? i : sizeof(T) - 1 - i;
            value = static_cast<T>((value << 8) | p[at]);
        }
        return value;
    }

    std::span<const std::uint8_t> bytes_;
    Endian endian_ = Endian::Big;
};

}  // namespace codesign
