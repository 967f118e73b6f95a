#include "platform/emulated/emulated_tasks.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/emulated/text_codec.h"

namespace platform::emulated {

namespace fs = std::filesystem;

namespace {

struct Range {
    std::size_t begin = 0;  // first character of the element's content
    std::size_t end = 0;    // its closing tag
};

// The start tag <name> or <name ...> at or after `from`, not a longer name that begins alike.
std::size_t FindStartTag(const std::string& xml, const std::string& name, std::size_t from,
                         std::size_t limit) {
    const std::string open = "<" + name;
    for (std::size_t at = xml.find(open, from); at != std::string::npos && at < limit;
         at = xml.find(open, at + 1)) {
        const std::size_t next = at + open.size();
        if (next < xml.size() && (xml[next] == '>' || xml[next] == '/' || xml[next] == ' ' ||
                                  xml[next] == '\t' || xml[next] == '\r' || xml[next] == '\n')) {
            return at;
        }
    }
    return std::string::npos;
}

// The content of the first element `name` between from and limit; nothing for a missing or
// empty-element (<name/>) one.
std::optional<Range> FindContent(const std::string& xml, const std::string& name, std::size_t from,
                                 std::size_t limit) {
    const std::size_t start = FindStartTag(xml, name, from, limit);
    if (start == std::string::npos) return std::nullopt;
    const std::size_t close = xml.find('>', start);
    if (close == std::string::npos || xml[close - 1] == '/') return std::nullopt;
    const std::size_t end = xml.find("</" + name + ">", close);
    if (end == std::string::npos || end > limit) return std::nullopt;
    return Range{close + 1, end};
}

std::string Trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// A task definition as text (UTF-8) and the encoding to write it back in.
struct Definition {
    std::string xml;
    std::string bom;  // "\xFF\xFE" (UTF-16LE), "\xEF\xBB\xBF" or nothing
};

Definition Decode(const std::string& bytes) {
    if (bytes.rfind("\xFF\xFE", 0) == 0) return {Utf16LeToUtf8(bytes.substr(2)), "\xFF\xFE"};
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return {bytes.substr(3), "\xEF\xBB\xBF"};
    return {bytes, ""};
}

std::string Encode(const Definition& definition) {
    if (definition.bom == "\xFF\xFE") return definition.bom + Utf8ToUtf16Le(definition.xml);
    return definition.bom + definition.xml;
}

std::optional<std::string> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool IsReadOnly(const fs::path& path) {
    std::error_code error;
    const auto perms = fs::status(path, error).permissions();
    return !error && (perms & fs::perms::owner_write) == fs::perms::none;
}

class EmulatedRegisteredTask final : public RegisteredTask {
public:
    EmulatedRegisteredTask(Machine& machine, fs::path file, std::string taskPath, std::string name)
        : machine_(machine),
          file_(std::move(file)),
          taskPath_(std::move(taskPath)),
          name_(std::move(name)) {}

    LONG get_State(LONG* state) override {
        if (HangsPast("get_State")) return kTimeoutHresult;
        const auto bytes = ReadBytes(file_);
        if (!bytes) return HresultFromWin32(kErrorFileNotFound);
        if (!TaskXmlEnabled(Decode(*bytes).xml)) {
            *state = kTaskStateDisabled;
            return 0;
        }
        *state = kTaskStateReady;
        if (auto fact = machine_.facts().Get("Tasks", taskPath_); fact && !fact->empty()) {
            *state = static_cast<LONG>(std::strtol(fact->c_str(), nullptr, 10));
        }
        return 0;
    }

    LONG get_Name(std::string* name) override {
        if (HangsPast("get_Name")) return kTimeoutHresult;
        *name = name_;
        return 0;
    }

