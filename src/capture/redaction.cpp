#include "capture/redaction.h"

#include <algorithm>
#include <cctype>
#include <functional>
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

void Redaction::Dropped(const std::string& place, int count, const std::string& kind) {
    if (count <= 0) return;
    auto& [total, kinds] = dropped_[place];
    total += count;
    kinds.insert(kind);
}

void Redaction::RenamePlace(const std::string& from, const std::string& to) {
    if (from == to) return;
    if (auto found = dropped_.find(from); found != dropped_.end()) {
        auto& [total, kinds] = dropped_[to];
        total += found->second.first;
        kinds.insert(found->second.second.begin(), found->second.second.end());
        dropped_.erase(from);
    }
    if (auto found = replaced_.find(from); found != replaced_.end()) {
        replaced_[to].insert(found->second.begin(), found->second.end());
        replaced_.erase(from);
    }
}

std::string Redaction::ReplaceSids(const std::string& text, const std::string& place) {
    static const std::regex sid(R"(\bS-1-5-21(?:-[0-9]+){1,5}\b)", std::regex::icase);
    std::string out;
    auto last = text.cbegin();
    for (std::sregex_iterator it(text.cbegin(), text.cend(), sid), end; it != end; ++it) {
        out.append(last, (*it)[0].first);
        const std::string upper = UpperAscii(it->str());
        auto found = sids_.find(upper);
        if (found == sids_.end()) {
            found = sids_.emplace(upper, "sid-" + std::to_string(sids_.size() + 1)).first;
        }
        out += found->second;
        replaced_[place].insert("account SID");
        last = (*it)[0].second;
    }
    out.append(last, text.cend());
    return out;
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
    for (const auto& [place, dropped] : dropped_) {
        std::string list;
        for (const std::string& kind : dropped.second) list += (list.empty() ? "" : ", ") + kind;
        set("Dropped", place, std::to_string(dropped.first) + ": " + list);
    }
    return body;
}

bool LooksSecret(const std::string& name) {
    const std::string upper = UpperAscii(common::Trim(name));
    // ApiKey, KeyFile, ProxyPass, Credentials ...; a bare "key" selects a setting.
    if (upper == "KEY") return false;
    for (const char* word : {"PASS", "PWD", "SECRET", "TOKEN", "KEY", "CREDENTIAL"}) {
        if (upper.find(word) != std::string::npos) return true;
    }
    return false;
}

