// HKEY_LOCAL_MACHINE kept as a regedit export file ("Windows Registry Editor Version 5.00").
// Values hold the bytes that the ANSI registry functions hand out: texts of REG_SZ,
// REG_EXPAND_SZ and REG_MULTI_SZ in the host's ANSI code page (UTF-8 here) with their NULs,
// everything else as stored.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform::emulated {

struct RegValue {
    std::string name;  // "" is the key's default value
    DWORD type = kRegNone;
    std::string data;
};

struct RegKey {
    std::string name;  // this key's own name, as written
    std::vector<RegValue> values;
    std::vector<std::unique_ptr<RegKey>> subKeys;

    RegKey* FindSubKey(const std::string& keyName) const;
    RegKey& SubKey(const std::string& keyName);  // finds or creates
    RegValue* FindValue(const std::string& valueName);
};

// The parts of a key path between its backslashes (empty parts dropped).
std::vector<std::string> SplitKeyPath(const std::string& path);

class RegFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The HKEY_LOCAL_MACHINE tree; paths are below the hive, components separated by "\".
class RegHive {
public:
    RegKey& root() { return root_; }
    const RegKey& root() const { return root_; }
    // The key at path, or null; names compare without regard to case.
    RegKey* Find(const std::string& path);
    RegKey& Create(const std::string& path);

    // Reads the export text (UTF-8 or ANSI, or UTF-16LE with its byte-order mark). Keys of other
    // hives are refused. Throws RegFormatError naming the line that cannot be read.
    static RegHive Parse(const std::string& fileBytes);
    // The export text, UTF-8, CR LF line ends.
    std::string Serialize() const;

private:
    RegKey root_;
};

}  // namespace platform::emulated
