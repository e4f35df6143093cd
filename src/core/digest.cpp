#include "core/digest.h"

#include <bit>
#include <cstring>

namespace tessaloom {
namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

// Little-endian reads, whatever the machine (x86 is little-endian already).
std::uint64_t Read64(const unsigned char* at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | at[i];
    }
    return value;
}

std::uint32_t Read32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t input) { return std::rotl(lane + input * kPrime2, 31) * kPrime1; }

std::uint64_t Merge(std::uint64_t hash, std::uint64_t lane) { return (hash ^ Round(0, lane)) * kPrime1 + kPrime4; }

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
            lanes_[lane] = Round(lanes_[lane], Read64(pending_ + 8 * lane));
        }
        bytes += fill;
        size -= fill;
        pendingSize_ = 0;
    }
    for (; size >= 32; bytes += 32, size -= 32) {
        for (int lane = 0; lane < 4; ++lane) {
            lanes_[lane] = Round(lanes_[lane], Read64(bytes + 8 * lane));
        }
    }
    std::memcpy(pending_, bytes, size);
    pendingSize_ = size;
}

std::uint64_t Digest::Value() const {
    std::uint64_t hash = 0;
    if (total_ >= 32) {
        hash = std::rotl(lanes_[0], 1) + std::rotl(lanes_[1], 7) + std::rotl(lanes_[2], 12) + std::rotl(lanes_[3], 18);
        for (const std::uint64_t lane : lanes_) {
            hash = Merge(hash, lane);
        }
    } else {
        hash = lanes_[2] + kPrime5;  // the third lane starts at the seed, 0
    }
    hash += total_;
    const unsigned char* at = pending_;
    std::size_t left = pendingSize_;
    for (; left >= 8; at += 8, left -= 8) {
        hash = std::rotl(hash ^ Round(0, Read64(at)), 27) * kPrime1 + kPrime4;
    }
    if (left >= 4) {
        hash = std::rotl(hash ^ (static_cast<std::uint64_t>(Read32(at)) * kPrime1), 23) * kPrime2 + kPrime3;
        at += 4;
        left -= 4;
    }
    for (; left > 0; ++at, --left) {
        hash = std::rotl(hash ^ (*at * kPrime5), 11) * kPrime1;
    }
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

}  // namespace tessaloom
