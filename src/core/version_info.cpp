#include "core/version_info.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cwctype>

namespace tessaloom {
namespace {

constexpr std::size_t kHeader = 6;  // wLength, wValueLength, wType

std::size_t Align4(std::size_t offset) { return (offset + 3) & ~static_cast<std::size_t>(3); }

std::uint16_t Word(std::string_view block, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(block[at]) |
                                      (static_cast<unsigned char>(block[at + 1]) << 8U));
}

// UTF-16 units from `at` up to a NUL or `end`; `after` is where the NUL ended,
// or nothing when there was none before `end`.
std::wstring Text(std::string_view block, std::size_t at, std::size_t end, std::optional<std::size_t>& after) {
    std::wstring text;
    after.reset();
    for (; at + 2 <= end; at += 2) {
        const std::uint16_t unit = Word(block, at);
        if (unit == 0) {
            after = at + 2;
            break;
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

bool SameKey(std::wstring_view first, std::wstring_view second) {
    if (first.size() != second.size()) {
        return false;
    }
    for (std::size_t i = 0; i < first.size(); ++i) {
        const wchar_t a = first[i] < 0x80 ? static_cast<wchar_t>(std::towupper(first[i])) : first[i];
        const wchar_t b = second[i] < 0x80 ? static_cast<wchar_t>(std::towupper(second[i])) : second[i];
        if (a != b) {
            return false;
        }
    }
    return true;
}

struct Node {
    std::wstring key;
    std::size_t value = 0;     // where the value starts
    std::size_t valueEnd = 0;  // and ends
    std::size_t children = 0;  // where the children start
    std::size_t end = 0;       // where this node ends
    bool text = false;
};

// The node at `at`, which must lie wholly before `limit`.
std::optional<Node> ReadNode(std::string_view block, std::size_t at, std::size_t limit) {
    if (at + kHeader > limit) {
        return std::nullopt;
    }
    const std::size_t length = Word(block, at);
    const std::size_t valueLength = Word(block, at + 2);
    Node node;
    node.text = Word(block, at + 4) == 1;
    node.end = at + length;
    if (length < kHeader || node.end > limit) {
        return std::nullopt;
    }
    std::optional<std::size_t> afterKey;
    node.key = Text(block, at + kHeader, node.end, afterKey);
    if (!afterKey) {
        return std::nullopt;
    }
    node.value = Align4(*afterKey);
    node.valueEnd = node.value + (node.text ? valueLength * 2 : valueLength);
    if (node.value > node.end || node.valueEnd > node.end) {
        // A value that says it is longer than its node: keep what is there.
        node.value = std::min(node.value, node.end);
        node.valueEnd = node.end;
    }
    node.children = Align4(node.valueEnd);
    return node;
}

}  // namespace

std::optional<std::wstring> VersionInfoString(std::string_view block, std::wstring_view path) {
    std::optional<Node> node = ReadNode(block, 0, block.size());
    if (!node || !SameKey(node->key, L"VS_VERSION_INFO")) {
        return std::nullopt;
    }
    while (!path.empty()) {
        const std::size_t cut = path.find(L'\\');
        const std::wstring_view key = path.substr(0, cut);
        path = cut == std::wstring_view::npos ? std::wstring_view() : path.substr(cut + 1);
        std::optional<Node> found;
        // Each node is at least its header long, so the walk always moves on.
        for (std::size_t at = node->children; at + kHeader <= node->end;) {
            std::optional<Node> child = ReadNode(block, at, node->end);
            if (!child) {
                return std::nullopt;
            }
            if (SameKey(child->key, key)) {
                found = std::move(child);
                break;
            }
            at = Align4(child->end);
        }
        if (!found) {
            return std::nullopt;
        }
        node = std::move(found);
    }
    if (!node->text) {
        return std::nullopt;
    }
    std::optional<std::size_t> ignored;
    return Text(block, node->value, node->valueEnd, ignored);
}

}  // namespace tessaloom
