#include "capture/redaction.h"

#include <algorithm>
#include <cctype>
#include <regex>

#include "common/text.h"
#include "platform/emulated/ini_text.h"
#include "platform/emulated/text_codec.h"

namespace capture {

namespace {

using platform::emulated::UpperAscii;

const char* KindText(NameKind kind) {
    switch (kind) {
        case NameKind::kUser:
            return "user name";
        case NameKind::kComputer:
            return "computer name";
        case NameKind::kDomain:
            return "domain name";
        case NameKind::kHost:
            return "web host";
    }
    return "name";
}

const char* PseudonymStem(NameKind kind) {
    switch (kind) {
        case NameKind::kUser:
            return "user-";
        case NameKind::kDomain:
            return "domain-";
        case NameKind::kComputer:
        case NameKind::kHost:
            return "host-";
    }
    return "name-";
}

bool IsWordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

bool IsLoopback(const std::string& host) {
    const std::string upper = UpperAscii(host);
    return upper == "LOCALHOST" || upper == "::1" || upper == "[::1]" ||
           upper.rfind("127.", 0) == 0;
}

// The value of a text-type registry value, as the ANSI functions hand it out, with its NULs.
bool IsText(platform::DWORD type) {
    return type == platform::kRegSz || type == platform::kRegExpandSz ||
           type == platform::kRegMultiSz;
}

std::string TextOf(const std::string& data) {
    return data.substr(0, data.find('\0'));
}

}  // namespace

void Redaction::Add(NameKind kind, const std::string& original) {
    const std::string name = common::Trim(original);
    if (name.empty()) return;
    const std::string upper = UpperAscii(name);
    if (upper == "SYSTEM" || upper == "LOCAL SERVICE" || upper == "NETWORK SERVICE") return;
    for (const Name& known : names_) {
        if (known.upper == upper) return;
    }
    // Pseudonyms never contain a registered name, and are never registered themselves.
    const int number = ++counts_[kind == NameKind::kHost ? NameKind::kComputer : kind];
    names_.push_back({upper, PseudonymStem(kind) + std::to_string(number), kind});
    // The longest names first, so that a host name is replaced before its domain.
    std::stable_sort(names_.begin(), names_.end(),
                     [](const Name& a, const Name& b) { return a.upper.size() > b.upper.size(); });
}

std::string Redaction::Apply(const std::string& text, const std::string& place) {
    if (names_.empty()) return text;
    const std::string upper = UpperAscii(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const Name* match = nullptr;
        if (i == 0 || !IsWordCharacter(text[i - 1])) {
            for (const Name& name : names_) {
                const std::size_t end = i + name.upper.size();
                if (upper.compare(i, name.upper.size(), name.upper) == 0 &&
                    (end == text.size() || !IsWordCharacter(text[end]))) {
                    match = &name;
                    break;
                }
            }
        }
        if (match) {
            out += match->pseudonym;
            i += match->upper.size();
            replaced_[place].insert(KindText(match->kind));
        } else {
            out += text[i++];
        }
    }
    return out;
}

void Redaction::Dropped(const std::string& place, int count) {
    if (count > 0) dropped_[place] += count;
}

std::string Redaction::Manifest() const {
    namespace ini = platform::emulated::ini;
    std::string body =
        "; What the capture replaced: kinds of names and where, never the names.\r\n";
    const auto set = [&body](const char* section, const std::string& key,
                             const std::string& value) {
        if (auto edited = ini::Assign({ini::Encoding::kAnsi, body}, section, key, value))
            body = *edited;
    };
    std::vector<Name> ordered = names_;
    std::sort(ordered.begin(), ordered.end(),
              [](const Name& a, const Name& b) { return a.pseudonym < b.pseudonym; });
    for (const Name& name : ordered) set("Pseudonyms", name.pseudonym, KindText(name.kind));
    for (const auto& [place, kinds] : replaced_) {
        std::string list;
        for (const std::string& kind : kinds) list += (list.empty() ? "" : ", ") + kind;
        set("Replaced", place, list);
    }
    for (const auto& [place, count] : dropped_) set("Dropped", place, std::to_string(count));
    return body;
}

bool LooksSecret(const std::string& name) {
    const std::string upper = UpperAscii(name);
    for (const char* word : {"PASSWORD", "PASSWD", "PWD", "SECRET", "TOKEN"}) {
        if (upper.find(word) != std::string::npos) return true;
    }
    // ApiKey, EncryptionKey ...; a bare "key" names a setting rather than holding one.
    return upper.size() > 3 && upper.compare(upper.size() - 3, 3, "KEY") == 0;
}

std::string DropXmlSecrets(const std::string& xml, int* dropped) {
    static const std::regex tag(R"(<[A-Za-z_][^<>]*>)");
    static const std::regex attribute(R"(([A-Za-z_][\w:.-]*)(\s*=\s*)("[^"]*"|'[^']*'))");
    static const std::regex element(R"(<([A-Za-z_][\w:.-]*)([^<>]*)>([^<]+)</\1\s*>)");
    // Each tag: its secret attributes emptied, and its value attribute when its key or name
    // attribute names a secret.
    std::string out;
    auto last = xml.cbegin();
    for (std::sregex_iterator it(xml.cbegin(), xml.cend(), tag), end; it != end; ++it) {
        out.append(last, (*it)[0].first);
        const std::string text = it->str();
        bool namesSecret = false;
        for (std::sregex_iterator a(text.begin(), text.end(), attribute); a != end; ++a) {
            const std::string name = UpperAscii((*a)[1].str());
            const std::string value = (*a)[3].str();
            if ((name == "KEY" || name == "NAME") &&
                LooksSecret(value.substr(1, value.size() - 2))) {
                namesSecret = true;
            }
        }
        std::string rebuilt;
        auto from = text.cbegin();
        for (std::sregex_iterator a(text.begin(), text.end(), attribute); a != end; ++a) {
            rebuilt.append(from, (*a)[0].first);
            const std::string name = (*a)[1].str();
            const std::string value = (*a)[3].str();
            const bool drop = (LooksSecret(name) || (namesSecret && UpperAscii(name) == "VALUE")) &&
                              value.size() > 2;
            if (drop) ++*dropped;
            rebuilt += drop ? name + (*a)[2].str() + value[0] + value[0] : (*a)[0].str();
            from = (*a)[0].second;
        }
        rebuilt.append(from, text.cend());
        out += rebuilt;
        last = (*it)[0].second;
    }
    out.append(last, xml.cend());
    // Elements whose own name looks secret lose their text.
    std::string result;
    last = out.cbegin();
    for (std::sregex_iterator it(out.cbegin(), out.cend(), element), end; it != end; ++it) {
        result.append(last, (*it)[0].first);
        if (LooksSecret((*it)[1].str())) {
            ++*dropped;
            result += "<" + (*it)[1].str() + (*it)[2].str() + "></" + (*it)[1].str() + ">";
        } else {
            result += it->str();
        }
        last = (*it)[0].second;
    }
    result.append(last, out.cend());
    return result;
}

std::string DropIniSecrets(const std::string& text, int* dropped) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        const std::size_t equals = line.find('=');
        const std::string trimmed(platform::emulated::ini::TrimLeft(line));
        if (equals != std::string::npos && !trimmed.empty() && trimmed[0] != ';' &&
            trimmed[0] != '[' &&
            LooksSecret(std::string(
                platform::emulated::ini::Trim(std::string_view(line).substr(0, equals))))) {
            const std::size_t lineEnd = line.find_first_of("\r\n");
            const std::string ending = lineEnd == std::string::npos ? "" : line.substr(lineEnd);
            if (line.substr(equals + 1, lineEnd - equals - 1).find_first_not_of(" \t") !=
                std::string::npos) {
                ++*dropped;
                line = line.substr(0, equals + 1) + ending;
            }
        }
        out += line;
        start = end;
    }
    return out;
}

