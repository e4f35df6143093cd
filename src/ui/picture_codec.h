#pragma once
// The window's bitmaps are embedded packed (scripts/picture_codec.py packs
// them): "TLZ1", the unpacked size, then LZ77 commands (literal runs, and
// copies from up to 64 KiB back). Unpacking them and finding the parts of the
// BMP file inside is portable, so it is tested natively on any bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tessaloom::ui {

// The bytes a packed picture holds; nothing when `packed` is malformed in any
// way. With `prefix` smaller than the unpacked size, only the first `prefix`
// bytes (a file's header), without checking the rest.
std::optional<std::vector<std::uint8_t>> UnpackPicture(std::span<const std::uint8_t> packed,
                                                       std::size_t prefix = SIZE_MAX);

// Where a BMP file of 24 or 32 bits a pixel keeps its parts: the
// BITMAPINFOHEADER (no colour table) at kBmpInfoOffset, the pixels at `bits`.
inline constexpr std::size_t kBmpInfoOffset = 14;
inline constexpr std::size_t kBmpHeaderSize = 54;
struct BmpLayout {
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: top-down rows
    std::size_t bits = 0;
    std::size_t bitsSize = 0;
};

// The layout of a BMP file; nothing unless it is uncompressed, 24 or 32 bits
// a pixel, and (`withPixels`) all its pixels lie within `file`.
std::optional<BmpLayout> ReadBmp(std::span<const std::uint8_t> file, bool withPixels = true);

}  // namespace tessaloom::ui
