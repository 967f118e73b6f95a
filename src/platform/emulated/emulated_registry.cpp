#include "platform/emulated/emulated_registry.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/dates.h"
#include "platform/emulated/emulated_files.h"
#include "platform/emulated/fact_list.h"
#include "platform/emulated/text_codec.h"

namespace platform::emulated {

namespace {

std::string Join(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) path += (path.empty() ? "" : "\\") + part;
    return path;
}

// The 32-bit view of HKLM\SOFTWARE is HKLM\SOFTWARE\WOW6432Node, as on 64-bit Windows.
std::string ToView32(const std::string& path) {
    auto parts = SplitKeyPath(path);
    if (!parts.empty() && EqualsNoCase(parts[0], "SOFTWARE") &&
        (parts.size() < 2 || !EqualsNoCase(parts[1], "WOW6432Node"))) {
        parts.insert(parts.begin() + 1, "WOW6432Node");
    }
    return Join(parts);
}

constexpr DWORD kWriteAccess = kKeySetValue | 0x0004 /*CREATE_SUB_KEY*/ | 0x00010000 /*DELETE*/ |
                               0x00040000 /*WRITE_DAC*/ | 0x00080000 /*WRITE_OWNER*/;

// The generic rights as a key maps them (GENERIC_READ is KEY_READ, ...); MAXIMUM_ALLOWED is
// everything that the key's permissions grant, all of it for SYSTEM.
DWORD KeyRights(DWORD access) {
    DWORD rights = access & 0x00FFFFFF & ~0x02000000u;
    if (access & 0x80000000u) rights |= kKeyRead;       // GENERIC_READ
    if (access & 0x40000000u) rights |= 0x20006;        // GENERIC_WRITE: KEY_WRITE
    if (access & 0x20000000u) rights |= kKeyRead;       // GENERIC_EXECUTE: KEY_EXECUTE
    if (access & 0x10000000u) rights |= kKeyAllAccess;  // GENERIC_ALL
    if (access & 0x02000000u) rights |= kKeyAllAccess;  // MAXIMUM_ALLOWED
    return rights;
}

bool IsText(DWORD type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

}  // namespace

bool EmulatedRegistry::Listed(const char* section, const std::string& path) const {
    for (const auto& [name, value] : machine_.facts().Section(section)) {
        (void)value;
        if (EqualsNoCase(Join(SplitKeyPath(name)), path)) return true;
    }
    return false;
}

const EmulatedRegistry::OpenKey* EmulatedRegistry::Lookup(HKEY key) const {
    static const OpenKey kRoot{"", kKeyAllAccess};
    if (key == kHkeyLocalMachine) return &kRoot;
    const auto found = open_.find(key);
    return found == open_.end() ? nullptr : &found->second;
}

LONG EmulatedRegistry::Open(HKEY root, const char* subKey, DWORD access, bool view32,
                            HKEY* result) {
    if (!result) return kErrorInvalidParameter;
    // A handle that is no key fails before anything is handed back: the caller's variable keeps
    // what it held.
    const OpenKey* parent = Lookup(root);
    if (!parent) return kErrorInvalidHandle;
    *result = 0;
    // A sub-key is relative: one that starts at a backslash is no path below the key.
    if (subKey && subKey[0] == '\\') return kErrorBadPathname;
    std::string path = Join(SplitKeyPath(parent->path + "\\" + (subKey ? subKey : "")));
    if (view32) path = ToView32(path);
    if (!machine_.hive().Find(path)) return kErrorFileNotFound;
    // Keys listed under [RegistryUnreadable] refuse every open, as a key whose permissions grant
    // the account nothing (a security product's own key, a damaged descriptor).
    if (Listed("RegistryUnreadable", path)) {
        machine_.Journal("RegOpenKey HKLM\\" + path + " refused 5");
        return kErrorAccessDenied;
    }
    // Keys listed under [RegistryReadOnly] refuse an open that asks for any write access, as a
    // key whose permissions grant SYSTEM read access only.
    if ((access & kWriteAccess) && Listed("RegistryReadOnly", path)) return kErrorAccessDenied;
    const HKEY handle = next_;
    next_ += 4;
    open_[handle] = OpenKey{path, access};
    *result = handle;
    return kErrorSuccess;
}

// An open relative to an open key stays in that key's view, unless it names the 32-bit view
// itself: from a key of the 64-bit view, KEY_WOW64_32KEY reaches the 32-bit twin of the path,
// while from a key of the 32-bit view KEY_WOW64_64KEY does not lead out of it.
LONG EmulatedRegistry::RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) {
    // No sub-key hands back the key itself, the predefined one and no key at all included.
    if (result && (!subKey || !*subKey) && (!root || Lookup(root))) {
        *result = root;
        return kErrorSuccess;
    }
    return Open(root, subKey, kKeyAllAccess, root == kHkeyLocalMachine && machine_.wow64(), result);
}