std::string DropInlineSecrets(const std::string& text, int* userInfo, int* pairs) {
    // scheme://userinfo@host: the user info ends at the last "@" before the path.
    static const std::regex url(R"(([A-Za-z][A-Za-z0-9+.-]*://)([^/@\s"'<>]+)@)");
    // name=value inside a value: the value runs to the next separator of such lists.
    static const std::regex pair(R"(([A-Za-z_][A-Za-z0-9_ .-]*)(\s*=\s*)([^;&,\s"'<>]+))");
    std::string out;
    auto last = text.cbegin();
    for (std::sregex_iterator it(text.cbegin(), text.cend(), url), end; it != end; ++it) {
        out.append(last, (*it)[0].first);
        out += (*it)[1].str();
        ++*userInfo;
        last = (*it)[0].second;
    }
    out.append(last, text.cend());
    std::string result;
    last = out.cbegin();
    for (std::sregex_iterator it(out.cbegin(), out.cend(), pair), end; it != end; ++it) {
        result.append(last, (*it)[0].first);
        // The name's last word decides: "User Id" no, "Password" yes.
        const std::string name = (*it)[1].str();
        const std::string trimmed = common::Trim(name);
        const std::size_t space = trimmed.find_last_of(" .");
        const std::string word = space == std::string::npos ? trimmed : trimmed.substr(space + 1);
        if (LooksSecret(word)) {
            result += name + (*it)[2].str();
            ++*pairs;
        } else {
            result += it->str();
        }
        last = (*it)[0].second;
    }
    result.append(last, out.cend());
    return result;
}

NamedAccounts AccountsNamedIn(const std::string& text) {
    static const std::regex result(R"(Bellhop_([^\\/\s.<>"'=]+)\.ini)", std::regex::icase);
    static const std::regex profile(R"(\\Users\\([^\\/\s<>"'\x00]+))", std::regex::icase);
    static const std::regex account(R"(<(?:Author|UserId)>([^<]*)</(?:Author|UserId)>)",
                                    std::regex::icase);
    NamedAccounts found;
    for (std::sregex_iterator it(text.begin(), text.end(), result), end; it != end; ++it) {
        found.users.push_back((*it)[1].str());
    }
    for (std::sregex_iterator it(text.begin(), text.end(), profile), end; it != end; ++it) {
        const std::string upper = UpperAscii((*it)[1].str());
        if (upper != "PUBLIC" && upper != "DEFAULT" && upper != "ALL USERS" &&
            upper != "DEFAULT USER") {
            found.users.push_back((*it)[1].str());
        }
    }
    for (std::sregex_iterator it(text.begin(), text.end(), account), end; it != end; ++it) {
        std::string value = common::Trim((*it)[1].str());
        if (value.rfind("S-1-", 0) == 0) continue;  // a SID: replaced as one
        const std::size_t slash = value.find('\\');
        if (slash != std::string::npos) {
            const std::string domain = value.substr(0, slash);
            if (UpperAscii(domain) != "NT AUTHORITY" && UpperAscii(domain) != "BUILTIN") {
                found.domains.push_back(domain);
            }
            value = value.substr(slash + 1);
        }
        value = value.substr(0, value.find(' '));
        found.users.push_back(value);
    }
    return found;
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
        if (IsText(value.type)) {
            int userInfo = 0;
            int pairs = 0;
            value.data = DropInlineSecrets(value.data, &userInfo, &pairs);
            redaction.Dropped(place, userInfo, "URL user info");
            redaction.Dropped(place, pairs, "secret values in text");
            value.data = redaction.Apply(redaction.ReplaceSids(value.data, place), place);
        }
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

// A file's text: UTF-16LE (with its mark) as UTF-8, any other as its bytes.
std::string FileText(const std::string& bytes, bool* utf16) {
    *utf16 = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    return *utf16 ? platform::emulated::Utf16LeToUtf8(bytes.substr(2)) : bytes;
}
std::string FileBytes(const std::string& text, bool utf16) {
    return utf16 ? "\xFF\xFE" + platform::emulated::Utf8ToUtf16Le(text) : text;
}

// A text without its inline secrets, each kind counted at place.
std::string DropInline(Redaction& redaction, const std::string& text, const std::string& place) {
    int userInfo = 0;
    int pairs = 0;
    std::string out = DropInlineSecrets(text, &userInfo, &pairs);
    redaction.Dropped(place, userInfo, "URL user info");
    redaction.Dropped(place, pairs, "secret values in text");
    // A task definition's author is a person's name in any form: it goes whole.
    static const std::regex author(R"(<Author>[^<]+</Author>)", std::regex::icase);
    int authors = 0;
    std::string result;
    auto last = out.cbegin();
    for (std::sregex_iterator it(out.cbegin(), out.cend(), author), end; it != end; ++it) {
        result.append(last, (*it)[0].first);
        result += "<Author></Author>";
        ++authors;
        last = (*it)[0].second;
    }
    result.append(last, out.cend());
    redaction.Dropped(place, authors, "task authors");
    return result;
}

void Register(Redaction& redaction, const std::string& text) {
    const NamedAccounts accounts = AccountsNamedIn(text);
    for (const std::string& user : accounts.users) redaction.Add(NameKind::kUser, user);
    for (const std::string& domain : accounts.domains) redaction.Add(NameKind::kDomain, domain);
}

void ForEachTextValue(platform::emulated::RegKey& key,
                      const std::function<void(platform::emulated::RegValue&)>& visit) {
    for (auto& value : key.values) {
        if (IsText(value.type)) visit(value);
    }
    for (auto& sub : key.subKeys) ForEachTextValue(*sub, visit);
}

}  // namespace

void Redaction::AddDnsForms(const std::string& text) {
    std::vector<std::string> found;
    for (const Name& name : names_) {
        if (name.kind != NameKind::kDomain && name.kind != NameKind::kComputer) continue;
        const std::string upper = UpperAscii(text);
        for (std::size_t at = upper.find(name.upper); at != std::string::npos;
             at = upper.find(name.upper, at + 1)) {
            if (at > 0 && (IsWordCharacter(text[at - 1]) || text[at - 1] == '.')) continue;
            std::size_t end = at + name.upper.size();
            while (end + 1 < text.size() && text[end] == '.' &&
                   (IsWordCharacter(text[end + 1]) || text[end + 1] == '-')) {
                ++end;
                while (end < text.size() && (IsWordCharacter(text[end]) || text[end] == '-')) ++end;
            }
            if (end > at + name.upper.size()) found.push_back(text.substr(at, end - at));
        }
    }
    for (const std::string& dns : found) Add(NameKind::kDomain, dns);
}

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
    // Secrets first, so that no part of one is taken for a name; then the names every file,
    // registry value and fact gives: the accounts of result files, profile folders and task
    // definitions, the web hosts of the configuration, the endpoint table and the log.
    std::vector<int> dropped(capture.files.size(), 0);
    std::vector<std::string> texts(capture.files.size());
    std::vector<bool> utf16(capture.files.size(), false);
    for (std::size_t i = 0; i < capture.files.size(); ++i) {
        CapturedFile& file = capture.files[i];
        if (capture.dataFolder.size() < file.path.size() &&
            UpperAscii(file.path.substr(0, capture.dataFolder.size())) ==
                UpperAscii(capture.dataFolder)) {
            redaction.Add(NameKind::kUser, ResultFileUser(file.path));
        }
        const std::string upper = UpperAscii(file.path);
        const auto endsWith = [&upper](const char* tail) {
            const std::size_t size = std::char_traits<char>::length(tail);
            return upper.size() > size && upper.compare(upper.size() - size, size, tail) == 0;
        };
        const bool config = endsWith("WPCONFIG.XML");
        const bool hostbook = endsWith("HOSTBOOK.INI");
        const bool log = endsWith("_PATCHLOG.LOG");
        bool wide = false;
        std::string text = FileText(file.bytes, &wide);
        utf16[i] = wide;
        if (config) text = DropXmlSecrets(text, &dropped[i]);
        if (hostbook) text = DropIniSecrets(text, &dropped[i]);
        text = DropInline(redaction, text, file.path);
        if (config || hostbook || log) {
            for (const std::string& host : WebHosts(text)) redaction.Add(NameKind::kHost, host);
        }
        Register(redaction, text);
        texts[i] = std::move(text);
    }
    ForEachTextValue(capture.hive.root(),
                     [&](platform::emulated::RegValue& value) { Register(redaction, value.data); });
    for (auto* facts : {&capture.facts, &capture.notes, &capture.failed}) {
        for (const Fact& fact : *facts) Register(redaction, fact.value);
    }
    // The DNS forms of the domain and computer names (corp.example.com for CORP) are names too.
    for (const std::string& text : texts) redaction.AddDnsForms(text);
    ForEachTextValue(capture.hive.root(), [&](platform::emulated::RegValue& value) {
        redaction.AddDnsForms(value.data);
    });
    for (auto* facts : {&capture.facts, &capture.notes, &capture.failed}) {
        for (const Fact& fact : *facts) redaction.AddDnsForms(fact.value);
    }

    // The names are known: every text of the capture is rewritten.
    for (std::size_t i = 0; i < capture.files.size(); ++i) {
        CapturedFile& file = capture.files[i];
        const std::string before = file.path;
        file.path = redaction.Apply(redaction.ReplaceSids(file.path, "file names"), "file names");
        file.bytes = FileBytes(
            redaction.Apply(redaction.ReplaceSids(texts[i], file.path), file.path), utf16[i]);
        redaction.Dropped(file.path, dropped[i]);
        redaction.RenamePlace(before, file.path);
    }
    for (std::string& folder : capture.folders) folder = redaction.Apply(folder, "file names");
    for (auto* facts : {&capture.facts, &capture.notes, &capture.failed}) {
        const std::string place = facts == &capture.facts ? "machine.ini" : "capture.ini";
        for (Fact& fact : *facts) {
            int userInfo = 0;
            int pairs = 0;
            fact.value = DropInlineSecrets(fact.value, &userInfo, &pairs);
            redaction.Dropped(place, userInfo, "URL user info");
            redaction.Dropped(place, pairs, "secret values in text");
            fact.name = redaction.Apply(redaction.ReplaceSids(fact.name, place), place);
            fact.value = redaction.Apply(redaction.ReplaceSids(fact.value, place), place);
        }
    }
    for (auto& top : capture.hive.root().subKeys) RedactKey(*top, "", redaction);
    capture.installPath = redaction.Apply(capture.installPath, "file names");
    capture.dataFolder = redaction.Apply(capture.dataFolder, "file names");
}

}  // namespace capture