    LONG put_Enabled(bool enabled) override {
        if (HangsPast("put_Enabled")) return kTimeoutHresult;
        const auto bytes = ReadBytes(file_);
        if (!bytes) return HresultFromWin32(kErrorFileNotFound);
        if (IsReadOnly(file_)) return HresultFromWin32(kErrorAccessDenied);
        Definition definition = Decode(*bytes);
        definition.xml = TaskXmlWithEnabled(definition.xml, enabled);
        {
            std::ofstream out(file_, std::ios::binary | std::ios::trunc);
            out << Encode(definition);
            out.flush();
            if (!out) return HresultFromWin32(kErrorAccessDenied);
        }
        machine_.DateWritten(file_);
        machine_.Journal("Task " + taskPath_ + " Enabled=" + (enabled ? "true" : "false"));
        return 0;
    }

private:
    // A call its [Hang] fact holds past the bound; as on Windows, the task's thread then stays
    // inside it and every later call of the task fails at once.
    bool HangsPast(const char* call) {
        if (!lost_ && machine_.HangsPast(std::string("Tasks.") + call, kTaskSchedulerCallMs)) {
            lost_ = true;
            return true;
        }
        if (lost_) machine_.lastError = kErrorTimeout;
        return lost_;
    }

    Machine& machine_;
    bool lost_ = false;
    fs::path file_;
    std::string taskPath_;
    std::string name_;
};

}  // namespace

bool TaskXmlEnabled(const std::string& xml) {
    const auto settings = FindContent(xml, "Settings", 0, xml.size());
    if (!settings) return true;
    const auto enabled = FindContent(xml, "Enabled", settings->begin, settings->end);
    if (!enabled) return true;
    const std::string value = Trimmed(xml.substr(enabled->begin, enabled->end - enabled->begin));
    return !(value == "false" || value == "0");
}

std::string TaskXmlWithEnabled(const std::string& xml, bool enabled) {
    const std::string value = enabled ? "true" : "false";
    std::string result = xml;
    if (const auto settings = FindContent(xml, "Settings", 0, xml.size())) {
        if (const auto element = FindContent(xml, "Enabled", settings->begin, settings->end)) {
            return result.replace(element->begin, element->end - element->begin, value);
        }
        return result.insert(settings->begin, "<Enabled>" + value + "</Enabled>");
    }
    const std::size_t empty = result.find("<Settings/>");
    if (empty != std::string::npos) {
        return result.replace(empty, 11, "<Settings><Enabled>" + value + "</Enabled></Settings>");
    }
    const std::size_t end = result.rfind("</Task>");
    const std::string settings = "<Settings><Enabled>" + value + "</Enabled></Settings>";
    if (end == std::string::npos) return result + settings;
    return result.insert(end, settings);
}

LONG EmulatedTasks::GetTask(const std::string& folderPath, const std::string& taskName,
                            std::unique_ptr<RegisteredTask>* task) {
    task->reset();
    if (machine_.HangsPast("Tasks.GetTask", kTaskSchedulerCallMs)) return kTimeoutHresult;
    if (machine_.facts().Get("Tasks", "Service").value_or("1") == "0") {
        return HresultFromWin32(kErrorServiceDisabled);
    }
    std::string system = machine_.facts().Get("System", "SystemDirectory").value_or("");
    if (system.empty()) system = "C:\\Windows\\system32";
    std::string folder = folderPath;
    while (!folder.empty() && (folder.front() == '\\' || folder.front() == '/')) folder.erase(0, 1);
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    const std::string store = system + "\\Tasks\\" + folder;
    std::error_code error;
    const fs::path folderHost = machine_.HostPath(store);
    // The root folder is always there (a store without its folder holds no task); any other
    // folder that is not there is ERROR_PATH_NOT_FOUND, as GetFolder reports it.
    if (!fs::is_directory(folderHost, error)) {
        return HresultFromWin32(folder.empty() ? kErrorFileNotFound : kErrorPathNotFound);
    }
    if (taskName.empty()) return HresultFromWin32(kErrorInvalidParameter);

    const std::string taskPath = "\\" + (folder.empty() ? taskName : folder + "\\" + taskName);
    fs::path file = machine_.HostPath(store + "\\" + taskName);
    std::string name = file.filename().string();
    if (!fs::is_regular_file(file, error)) {
        file = machine_.HostPath(store + "\\" + taskName + ".bak");
        if (!fs::is_regular_file(file, error)) return HresultFromWin32(kErrorFileNotFound);
        name = file.stem().string();
    }
    *task = std::make_unique<EmulatedRegisteredTask>(machine_, file, taskPath, name);
    return 0;
}

}  // namespace platform::emulated
