// The .reg reader and writer of the emulated registry. Any bytes: either refused with
// RegFormatError or read into a hive whose export reads back to the same export. Any hive built
// from values: its export reads back to the same keys and values.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>

#include "fuzz_support.h"
#include "platform/emulated/reg_file.h"

using platform::emulated::RegFormatError;
using platform::emulated::RegHive;
using platform::emulated::RegKey;

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

void Same(const RegKey& a, const RegKey& b, const std::string& path) {
    if (a.values.size() != b.values.size()) fuzzing::Fail("value count differs", path);
    std::map<std::string, const platform::emulated::RegValue*> values;
    for (const auto& value : b.values) values[Lower(value.name)] = &value;
    for (const auto& value : a.values) {
        const auto found = values.find(Lower(value.name));
        if (found == values.end()) fuzzing::Fail("value lost", path + " : " + value.name);
        if (found->second->name != value.name || found->second->type != value.type ||
            found->second->data != value.data) {
            fuzzing::Fail("value changed", path + " : " + value.name + " type " +
                                               std::to_string(value.type) + " -> " +
                                               std::to_string(found->second->type) + ", " +
                                               std::to_string(value.data.size()) + " bytes -> " +
                                               std::to_string(found->second->data.size()));
        }
    }
    if (a.subKeys.size() != b.subKeys.size()) fuzzing::Fail("subkey count differs", path);
    for (const auto& sub : a.subKeys) {
        const RegKey* other = b.FindSubKey(sub->name);
        if (!other || other->name != sub->name) fuzzing::Fail("key lost", path + "\\" + sub->name);
        Same(*sub, *other, path + "\\" + sub->name);
    }
}

std::string KeyName(FuzzedDataProvider& input) {
    std::string name = input.ConsumeRandomLengthString(16);
    std::string clean;
    for (const char c : name) {
        // A key name is printable and holds no backslash.
        if (static_cast<unsigned char>(c) >= 0x20 && c != '\\' && c != 0x7F) clean += c;
    }
    return clean.empty() ? std::string("K") : clean;
}

RegHive Built(FuzzedDataProvider& input) {
    static constexpr platform::DWORD kTypes[] = {platform::kRegNone,
                                                 platform::kRegSz,
                                                 platform::kRegExpandSz,
                                                 platform::kRegBinary,
                                                 platform::kRegDword,
                                                 platform::kRegMultiSz,
                                                 platform::kRegQword,
                                                 5,
                                                 0x7fff};
    RegHive hive;
    const int keys = input.ConsumeIntegralInRange(0, 6);
    for (int k = 0; k < keys && input.remaining_bytes() > 0; ++k) {
        std::string path = KeyName(input);
        const int depth = input.ConsumeIntegralInRange(0, 3);
        for (int d = 0; d < depth; ++d) path += "\\" + KeyName(input);
        RegKey& key = hive.Create(path);
        const int values = input.ConsumeIntegralInRange(0, 4);
        for (int v = 0; v < values; ++v) {
            // Value names as the program spells them: printable, any of them.
            std::string name;
            for (const char c : input.ConsumeRandomLengthString(16)) {
                if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) name += c;
            }
            const platform::DWORD type = input.PickValueInArray(kTypes);
            std::string bytes = input.ConsumeRandomLengthString(64);
            // Texts are in the ANSI code page, UTF-8 on the emulated host, and kept as UTF-16.
            if (type == platform::kRegSz || type == platform::kRegExpandSz ||
                type == platform::kRegMultiSz) {
                for (char& c : bytes) {
                    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
                }
                if (bytes.size() % 2 && input.ConsumeBool()) bytes += '\0';
            }
            if (type == platform::kRegDword) bytes.resize(4, '\0');
            if (type == platform::kRegQword) bytes.resize(8, '\0');
            if (auto* existing = key.FindValue(name)) {
                existing->type = type;
                existing->data = bytes;
            } else {
                key.values.push_back({name, type, bytes});
            }
        }
    }
    return hive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
        FuzzedDataProvider input(data + 1, size - 1);
        const RegHive hive = Built(input);
        const std::string text = hive.Serialize();
        RegHive back;
        try {
            back = RegHive::Parse(text);
        } catch (const RegFormatError& e) {
            fuzzing::Fail("own export refused", e.what() + std::string("\n") + text);
        }
        Same(hive.root(), back.root(), "HKLM");
        return 0;
    }
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    RegHive hive;
    try {
        hive = RegHive::Parse(bytes);
    } catch (const RegFormatError&) {
        return 0;
    }
    const std::string first = hive.Serialize();
    RegHive again;
    try {
        again = RegHive::Parse(first);
    } catch (const RegFormatError& e) {
        fuzzing::Fail("export of a read file refused", e.what() + std::string("\n") + first);
    }
    Same(hive.root(), again.root(), "HKLM");
    if (again.Serialize() != first) fuzzing::Fail("export changes on a second round", first);
    return 0;
}