LONG EmulatedRegistry::RegOpenKeyExA(HKEY root, const char* subKey, DWORD /*options*/, DWORD access,
                                     HKEY* result) {
    bool view32 = (access & kKeyWow64_32Key) != 0;
    if (root == kHkeyLocalMachine && !(access & (kKeyWow64_64Key | kKeyWow64_32Key))) {
        view32 = machine_.wow64();
    }
    return Open(root, subKey, KeyRights(access & ~(kKeyWow64_64Key | kKeyWow64_32Key)), view32,
                result);
}

LONG EmulatedRegistry::RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                                        DWORD* dataSize) {
    const OpenKey* open = Lookup(key);
    if (!open) return kErrorInvalidHandle;
    if (!(open->access & kKeyQueryValue)) return kErrorAccessDenied;
    if (data && !dataSize) return kErrorInvalidParameter;
    RegKey* regKey = machine_.hive().Find(open->path);
    if (!regKey) return kErrorFileNotFound;  // deleted since it was opened
    RegValue* value = regKey->FindValue(valueName ? valueName : "");
    if (!value) {
        // A size query of a missing value answers 0; a read leaves the size as it was.
        if (!data && dataSize) *dataSize = 0;
        return kErrorFileNotFound;
    }
    // The room is read before the type is written: both may be the same variable.
    const DWORD room = dataSize ? *dataSize : 0;
    if (type) *type = value->type;
    const auto size = static_cast<DWORD>(value->data.size());
    if (!data) {
        if (dataSize) *dataSize = size;
        return kErrorSuccess;
    }
    if (room < size) {
        *dataSize = size;
        return kErrorMoreData;
    }
    std::memcpy(data, value->data.data(), size);
    // Text stored without its NUL gets one when the buffer has room for it; the size handed
    // back stays the data's own. Empty text leaves the buffer as it was.
    if (IsText(value->type) && size > 0 && room > size && value->data.back() != '\0') {
        data[size] = 0;
    }
    *dataSize = size;
    return kErrorSuccess;
}

LONG EmulatedRegistry::RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                                      DWORD dataSize) {
    const OpenKey* open = Lookup(key);
    if (!open) return kErrorInvalidHandle;
    if (!(open->access & kKeySetValue)) return kErrorAccessDenied;
    if (!data && dataSize) return 998;  // ERROR_NOACCESS
    RegKey* regKey = machine_.hive().Find(open->path);
    if (!regKey) return kErrorFileNotFound;
    // Text whose size leaves out the NUL that follows it is stored with that NUL: Windows looks
    // at the byte after the data for it.
    if (IsText(type) && dataSize > 0 && data[dataSize - 1] != 0 && data[dataSize] == 0) {
        ++dataSize;
    }
    RegValue stored{valueName ? valueName : "", type,
                    std::string(reinterpret_cast<const char*>(data), dataSize)};
    if (RegValue* existing = regKey->FindValue(stored.name)) {
        existing->type = stored.type;
        existing->data = std::move(stored.data);
    } else {
        regKey->values.push_back(std::move(stored));
    }
    // The key's last-write time is the system clock's at the write, the pinned one included.
    const auto pinned = machine_.PinnedSystemTime();
    written_[UpperAscii(open->path)] =
        ToFileTime(pinned ? *pinned : std::filesystem::file_time_type::clock::now());
    return machine_.SaveHive() ? kErrorSuccess : kErrorAccessDenied;
}

