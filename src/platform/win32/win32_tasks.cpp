// Tasks facet: the Task Scheduler 2.0 service objects (taskschd.dll). Each registered task keeps
// its own apartment reference, so that it can be used and released after GetTask has returned.

#include "platform/win32/com_support.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

// The Windows headers come after windows_include.h, which they need first.
// clang-format off
#include <taskschd.h>
// clang-format on

namespace platform::win32 {
namespace {

class Win32RegisteredTask final : public RegisteredTask {
public:
    explicit Win32RegisteredTask(IRegisteredTask* task) : task_(task) {}

    LONG get_State(LONG* state) override {
        TASK_STATE value = TASK_STATE_UNKNOWN;
        const HRESULT result = task_.get()->get_State(&value);
        if (SUCCEEDED(result)) *state = static_cast<LONG>(value);
        return result;
    }

    LONG get_Name(std::string* name) override {
        BSTR text = nullptr;
        const HRESULT result = task_.get()->get_Name(&text);
        UniqueBstr owned(text);
        if (SUCCEEDED(result)) *name = TextOfBstr(owned.get());
        return result;
    }

    LONG put_Enabled(bool enabled) override {
        return task_.get()->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
    }

private:
    // Declared first: the apartment outlives the task pointer released before it.
    ComApartment apartment_;
    UniqueCom<IRegisteredTask> task_;
};

class Win32Tasks final : public Tasks {
public:
    LONG GetTask(const std::string& folderPath, const std::string& taskName,
                 std::unique_ptr<RegisteredTask>* task) override {
        task->reset();
        ComApartment apartment;
        ITaskService* rawService = nullptr;
        HRESULT result =
            ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                               reinterpret_cast<void**>(&rawService));
        if (FAILED(result)) return result;
        UniqueCom<ITaskService> service(rawService);
        // Impersonate rather than the process's default "identify": the service acts for the
        // program on the task store.
        result = SetProxyImpersonation(service.get(), RPC_C_IMP_LEVEL_IMPERSONATE);
        if (FAILED(result)) return result;

        // Connect with every argument omitted: the local machine under the program's identity.
        VARIANT omitted;
        ::VariantInit(&omitted);
        result = service.get()->Connect(omitted, omitted, omitted, omitted);
        if (FAILED(result)) return result;

        UniqueBstr folderText(::SysAllocString(ToWide(folderPath).c_str()));
        ITaskFolder* rawFolder = nullptr;
        result = service.get()->GetFolder(folderText.get(), &rawFolder);
        if (FAILED(result)) return result;
        UniqueCom<ITaskFolder> folder(rawFolder);

        UniqueBstr nameText(::SysAllocString(ToWide(taskName).c_str()));
        IRegisteredTask* rawTask = nullptr;
        result = folder.get()->GetTask(nameText.get(), &rawTask);
        if (FAILED(result)) return result;
        *task = std::make_unique<Win32RegisteredTask>(rawTask);
        return result;
    }
};

}  // namespace

std::unique_ptr<Tasks> MakeWin32Tasks() {
    return std::make_unique<Win32Tasks>();
}

}  // namespace platform::win32
