#include "ui/picture_codec.h"

#include <algorithm>
#include <cstdlib>

namespace tessaloom::ui {
namespace {

constexpr std::uint8_t kMagic[] = {'T', 'L', 'Z', '1'};
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kLong = 0x7F;  // a copy whose length goes on in two more bytes
// Every five packed bytes give at most 65665 bytes: a larger size is a lie.
constexpr std::size_t kMaxRatio = (kLong + 0xFFFF + kMinMatch) / 5 + 1;

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at] | (bytes[at + 1] << 8U) | (bytes[at + 2] << 16U) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24U);
}

std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8U));
}

}  // namespace

std::optional<std::vector<std::uint8_t>> UnpackPicture(std::span<const std::uint8_t> packed, std::size_t prefix) {
    if (packed.size() < 8 || !std::equal(std::begin(kMagic), std::end(kMagic), packed.begin())) {
        return std::nullopt;
    }
    const std::size_t size = Le32(packed, 4);
    if (size > packed.size() * kMaxRatio) {
        return std::nullopt;
    }
    const std::size_t wanted = std::min(size, prefix);
    std::vector<std::uint8_t> out;
    out.reserve(wanted);
    std::size_t at = 8;
    while (out.size() < wanted) {
        if (at >= packed.size()) {
            return std::nullopt;
        }
        const std::uint8_t control = packed[at++];
        if (control < 0x80) {
            const std::size_t count = control + 1U;
            if (count > packed.size() - at || count > size - out.size()) {
                return std::nullopt;
            }
            out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
                       packed.begin() + static_cast<std::ptrdiff_t>(at + count));
            at += count;
        } else {
            const bool isLong = (control & 0x7FU) == kLong;
            if (packed.size() - at < (isLong ? 4U : 2U)) {
                return std::nullopt;
            }
            const std::size_t distance = Le16(packed, at);
            const std::size_t count = (control & 0x7FU) + kMinMatch + (isLong ? Le16(packed, at + 2) : 0U);
            at += isLong ? 4 : 2;
            if (distance == 0 || distance > out.size() || count > size - out.size()) {
                return std::nullopt;
            }
            // Byte by byte: a copy may read what it has just written.
            for (std::size_t i = 0; i < count; ++i) {
                out.push_back(out[out.size() - distance]);
            }
        }
    }
    if (wanted == size && at != packed.size()) {
        return std::nullopt;  // trailing bytes: not what the packer wrote
    }
    out.resize(wanted);
    return out;
}

std::optional<BmpLayout> ReadBmp(std::span<const std::uint8_t> file, bool withPixels) {
    if (file.size() < kBmpHeaderSize || file[0] != 'B' || file[1] != 'M') {
        return std::nullopt;
    }
    const std::uint32_t bits = Le32(file, 10);
    const std::uint32_t infoSize = Le32(file, kBmpInfoOffset);
    const auto width = static_cast<std::int32_t>(Le32(file, 18));
    const auto height = static_cast<std::int32_t>(Le32(file, 22));
    const std::uint16_t bitCount = Le16(file, 28);
    const std::uint32_t compression = Le32(file, 30);
    // Sides up to 32767 pixels: no product below overflows.
    constexpr std::int32_t kMaxSide = 0x7FFF;
    if (infoSize != 40 || bits < kBmpHeaderSize || Le16(file, 26) != 1 || (bitCount != 24 && bitCount != 32) ||
        compression != 0 || width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide) {
        return std::nullopt;
    }
    const std::size_t stride = (static_cast<std::size_t>(width) * bitCount + 31) / 32 * 4;
    const BmpLayout layout{width, height, bits, stride * static_cast<std::size_t>(std::abs(height))};
    if (withPixels && (layout.bits > file.size() || layout.bitsSize > file.size() - layout.bits)) {
        return std::nullopt;
    }
    return layout;
}

}  // namespace tessaloom::ui
