// Redaction of a capture: the names of people and machines become stable pseudonyms (user-1,
// host-1, domain-1), the same in every file, file name, path, registry value and fact, so that
// a replay still matches a result file to its user; secrets of the configuration are dropped.
// A manifest says which kind of name was replaced where, never what the name was.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "capture/capture.h"

namespace capture {

enum class NameKind { kUser, kComputer, kDomain, kHost };

class Redaction {
public:
    // Registers a name; the first kind given for a name stays. Empty names and the system's
    // own accounts (SYSTEM, LOCAL SERVICE, NETWORK SERVICE) are not names of anyone.
    void Add(NameKind kind, const std::string& original);
    // The text with every registered name replaced, without regard to case, where it stands as
    // a whole (not inside a longer word). The kinds replaced are noted under `place`.
    std::string Apply(const std::string& text, const std::string& place);
    // Registers the DNS names in text that begin with a registered domain or computer name
    // (corp.example.com for CORP) as domain names of their own, replaced whole.
    void AddDnsForms(const std::string& text);
    // Notes made under a file's path before it was redacted move to its redacted path.
    void RenamePlace(const std::string& from, const std::string& to);
    // A count of secrets of a kind ("secret settings", "URL user info", "task authors") dropped
    // at `place`.
    void Dropped(const std::string& place, int count, const std::string& kind = "secret settings");
    // The text with every account SID (S-1-5-21-...) replaced by its pseudonym sid-N, the same
    // SID by the same pseudonym everywhere; noted under `place`. Well-known SIDs stay.
    std::string ReplaceSids(const std::string& text, const std::string& place);
    // redaction.ini: [Pseudonyms] pseudonym=kind, [Replaced] place=kinds, [Dropped]
    // place=count: kinds.
    std::string Manifest() const;

private:
    struct Name {
        std::string upper;
        std::string pseudonym;
        NameKind kind;
    };
    std::vector<Name> names_;
    std::map<NameKind, int> counts_;
    std::map<std::string, std::set<std::string>> replaced_;
    std::map<std::string, std::pair<int, std::set<std::string>>> dropped_;
    std::map<std::string, std::string> sids_;  // upper-cased SID -> sid-N
};

// Whether a setting's name says it holds a secret: it contains pass, pwd, secret, token, key or
// credential (a name that is just "key" selects a setting rather than holding one).
bool LooksSecret(const std::string& name);
// Any text without the secrets it holds inline: the user info of URLs (scheme://user:pw@host
// becomes scheme://host) and the values of key=value pairs whose key looks secret
// ("Server=db;Password=x;" becomes "Server=db;Password=;"). Counts each kind dropped.
std::string DropInlineSecrets(const std::string& text, int* userInfo, int* pairs);
// The account names a text names: Bellhop_<user>.ini result files (an older one named only in
// the log), profile folders (\Users\<name>), and the DOMAIN\user accounts of task
// definitions (<Author>, <UserId>).
struct NamedAccounts {
    std::vector<std::string> users;
    std::vector<std::string> domains;
};
NamedAccounts AccountsNamedIn(const std::string& text);
// The configuration XML without the values of its secrets: attributes and elements whose name
// looks secret, and the value attribute of an element whose key or name attribute does.
std::string DropXmlSecrets(const std::string& xml, int* dropped);
// An INI text without the values of keys whose name looks secret.
std::string DropIniSecrets(const std::string& text, int* dropped);
// The host names of a text's web addresses (scheme://host) and of its primary and secondary
// endpoint attributes (host[:port]); loopback hosts are none of them.
std::vector<std::string> WebHosts(const std::string& text);

// Redacts a whole capture in place: names found in its facts, data folder, web configuration
// and registry, then every text, path and name of it rewritten.
void RedactCapture(MachineCapture& capture, Redaction& redaction);

}  // namespace capture
