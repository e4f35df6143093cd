#pragma once
// A 64-bit digest of a file's content (the XXH64 algorithm, seed 0): fast
// enough to take while a file is copied at the disk's speed, and wide enough
// that a new file and the old one it replaces are never taken for each other.
// Not a defence against someone who crafts files: only administrators can
// change the folders whose files are compared.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessaloom {

class Digest {
public:
    void Add(const void* data, std::size_t size);
    void Add(std::string_view bytes) { Add(bytes.data(), bytes.size()); }
    [[nodiscard]] std::uint64_t Value() const;

private:
    std::uint64_t lanes_[4] = {0x60EA27EEADC0B5D6ULL, 0xC2B2AE3D27D4EB4FULL, 0, 0x61C8864E7A143579ULL};
    unsigned char pending_[32] = {};
    std::size_t pendingSize_ = 0;
    std::uint64_t total_ = 0;
};

inline std::uint64_t DigestOf(std::string_view bytes) {
    Digest digest;
    digest.Add(bytes);
    return digest.Value();
}

}  // namespace tessaloom