LONG EmulatedRegistry::RegCloseKey(HKEY key) {
    if (key == kHkeyLocalMachine) return kErrorSuccess;
    return open_.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace platform::emulated

namespace platform::emulated {

RegKey* EmulatedRegistry::Granted(HKEY key, DWORD right, LONG* status) {
    const OpenKey* open = Lookup(key);
    *status = !open                     ? kErrorInvalidHandle
              : !(open->access & right) ? kErrorAccessDenied
                                        : kErrorSuccess;
    if (*status != kErrorSuccess) return nullptr;
    RegKey* regKey = machine_.hive().Find(open->path);
    if (!regKey) *status = kErrorFileNotFound;  // deleted since it was opened
    return regKey;
}

LONG EmulatedRegistry::RegEnumKeyExA(HKEY key, DWORD index, std::string* name) {
    LONG status = kErrorSuccess;
    const RegKey* regKey = Granted(key, kKeyEnumerateSubKeys, &status);
    if (!regKey) return status;
    // Windows keeps a key's subkeys in the order of their upper-cased names.
    std::vector<std::string> names;
    for (const auto& sub : regKey->subKeys) names.push_back(sub->name);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return UpperAscii(a) < UpperAscii(b);
    });
    if (index >= names.size()) return kErrorNoMoreItems;
    *name = names[index];
    return kErrorSuccess;
}

LONG EmulatedRegistry::RegEnumValueA(HKEY key, DWORD index, std::string* name) {
    LONG status = kErrorSuccess;
    const RegKey* regKey = Granted(key, kKeyQueryValue, &status);
    if (!regKey) return status;
    if (index >= regKey->values.size()) return kErrorNoMoreItems;
    *name = regKey->values[index].name;
    return kErrorSuccess;
}

// A key written through this host has the time of that write; else the time [KeyTimes] of
// machine.ini gives it (UTC); else 0: the machine folder does not know it.
LONG EmulatedRegistry::RegQueryInfoKeyA(HKEY key, std::uint64_t* lastWriteTime) {
    LONG status = kErrorSuccess;
    const RegKey* regKey = Granted(key, kKeyQueryValue, &status);
    if (lastWriteTime) *lastWriteTime = 0;
    if (!regKey) return status;
    if (!lastWriteTime) return kErrorSuccess;
    const std::string path = Lookup(key)->path;
    if (const auto found = written_.find(UpperAscii(path)); found != written_.end()) {
        *lastWriteTime = found->second;
        return kErrorSuccess;
    }
    for (const auto& [name, value] : machine_.facts().Section("KeyTimes")) {
        if (!EqualsNoCase(Join(SplitKeyPath(name)), path) || !IsLocalTimeText(value)) continue;
        const std::string& text = value;  // a structured binding is not captured by clang 14
        const auto number = [&text](std::size_t at, std::size_t count) {
            return std::stoi(text.substr(at, count));
        };
        const std::int64_t days = common::DaysFromCivil(number(0, 4), number(5, 2), number(8, 2)) -
                                  common::DaysFromCivil(1601, 1, 1);
        const std::int64_t seconds =
            days * 86400 + number(11, 2) * 3600 + number(14, 2) * 60 + number(17, 2);
        *lastWriteTime = static_cast<std::uint64_t>(seconds) * 10000000ULL;
        break;
    }
    return kErrorSuccess;
}

}  // namespace platform::emulated
