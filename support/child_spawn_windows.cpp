// The Windows way to bind a child to its starter: a job object that kills every process in it
// when its last handle closes. We hold the only handle, not inheritable, for our whole life,
// so the system closes it when our process ends in any way, and the children go with it.
//
// Which handles a child inherits is given by a handle list (PROC_THREAD_ATTRIBUTE_HANDLE_LIST):
// the tool may have other inheritable handles open (another child's pipe ends, while two are
// being started on two threads), and a child that inherited the write end of another child's
// output pipe would keep that pipe from ever reporting its end.
#include "support/child_spawn_windows.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <new>

#include "support/unicode_text.h"

namespace {

HANDLE BindingJob() {
    static HANDLE job = nullptr;
    static std::once_flag made;
    std::call_once(made, [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        if (created == nullptr) return;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits)) {
            CloseHandle(created);
            return;
        }
        job = created;
    });
    return job;
}

// Handles the child is to inherit: each once (the list may hold no handle twice), and the
// copies of our own standard handles that were made for it, closed when the start is over.
class InheritedHandles {
  public:
    InheritedHandles() = default;
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    ~InheritedHandles() {
        // Runs as a failed start returns: the caller is to see that failure's error.
        const DWORD error = GetLastError();
        for (int i = 0; i < copyCount_; ++i) CloseHandle(copies_[i]);
        SetLastError(error);
    }

    // The handle the child gets for one standard stream: the given one, else an inheritable
    // copy of ours (none when we have none).
    HANDLE Stream(HANDLE given, DWORD ourStream) {
        if (given != nullptr) {
            Add(given);
            return given;
        }
        HANDLE ours = GetStdHandle(ourStream);
        if (ours == nullptr || ours == INVALID_HANDLE_VALUE) return nullptr;
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), ours, GetCurrentProcess(), &copy, 0, TRUE,
                             DUPLICATE_SAME_ACCESS))
            return nullptr;
        copies_[copyCount_++] = copy;
        Add(copy);
        return copy;
    }

    bool Empty() const { return count_ == 0; }
    HANDLE* Data() { return handles_; }
    SIZE_T Bytes() const { return static_cast<SIZE_T>(count_) * sizeof(HANDLE); }

  private:
    void Add(HANDLE handle) {
        for (int i = 0; i < count_; ++i)
            if (handles_[i] == handle) return;
        handles_[count_++] = handle;
    }

    HANDLE handles_[3] = {};
    int count_ = 0;
    HANDLE copies_[3] = {};
    int copyCount_ = 0;
};

struct AttributeListDeleter {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const {
        DeleteProcThreadAttributeList(list);
        ::operator delete(list);
    }
};
using AttributeList = std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, AttributeListDeleter>;

// An attribute list that names the handles to inherit; null (last error set) on failure.
AttributeList HandleListAttribute(InheritedHandles& handles) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    auto* raw = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(::operator new(size, std::nothrow));
    if (raw == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!InitializeProcThreadAttributeList(raw, 1, 0, &size)) {
        ::operator delete(raw);
        return nullptr;
    }
    AttributeList list(raw);
    if (!UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.Data(),
                                   handles.Bytes(), nullptr, nullptr))
        return nullptr;
    return list;
}

}  // namespace

bool PrepareBindingJob() {
    return BindingJob() != nullptr;
}

bool BindToJob(void* process) {
    HANDLE job = BindingJob();
    return job != nullptr && process != nullptr && AssignProcessToJobObject(job, process);
}

bool SpawnBoundChild(const std::u16string& commandLine, const std::u16string& directory,
                     const ChildStreams& streams, const ChildWindow& window, BoundChild* child) {
    *child = BoundChild{};
    if (commandLine.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (BindingJob() == nullptr) return false;  // an unbound child could outlive us

    STARTUPINFOEXW start{};
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    start.StartupInfo.wShowWindow = static_cast<WORD>(window.showState);
    InheritedHandles inherited;
    if (streams.useStandardHandles) {
        start.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
        start.StartupInfo.hStdInput = inherited.Stream(streams.input, STD_INPUT_HANDLE);
        start.StartupInfo.hStdOutput = inherited.Stream(streams.output, STD_OUTPUT_HANDLE);
        start.StartupInfo.hStdError = inherited.Stream(streams.errors, STD_ERROR_HANDLE);
    }
    DWORD creation = NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED;
    if (window.detached) creation |= DETACHED_PROCESS;
    AttributeList attributes;
    if (!inherited.Empty()) {
        attributes = HandleListAttribute(inherited);
        if (attributes == nullptr) return false;
        start.lpAttributeList = attributes.get();
        creation |= EXTENDED_STARTUPINFO_PRESENT;
    }

    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::wstring line = ToWide(commandLine);
    const std::wstring folder = ToWide(directory);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherited.Empty() ? FALSE : TRUE,
                        creation, nullptr, folder.empty() ? nullptr : folder.c_str(),
                        &start.StartupInfo, &started))
        return false;
    if (!BindToJob(started.hProcess)) {
        const DWORD error = GetLastError();
        TerminateProcess(started.hProcess, 1);
        WaitForSingleObject(started.hProcess, INFINITE);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
        SetLastError(error);
        return false;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    child->process = started.hProcess;
    child->processId = started.dwProcessId;
    return true;
}
