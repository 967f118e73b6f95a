#include "platform/emulated/ini_text.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "platform/emulated/text_codec.h"

namespace platform::emulated::ini {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// One line of the body: its content is [begin, end), its line break [end, next).
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

struct Entry {
    std::size_t line = 0;
    std::string_view name;                  // trimmed, as written (NULs included)
    std::optional<std::string_view> value;  // trimmed; none without '='
};

struct Section {
    std::string_view name;         // trimmed and cut at a NUL
    bool named = true;             // false for the lines before the first header
    std::size_t header = kNone;    // the header's line
    std::size_t lastLine = kNone;  // the header or the section's last key line
    std::vector<Entry> entries;
};

struct Layout {
    std::vector<Line> lines;
    std::vector<Section> sections;  // [0] holds the lines before the first header
};

Layout Parse(std::string_view body) {
    Layout layout;
    layout.sections.emplace_back();
    layout.sections.back().named = false;
    // A line with an empty key name right after another key with an empty name is no key.
    bool previousNameEmpty = false;
    bool havePrevious = false;
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t end = body.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = body.size();
        std::size_t next = end;
        if (next < body.size()) {
            next +=
                (body[next] == '\r' && next + 1 < body.size() && body[next + 1] == '\n') ? 2 : 1;
        }
        layout.lines.push_back({pos, end, next});
        const std::size_t index = layout.lines.size() - 1;
        const std::string_view content = Trim(body.substr(pos, end - pos));
        pos = next;
        if (content.empty()) continue;

        if (content.front() == '[') {
            // The name ends at the first ']', or with the line when there is none.
            const std::string_view inside = content.substr(1);
            Section section;
            section.name = UpToNul(Trim(inside.substr(0, inside.find(']'))));
            section.header = index;
            section.lastLine = index;
            layout.sections.push_back(section);
            havePrevious = false;
            continue;
        }
        if (content.front() == ';') continue;

        Section& section = layout.sections.back();
        section.lastLine = index;
        Entry entry;
        entry.line = index;
        const std::size_t equals = content.find('=');
        if (equals != std::string_view::npos) {
            entry.name = TrimRight(content.substr(0, equals));
            entry.value = TrimLeft(content.substr(equals + 1));
        } else {
            entry.name = content;
        }
        if (entry.name.empty() && havePrevious && previousNameEmpty) continue;
        havePrevious = true;
        previousNameEmpty = UpToNul(entry.name).empty();
        section.entries.push_back(entry);
    }
    return layout;
}

// Only the first section of a name counts, even when it lacks the key.
const Section* FindSection(const Layout& layout, std::string_view name) {
    for (const Section& section : layout.sections) {
        if (section.named && SameName(section.name, name)) return &section;
    }
    return nullptr;
}

const Entry* FindEntry(const Section& section, std::string_view key) {
    for (const Entry& entry : section.entries) {
        if (SameName(UpToNul(entry.name), key)) return &entry;
    }
    return nullptr;
}

}  // namespace

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

std::string_view Trim(std::string_view text) {
    return TrimRight(TrimLeft(text));
}

std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

Text Decode(std::string_view fileBytes) {
    Text text;
    if (fileBytes.substr(0, kUtf16LeMark.size()) == kUtf16LeMark) {
        text.encoding = Encoding::kUtf16Le;
        text.body = Utf16LeToUtf8(std::string(fileBytes.substr(kUtf16LeMark.size())));
    } else {
        text.body = std::string(fileBytes);
    }
    return text;
}

std::string Encode(const Text& text) {
    if (text.encoding == Encoding::kUtf16Le) {
        return std::string(kUtf16LeMark) + Utf8ToUtf16Le(text.body);
    }
    return text.body;
}

std::optional<std::string> Lookup(std::string_view body, std::string_view section,
                                  std::string_view key) {
    const Layout layout = Parse(body);
    const Section* found = FindSection(layout, TrimSpaces(section));
    if (!found) return std::nullopt;
    const Entry* entry = FindEntry(*found, TrimSpaces(key));
    if (!entry || !entry->value) return std::nullopt;
    return std::string(UpToNul(*entry->value));
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::optional<std::string> Assign(const Text& text, std::string_view section, std::string_view key,
                                  std::string_view value) {
    const std::string_view body = text.body;
    section = TrimSpaces(section);
    key = TrimSpaces(key);
    const Layout layout = Parse(body);
    std::string out;
    const Section* found = FindSection(layout, section);
    if (!found) {
        out.reserve(body.size() + section.size() + key.size() + value.size() + 10);
        out.append(body);
        const bool markOnly = out.empty() && text.encoding == Encoding::kUtf16Le;
        if (markOnly || (!out.empty() && out.back() != '\n' && out.back() != '\r')) out += "\r\n";
        out.append("[").append(section).append("]\r\n");
        out.append(key).append("=").append(value).append("\r\n");
        return out;
    }

    if (const Entry* entry = FindEntry(*found, key)) {
        if (entry->value && UpToNul(*entry->value) == value) return std::nullopt;
        const Line& line = layout.lines[entry->line];
        out.reserve(body.size() + value.size() + 3);
        out.append(body.substr(0, line.begin));
        out.append(UpToNul(entry->name)).append("=").append(value);
        if (line.next == line.end) out.append("\r\n");
        out.append(body.substr(line.end));
        return out;
    }

    const std::string newLine = std::string(key) + "=" + std::string(value);
    out.reserve(body.size() + newLine.size() + 4);
    const Line& line = layout.lines[found->lastLine];
    if (line.next > line.end) {
        out.append(body.substr(0, line.next)).append(newLine).append("\r\n");
        out.append(body.substr(line.next));
    } else {
        out.append(body.substr(0, line.end)).append("\r\n").append(newLine).append("\r\n");
        out.append(body.substr(line.end));
    }
    return out;
}

std::optional<std::string> RemoveSection(const Text& text, std::string_view section) {
    const std::string_view body = text.body;
    const Layout layout = Parse(body);
    for (std::size_t i = 1; i < layout.sections.size(); ++i) {
        const Section& found = layout.sections[i];
        if (!SameName(found.name, TrimSpaces(section))) continue;
        const std::size_t from = layout.lines[found.header].begin;
        const std::size_t to = i + 1 < layout.sections.size()
                                   ? layout.lines[layout.sections[i + 1].header].begin
                                   : body.size();
        return std::string(body.substr(0, from)) + std::string(body.substr(to));
    }
    return std::nullopt;
}

}  // namespace platform::emulated::ini
