#include "update/journal.h"

#include <charconv>
#include <iterator>

#include "core/text.h"
#include "update/file_names.h"

namespace tessaloom {
namespace {

constexpr std::string_view kHeaderStart = "TessaloomUpdate journal ";
constexpr std::string_view kEnd = "end\r\n";
constexpr char kVanished = 'X';

std::optional<std::uint64_t> Number(std::string_view& rest, int base = 10) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value, base);
    if (error != std::errc() || end == rest.data() || end == rest.data() + rest.size() || *end != ' ') {
        return std::nullopt;
    }
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()) + 1);
    return value;
}

std::optional<UpdateEntry> ParseEntry(std::string_view line, int version) {
    if (line.size() < 4 || std::string_view("CX-").find(line[0]) == std::string_view::npos ||
        (line[1] != 'B' && line[1] != '-') || line[2] != ' ') {
        return std::nullopt;
    }
    UpdateEntry entry;
    entry.vanished = line[0] == kVanished;
    entry.current.exists = line[0] == 'C' || (entry.vanished && version == 1);
    entry.backup.exists = line[1] == 'B';
    entry.recorded = version >= 2;
    entry.digested = version >= 3;
    line.remove_prefix(3);
    // The new file's size and digest (its time before version 3), then, from
    // version 2, the current file's and the earlier backup's size and time.
    std::uint64_t numbers[6] = {};
    const std::size_t count = version == 1 ? 2 : 6;
    for (std::size_t i = 0; i < count; ++i) {
        const auto number = Number(line, i == 1 && version >= 3 ? 16 : 10);
        if (!number) {
            return std::nullopt;
        }
        numbers[i] = *number;
    }
    entry.size = numbers[0];
    if (version >= 3) {
        if (numbers[1] > 0xFFFFFFFFU) {
            return std::nullopt;
        }
        entry.digest = static_cast<std::uint32_t>(numbers[1]);
    } else {
        entry.modified = numbers[1];
    }
    entry.current = {entry.current.exists, numbers[2], numbers[3]};
    entry.backup = {entry.backup.exists, numbers[4], numbers[5]};
    entry.name = DecodeUtf8(line);
    // Only a name that could have been listed is ever acted on.
    if (!IsPlainRelativeName(entry.name) || EncodeUtf8(entry.name) != line) {
        return std::nullopt;
    }
    return entry;
}

// Appends a space and a number in decimal.
void AppendNumber(std::string& text, std::uint64_t value) {
    char digits[20];
    text += ' ';
    text.append(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits));
}

}  // namespace

std::string FormatJournal(const Journal& journal) {
    std::string text(kHeaderStart);
    text += "3\r\nphase ";
    text += static_cast<char>(journal.phase);
    text += "\r\n";
    for (const UpdateEntry& entry : journal.entries) {
        text += entry.vanished ? kVanished : entry.current.exists ? 'C' : '-';
        text += entry.backup.exists ? 'B' : '-';
        AppendNumber(text, entry.size);
        char digest[8];
        const auto end = std::to_chars(digest, digest + 8, entry.digest, 16).ptr;
        text += ' ';
        text.append(static_cast<std::size_t>(digest + 8 - end), '0');
        text.append(digest, static_cast<std::size_t>(end - digest));
        for (const std::uint64_t number :
             {entry.current.size, entry.current.modified, entry.backup.size, entry.backup.modified}) {
            AppendNumber(text, number);
        }
        text += ' ';
        text += EncodeUtf8(entry.name);
        text += "\r\n";
    }
    text += kEnd;
    return text;
}

std::optional<Journal> ParseJournal(std::string_view text) {
    if (!text.starts_with(kHeaderStart)) {
        return std::nullopt;
    }
    text.remove_prefix(kHeaderStart.size());
    const int version = text.size() < 1 ? 0 : text[0] - '0';
    if (version < 1 || version > 3 || text.size() < 12 || text.substr(1, 8) != "\r\nphase " ||
        text.substr(10, 2) != "\r\n") {
        return std::nullopt;
    }
    Journal journal{static_cast<Phase>(text[9]), {}};
    const std::string_view phases = version >= 3 ? "SCUT" : "SCU";
    if (phases.find(text[9]) == std::string_view::npos) {
        return std::nullopt;
    }
    text.remove_prefix(12);
    while (text != kEnd) {
        const std::size_t end = text.find("\r\n");
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        std::optional<UpdateEntry> entry = ParseEntry(text.substr(0, end), version);
        if (!entry) {
            return std::nullopt;
        }
        journal.entries.push_back(std::move(*entry));
        text.remove_prefix(end + 2);
    }
    return journal;
}

}  // namespace tessaloom
