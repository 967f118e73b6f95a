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
    // A count of secrets dropped at `place`.
    void Dropped(const std::string& place, int count);
    // redaction.ini: [Pseudonyms] pseudonym=kind, [Replaced] place=kinds, [Dropped] place=count.
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
    std::map<std::string, int> dropped_;
};

// Whether a setting's name says it holds a secret: a password, token, secret or key.
bool LooksSecret(const std::string& name);
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
