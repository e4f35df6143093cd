#include "ui/picture_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tessaloom::ui {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

// Packed by scripts/picture_codec.py.
const Bytes kPackedText = {0x54, 0x4C, 0x5A, 0x31, 0x15, 0x00, 0x00, 0x00, 0x02, 0x61,
                           0x62, 0x63, 0x8B, 0x03, 0x00, 0x03, 0x2D, 0x78, 0x79, 0x7A};
const Bytes kPackedZeros = {0x54, 0x4C, 0x5A, 0x31, 0x2C, 0x01, 0x00, 0x00,
                            0x00, 0x00, 0xFF, 0x01, 0x00, 0xA9, 0x00};  // a long copy
// A BMP file of 3 x 2 pixels, 24 bits each, as the pictures script saves them.
const Bytes kPackedBmp = {0x54, 0x4C, 0x5A, 0x31, 0x4E, 0x00, 0x00, 0x00, 0x03, 0x42, 0x4D, 0x4E, 0x00, 0x83, 0x01,
                          0x00, 0x00, 0x36, 0x80, 0x04, 0x00, 0x00, 0x28, 0x80, 0x04, 0x00, 0x00, 0x03, 0x80, 0x04,
                          0x00, 0x00, 0x02, 0x80, 0x04, 0x00, 0x02, 0x01, 0x00, 0x18, 0x82, 0x18, 0x00, 0x81, 0x06,
                          0x00, 0x01, 0xC4, 0x0E, 0x83, 0x04, 0x00, 0x85, 0x01, 0x00, 0x02, 0x1E, 0x14, 0x0A, 0x83,
                          0x03, 0x00, 0x83, 0x0C, 0x00, 0x02, 0x32, 0x64, 0xC8, 0x83, 0x0C, 0x00};
const Bytes kBmp = {0x42, 0x4D, 0x4E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00, 0x28, 0x00,
                    0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x18, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0xC4, 0x0E, 0x00, 0x00, 0xC4, 0x0E, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1E, 0x14, 0x0A, 0x1E, 0x14, 0x0A, 0x1E, 0x14, 0x0A, 0x00,
                    0x00, 0x00, 0x1E, 0x14, 0x0A, 0x32, 0x64, 0xC8, 0x1E, 0x14, 0x0A, 0x00, 0x00, 0x00};

TEST(PictureCodec, UnpacksWhatThePackerWrote) {
    EXPECT_EQ(UnpackPicture(kPackedText), Text("abcabcabcabcabcab-xyz"));
    EXPECT_EQ(UnpackPicture(kPackedZeros), Bytes(300, 0));
    EXPECT_EQ(UnpackPicture(kPackedBmp), kBmp);
    EXPECT_EQ(UnpackPicture(kPackedText, 5), Text("abcab"));  // a header only
    EXPECT_EQ(UnpackPicture(Bytes{'T', 'L', 'Z', '1', 0, 0, 0, 0}), Bytes{});
}

Bytes Patched(Bytes bytes, std::size_t at, std::vector<std::uint8_t> with) {
    bytes.resize(std::max(bytes.size(), at + with.size()));
    std::ranges::copy(with, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

TEST(PictureCodec, RejectsEveryMalformedInput) {
    const struct {
        const char* what;
        Bytes packed;
    } cases[] = {
        {"empty", {}},
        {"another magic", Patched(kPackedText, 0, {'T', 'L', 'Z', '2'})},
        {"larger than its commands", Patched(kPackedText, 4, {0x16})},
        {"smaller than its commands", Patched(kPackedText, 4, {0x14})},
        {"larger than any packing gives", Patched(kPackedZeros, 4, {0xFF, 0xFF, 0xFF, 0x7F})},
        {"trailing bytes", Patched(kPackedText, kPackedText.size(), {0x00, 0x41})},
        {"copy from distance 0", Patched(kPackedText, 13, {0x00, 0x00})},
        {"copy from before the start", Patched(kPackedText, 13, {0x04, 0x00})},
        {"copy from far before the start", Patched(kPackedText, 13, {0xFF, 0xFF})},
        {"copy first", Bytes{'T', 'L', 'Z', '1', 3, 0, 0, 0, 0x80, 0x01, 0x00}},
        {"literals past the end", Patched(kPackedText, 15, {0x7F})},
        {"long copy past the end", Patched(kPackedZeros, 13, {0xAA})},
        {"long copy short of the end", Patched(kPackedZeros, 13, {0xA8})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UnpackPicture(c.packed), std::nullopt) << c.what;
    }
    for (const Bytes* packed : {&kPackedText, &kPackedZeros, &kPackedBmp}) {
        for (std::size_t size = 0; size < packed->size(); ++size) {
            EXPECT_EQ(UnpackPicture(Bytes(packed->begin(), packed->begin() + static_cast<std::ptrdiff_t>(size))),
                      std::nullopt)
                << "cut at " << size;
        }
    }
}

TEST(PictureCodec, FindsTheHeaderAndPixelsOfABmpFile) {
    const auto layout = ReadBmp(kBmp);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->width, 3);
    EXPECT_EQ(layout->height, 2);
    EXPECT_EQ(layout->bits, 54U);
    EXPECT_EQ(layout->bitsSize, 24U);  // rows of 9 bytes padded to 12
    const Bytes header(kBmp.begin(), kBmp.begin() + kBmpHeaderSize);
    EXPECT_EQ(ReadBmp(header), std::nullopt);
    ASSERT_TRUE(ReadBmp(header, false));
    EXPECT_EQ(ReadBmp(header, false)->width, 3);
    EXPECT_TRUE(ReadBmp(Patched(kBmp, 22, {0xFE, 0xFF, 0xFF, 0xFF})));  // top-down

    const struct {
        const char* what;
        std::size_t at;
        Bytes with;
    } cases[] = {
        {"not BM", 0, {'B', 'A'}},
        {"pixels past the end", 10, {0x37}},
        {"pixels inside the header", 10, {0x35}},
        {"older header", 14, {12}},
        {"no width", 18, {0}},
        {"wider than the file", 18, {5}},
        {"negative width", 18, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"no height", 22, {0}},
        {"huge height", 22, {0x00, 0x00, 0x00, 0x80}},
        {"two planes", 26, {2}},
        {"colour table", 28, {8}},
        {"compressed", 30, {1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadBmp(Patched(kBmp, c.at, c.with)), std::nullopt) << c.what;
    }
    EXPECT_EQ(ReadBmp(Bytes(kBmp.begin(), kBmp.end() - 1)), std::nullopt);
}

}  // namespace
}  // namespace tessaloom::ui
