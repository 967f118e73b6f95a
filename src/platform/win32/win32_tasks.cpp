// Tasks facet: the Task Scheduler 2.0 service objects (taskschd.dll). The service answers over
// RPC and none of its calls has a time-out: each GetTask makes its objects on a worker of its
// own in the multithreaded apartment, and every call of the task it hands out is made there,
// within kTaskSchedulerCallMs.

#include <memory>
#include <string>

#include "platform/win32/com_support.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

// The Windows headers come after windows_include.h, which they need first.
// clang-format off
#include <taskschd.h>
// clang-format on

namespace platform::win32 {
namespace {

// A call's HRESULT and what it read.
struct Answer {
    HRESULT hr = S_OK;
    LONG state = 0;
    std::string name;
};

Answer AnswerOf(HRESULT hr) {
    Answer answer;
    answer.hr = hr;
    return answer;
}

class Win32RegisteredTask final : public RegisteredTask {
public:
    Win32RegisteredTask(std::shared_ptr<BoundedCaller> worker, IRegisteredTask* task)
        : worker_(std::move(worker)), task_(task) {}
    // Released on its own thread; a task whose thread is lost is left to the process's end.
    ~Win32RegisteredTask() override {
        IRegisteredTask* task = task_;
        worker_->Run(kTaskSchedulerCallMs, [task] { task->Release(); });
    }
    Win32RegisteredTask(const Win32RegisteredTask&) = delete;
    Win32RegisteredTask& operator=(const Win32RegisteredTask&) = delete;

    LONG get_State(LONG* state) override {
        const Answer answer = Call([](IRegisteredTask* task) {
            Answer read;
            TASK_STATE value = TASK_STATE_UNKNOWN;
            read.hr = task->get_State(&value);
            read.state = static_cast<LONG>(value);
            return read;
        });
        if (SUCCEEDED(answer.hr)) *state = answer.state;
        return answer.hr;
    }

    LONG get_Name(std::string* name) override {
        const Answer answer = Call([](IRegisteredTask* task) {
            Answer read;
            BSTR text = nullptr;
            read.hr = task->get_Name(&text);
            const UniqueBstr owned(text);
            if (SUCCEEDED(read.hr)) read.name = TextOfBstr(owned.get());
            return read;
        });
        if (SUCCEEDED(answer.hr)) *name = answer.name;
        return answer.hr;
    }

    LONG put_Enabled(bool enabled) override {
        return Call([enabled](IRegisteredTask* task) {
                   return AnswerOf(task->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE));
               })
            .hr;
    }

private:
    template <class Work>
    Answer Call(Work work) {
        IRegisteredTask* task = task_;
        const auto answer = worker_->Call<Answer>(
            kTaskSchedulerCallMs, [task, work = std::move(work)] { return work(task); });
        return answer ? *answer : AnswerOf(HRESULT_FROM_WIN32(worker_->failure()));
    }

    std::shared_ptr<BoundedCaller> worker_;
    IRegisteredTask* task_;  // lives on the worker's apartment; released there
};

// The service and folder objects, made and released on the worker; the task comes back with its
// reference.
Answer FindTask(const std::wstring& folderPath, const std::wstring& taskName,
                IRegisteredTask** found) {
    Answer answer;
    ITaskService* rawService = nullptr;
    answer.hr = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskService, reinterpret_cast<void**>(&rawService));
    if (FAILED(answer.hr)) return answer;
    const UniqueCom<ITaskService> service(rawService);
    // Impersonate rather than the process's default "identify": the service acts for the
    // program on the task store.
    answer.hr = SetProxyImpersonation(service.get(), RPC_C_IMP_LEVEL_IMPERSONATE);
    if (FAILED(answer.hr)) return answer;

    // Connect with every argument omitted: the local machine under the program's identity.
    VARIANT omitted;
    ::VariantInit(&omitted);
    answer.hr = service.get()->Connect(omitted, omitted, omitted, omitted);
    if (FAILED(answer.hr)) return answer;

    const UniqueBstr folderText(::SysAllocString(folderPath.c_str()));
    ITaskFolder* rawFolder = nullptr;
    answer.hr = service.get()->GetFolder(folderText.get(), &rawFolder);
    if (FAILED(answer.hr)) return answer;
    const UniqueCom<ITaskFolder> folder(rawFolder);

    const UniqueBstr nameText(::SysAllocString(taskName.c_str()));
    answer.hr = folder.get()->GetTask(nameText.get(), found);
    return answer;
}

class Win32Tasks final : public Tasks {
public:
    LONG GetTask(const std::string& folderPath, const std::string& taskName,
                 std::unique_ptr<RegisteredTask>* task) override {
        task->reset();
        std::shared_ptr<BoundedCaller> worker = MakeComWorker(COINIT_MULTITHREADED);
        struct Found {
            Answer answer;
            IRegisteredTask* task = nullptr;
        };
        const auto found = worker->Call<Found>(
            kTaskSchedulerCallMs, [folder = ToWide(folderPath), name = ToWide(taskName)] {
                Found result;
                result.answer = FindTask(folder, name, &result.task);
                return result;
            });
        if (!found) return HRESULT_FROM_WIN32(worker->failure());
        if (FAILED(found->answer.hr)) return found->answer.hr;
        *task = std::make_unique<Win32RegisteredTask>(std::move(worker), found->task);
        return found->answer.hr;
    }
};

}  // namespace

std::unique_ptr<Tasks> MakeWin32Tasks() {
    return std::make_unique<Win32Tasks>();
}

}  // namespace platform::win32
