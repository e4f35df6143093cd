#pragma once
// A 32-bit digest of a file's content (the XXH32 algorithm, seed 0): fast
// enough on a 32-bit processor to take while a file is copied at the disk's
// speed, and, with the size beside it, enough to tell a new file from the old
// one it replaces (two different files of one size share a digest once in
// four billion). Not a defence against someone who crafts files: only
// administrators can change the folders whose files are compared.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessaloom {

class Digest {
public:
    void Add(const void* data, std::size_t size);
    void Add(std::string_view bytes) { Add(bytes.data(), bytes.size()); }
    [[nodiscard]] std::uint32_t Value() const;

private:
    std::uint32_t lanes_[4] = {0x24234428U, 0x85EBCA77U, 0, 0x61C8864FU};
    unsigned char pending_[16] = {};
    std::size_t pendingSize_ = 0;
    std::uint64_t total_ = 0;
};

inline std::uint32_t DigestOf(std::string_view bytes) {
    Digest digest;
    digest.Add(bytes);
    return digest.Value();
}

}  // namespace tessaloom