std::vector<std::string> WebHosts(const std::string& text) {
    static const std::regex url(R"([A-Za-z][A-Za-z0-9+.-]*://([^/:\s"'<>?#\\]+))");
    static const std::regex endpoint(R"((?:primary|secondary)2?\s*=\s*["']([^"':/\s]+))",
                                     std::regex::icase);
    std::vector<std::string> hosts;
    for (const std::regex* pattern : {&url, &endpoint}) {
        for (std::sregex_iterator it(text.begin(), text.end(), *pattern), end; it != end; ++it) {
            const std::string host = (*it)[1].str();
            if (!IsLoopback(host) && std::find(hosts.begin(), hosts.end(), host) == hosts.end()) {
                hosts.push_back(host);
            }
        }
    }
    return hosts;
}

namespace {

// The same over a file's bytes: UTF-16LE text (with its mark) is redacted as text.
std::string ApplyToBytes(Redaction& redaction, const std::string& bytes, const std::string& place) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        const std::string text = platform::emulated::Utf16LeToUtf8(bytes.substr(2));
        return "\xFF\xFE" + platform::emulated::Utf8ToUtf16Le(redaction.Apply(text, place));
    }
    return redaction.Apply(bytes, place);
}

// A key of the hive below `parent` (its redacted path); places in the manifest name redacted
// paths only.
void RedactKey(platform::emulated::RegKey& key, const std::string& parent, Redaction& redaction) {
    key.name = redaction.Apply(key.name, "registry key names");
    const std::string path = parent.empty() ? key.name : parent + "\\" + key.name;
    const std::string place = "registry\\" + path;
    std::vector<platform::emulated::RegValue> kept;
    for (auto& value : key.values) {
        if (LooksSecret(value.name)) {
            redaction.Dropped(place, 1);
            continue;
        }
        value.name = redaction.Apply(value.name, place);
        if (IsText(value.type)) value.data = redaction.Apply(value.data, place);
        kept.push_back(std::move(value));
    }
    key.values = std::move(kept);
    for (auto& sub : key.subKeys) RedactKey(*sub, path, redaction);
}

