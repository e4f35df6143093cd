#include "core/digest.h"

#include <bit>
#include <cstring>

namespace tessaloom {
namespace {

constexpr std::uint32_t kPrime1 = 0x9E3779B1U;
constexpr std::uint32_t kPrime2 = 0x85EBCA77U;
constexpr std::uint32_t kPrime3 = 0xC2B2AE3DU;
constexpr std::uint32_t kPrime4 = 0x27D4EB2FU;
constexpr std::uint32_t kPrime5 = 0x165667B1U;

// Little-endian reads, whatever the machine (x86 is little-endian already).
std::uint32_t Read32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint32_t Round(std::uint32_t lane, std::uint32_t input) { return std::rotl(lane + input * kPrime2, 13) * kPrime1; }

}  // namespace

void Digest::Add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    total_ += size;
    if (pendingSize_ + size < sizeof pending_) {
        std::memcpy(pending_ + pendingSize_, bytes, size);
        pendingSize_ += size;
        return;
    }
    if (pendingSize_ > 0) {
        const std::size_t fill = sizeof pending_ - pendingSize_;
        std::memcpy(pending_ + pendingSize_, bytes, fill);
        for (int lane = 0; lane < 4; ++lane) {
            lanes_[lane] = Round(lanes_[lane], Read32(pending_ + 4 * lane));
        }
        bytes += fill;
        size -= fill;
        pendingSize_ = 0;
    }
    std::uint32_t a = lanes_[0], b = lanes_[1], c = lanes_[2], d = lanes_[3];
    for (; size >= 16; bytes += 16, size -= 16) {
        a = Round(a, Read32(bytes));
        b = Round(b, Read32(bytes + 4));
        c = Round(c, Read32(bytes + 8));
        d = Round(d, Read32(bytes + 12));
    }
    lanes_[0] = a;
    lanes_[1] = b;
    lanes_[2] = c;
    lanes_[3] = d;
    std::memcpy(pending_, bytes, size);
    pendingSize_ = size;
}

std::uint32_t Digest::Value() const {
    std::uint32_t hash = total_ >= 16 ? std::rotl(lanes_[0], 1) + std::rotl(lanes_[1], 7) + std::rotl(lanes_[2], 12) +
                                            std::rotl(lanes_[3], 18)
                                      : lanes_[2] + kPrime5;  // the third lane starts at the seed, 0
    hash += static_cast<std::uint32_t>(total_);
    const unsigned char* at = pending_;
    std::size_t left = pendingSize_;
    for (; left >= 4; at += 4, left -= 4) {
        hash = std::rotl(hash + Read32(at) * kPrime3, 17) * kPrime4;
    }
    for (; left > 0; ++at, --left) {
        hash = std::rotl(hash + *at * kPrime5, 11) * kPrime1;
    }
    hash ^= hash >> 15;
    hash *= kPrime2;
    hash ^= hash >> 13;
    hash *= kPrime3;
    hash ^= hash >> 16;
    return hash;
}

}  // namespace tessaloom