// The user part of a result file's name: Bellhop_<user>.ini.
std::string ResultFileUser(const std::string& path) {
    const std::string name = path.substr(path.find_last_of('\\') + 1);
    const std::string upper = UpperAscii(name);
    const std::size_t prefix = upper.find("BELLHOP_");
    if (prefix == std::string::npos || upper.size() < prefix + 12) return {};
    return name.substr(prefix + 8, name.size() - prefix - 12);
}

}  // namespace

void RedactCapture(MachineCapture& capture, Redaction& redaction) {
    for (const Fact& fact : capture.facts) {
        const std::string key = UpperAscii(fact.section + "." + fact.name);
        if (key == "CONSOLE.USER" || key == "ACCOUNT.USERNAME" ||
            UpperAscii(fact.section) == "PROCESSOWNERS" ||
            UpperAscii(fact.section) == "FILEOWNERS") {
            redaction.Add(NameKind::kUser, fact.value);
        }
        if (UpperAscii(fact.section) == "SESSIONS" && fact.value.find(',') != std::string::npos) {
            redaction.Add(NameKind::kUser, fact.value.substr(fact.value.find(',') + 1));
        }
        if (key == "ENVIRONMENT.COMPUTERNAME") redaction.Add(NameKind::kComputer, fact.value);
        if (key == "ENVIRONMENT.USERDOMAIN") redaction.Add(NameKind::kDomain, fact.value);
    }
    for (const char* path : {"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName",
                             "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName"}) {
        if (auto* key = capture.hive.Find(path)) {
            if (auto* value = key->FindValue("ComputerName"); value && IsText(value->type)) {
                redaction.Add(NameKind::kComputer, TextOf(value->data));
            }
        }
    }
    std::vector<int> dropped(capture.files.size(), 0);
    for (std::size_t i = 0; i < capture.files.size(); ++i) {
        CapturedFile& file = capture.files[i];
        if (capture.dataFolder.size() < file.path.size() &&
            UpperAscii(file.path.substr(0, capture.dataFolder.size())) ==
                UpperAscii(capture.dataFolder)) {
            redaction.Add(NameKind::kUser, ResultFileUser(file.path));
        }
        const std::string upper = UpperAscii(file.path);
        const bool config =
            upper.size() > 12 && upper.compare(upper.size() - 12, 12, "WPCONFIG.XML") == 0;
        const bool hostbook =
            upper.size() > 12 && upper.compare(upper.size() - 12, 12, "HOSTBOOK.INI") == 0;
        if (config || hostbook) {
            file.bytes = config ? DropXmlSecrets(file.bytes, &dropped[i])
                                : DropIniSecrets(file.bytes, &dropped[i]);
            for (const std::string& host : WebHosts(file.bytes))
                redaction.Add(NameKind::kHost, host);
        }
    }
    // The names are known: every text of the capture is rewritten.
    for (std::size_t i = 0; i < capture.files.size(); ++i) {
        CapturedFile& file = capture.files[i];
        file.path = redaction.Apply(file.path, "file names");
        file.bytes = ApplyToBytes(redaction, file.bytes, file.path);
        redaction.Dropped(file.path, dropped[i]);
    }
    for (std::string& folder : capture.folders) folder = redaction.Apply(folder, "file names");
    for (auto* facts : {&capture.facts, &capture.notes, &capture.failed}) {
        const std::string place = facts == &capture.facts ? "machine.ini" : "capture.ini";
        for (Fact& fact : *facts) {
            fact.name = redaction.Apply(fact.name, place);
            fact.value = redaction.Apply(fact.value, place);
        }
    }
    for (auto& top : capture.hive.root().subKeys) RedactKey(*top, "", redaction);
    capture.installPath = redaction.Apply(capture.installPath, "file names");
    capture.dataFolder = redaction.Apply(capture.dataFolder, "file names");
}

}  // namespace capture
