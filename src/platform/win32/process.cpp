// Starting an outside program and waiting for it to end (Win32).
//
// The program is named as a path: a relative name is resolved against the
// current directory and handed to CreateProcessW as the application name, so
// the system never searches for it along PATH or in its own directories, and
// no extension is added. The command line is built from the arguments with
// the quoting that the C runtime's parser undoes, so every argument reaches
// the program's argv as it stands; no shell sees it. A batch file can only
// run in the command interpreter: it is started through cmd.exe from the
// system directory, and arguments that the interpreter would expand even
// inside quotes are refused rather than passed on.
//
// The program starts suspended, joins a job object of its own and only then
// runs, so everything it starts in turn belongs to the job too. A break asks
// the visible windows of the job's processes to close, waits the grace
// period for the program to end, and then terminates what is left of the
// job: the program and whatever it started. The program has ended before
// the call returns.
//
// Results carry the program's exit code. A program ended by an unhandled
// exception reports the signal a POSIX system would have given for the same
// fault (SIGSEGV for an access violation, ...) in termSignal, with no exit
// code, so callers tell a crash from an exit the same way everywhere. After a
// break, termSignal is SIGTERM when the program closed on the request and
// SIGKILL when it had to be terminated.
#include "platform/process.h"

#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/wait.h"

namespace orv::platform {

namespace {

constexpr int kSigKill = 9;   // not among the C runtime's signals here

// Exception codes that end a program, as the signal of the same fault.
int SignalOfException(DWORD code) {
    switch (code) {
    case 0xC0000005:   // access violation
    case 0xC0000006:   // in-page error
    case 0xC00000FD:   // stack overflow
    case 0x80000002:   // misaligned data
        return SIGSEGV;
    case 0xC000001D:   // illegal instruction
    case 0xC0000096:   // privileged instruction
        return SIGILL;
    case 0xC000008C: case 0xC000008D: case 0xC000008E: case 0xC000008F: case 0xC0000090:
    case 0xC0000091: case 0xC0000092: case 0xC0000093: case 0xC0000094: case 0xC0000095:
        return SIGFPE;     // arithmetic faults
    case 0xC000013A:   // console Ctrl+C
        return SIGINT;
    case 0xC0000409:   // fast fail, stack buffer overrun
    case 0xC0000374:   // heap corruption
    case 0xC0000602:   // fail fast
        return SIGABRT;
    default:
        return 0;
    }
}

int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_BAD_EXE_FORMAT: case ERROR_EXE_MACHINE_TYPE_MISMATCH: case ERROR_BAD_FORMAT:
    case ERROR_INVALID_EXE_SIGNATURE: case ERROR_EXE_MARKED_INVALID: case ERROR_NOT_SUPPORTED:
        return ENOEXEC;
    case ERROR_DIRECTORY: case ERROR_INVALID_NAME:
        return ENOENT;
    case 740:   // elevation required
        return EACCES;
    default:
        return win32::ErrnoFromError(error);
    }
}

// One argument as the C runtime's command-line parser reads it back: quoted
// when empty or holding blanks or quotes; backslashes are doubled only where
// a quote follows them.
void AppendArgument(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// The program's own name opens the command line; the runtime takes it up to
// the next blank, or between quotes, with no escapes at all.
void AppendProgramName(std::wstring& line, const std::wstring& name) {
    if (!name.empty() && name.find_first_of(L" \t") == std::wstring::npos) {
        line += name;
    } else {
        line += L'"' + name + L'"';
    }
}

bool IsBatchFile(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || path.find_first_of(L"\\/", dot) != std::wstring::npos) return false;
    std::wstring ext = path.substr(dot);
    for (wchar_t& c : ext) c = static_cast<wchar_t>(towlower(c));
    return ext == L".bat" || ext == L".cmd";
}

// The command interpreter expands variables and stops at line ends even
// inside quotes; a quote would end the quoting. Such text cannot be handed
// through it unchanged.
bool SafeForInterpreter(const std::wstring& text) { return text.find_first_of(L"\"%!\r\n") == std::wstring::npos; }

struct Plan {
    std::wstring application;   // full path of what the system starts
    std::wstring commandLine;
};

// 0, or the errno why the program cannot be started as asked.
int MakePlan(const std::string& program, const std::vector<std::string>& args, Plan& plan) {
    std::wstring name = win32::Widen(program);
    if (name.empty() || name.find(L'\0') != std::wstring::npos) return ENOENT;
    for (wchar_t& c : name)
        if (c == L'/') c = L'\\';
    DWORD need = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (need == 0) return ErrnoOf(::GetLastError());
    std::wstring full(need, L'\0');
    need = ::GetFullPathNameW(name.c_str(), need, full.data(), nullptr);
    if (need == 0 || need >= full.size()) return ENOENT;
    full.resize(need);

    std::vector<std::wstring> wideArgs;
    wideArgs.reserve(args.size());
    for (const std::string& a : args) {
        wideArgs.push_back(win32::Widen(a));
        if (wideArgs.back().find(L'\0') != std::wstring::npos) return EINVAL;
    }

    if (!IsBatchFile(full)) {
        plan.application = full;
        AppendProgramName(plan.commandLine, name);
        for (const std::wstring& a : wideArgs) {
            plan.commandLine += L' ';
            AppendArgument(plan.commandLine, a);
        }
        return 0;
    }

    // cmd.exe /d /v:off /s /c ""batch" "arg" ...": /s takes the text between
    // the outer quotes as it stands; no AutoRun commands, no delayed
    // expansion.
    if (::GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES) return ErrnoOf(::GetLastError());
    if (!SafeForInterpreter(full)) return EINVAL;
    wchar_t system[MAX_PATH];
    const UINT len = ::GetSystemDirectoryW(system, MAX_PATH);
    if (len == 0 || len >= MAX_PATH) return ENOENT;
    plan.application = std::wstring(system, len) + L"\\cmd.exe";
    plan.commandLine = L"cmd.exe /d /v:off /s /c \"\"" + full + L"\"";
    for (const std::wstring& a : wideArgs) {
        if (!SafeForInterpreter(a)) return EINVAL;
        plan.commandLine += L" \"" + a + L"\"";
    }
    plan.commandLine += L'"';
    return 0;
}

class Child {
public:
    Child() = default;
    ~Child() {
        if (m_process) ::CloseHandle(m_process);
        if (m_job) ::CloseHandle(m_job);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int Start(Plan& plan) {
        // Without a job the program still runs; a break then ends it alone.
        m_job = ::CreateJobObjectW(nullptr, nullptr);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(plan.application.c_str(), plan.commandLine.data(), nullptr, nullptr, FALSE,
                              CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
            return ErrnoOf(::GetLastError());
        m_process = pi.hProcess;
        m_pid = pi.dwProcessId;
        if (m_job && !::AssignProcessToJobObject(m_job, m_process)) {
            ::CloseHandle(m_job);
            m_job = nullptr;
        }
        ::ResumeThread(pi.hThread);
        ::CloseHandle(pi.hThread);
        return 0;
    }

    HANDLE process() const { return m_process; }

    // True once no process of the job runs any more (always without a job).
    bool JobQuiet() const {
        if (!m_job) return true;
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        if (!::QueryInformationJobObject(m_job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr))
            return true;
        return info.ActiveProcesses == 0;
    }

    // Waits for the program and then at most restMs for whatever it started.
    void WaitTree(DWORD restMs) const {
        if (::WaitForSingleObject(m_process, INFINITE) != WAIT_OBJECT_0) return;
        // The system signals no handle for the rest of the job: it is looked
        // at briefly.
        const int64_t end = MonotonicMillis() + restMs;
        while (!JobQuiet() && MonotonicMillis() < end) ::Sleep(10);
    }

    // Posts WM_CLOSE to every visible top-level window of the job's
    // processes; true when there was one.
    bool AskToClose() const {
        CloseRequest request{this, false};
        ::EnumWindows(&CloseWindowOfJob, reinterpret_cast<LPARAM>(&request));
        return request.posted;
    }

    void Kill() const {
        if (!m_job || !::TerminateJobObject(m_job, 1)) ::TerminateProcess(m_process, 1);
    }

    // Once the process has ended: 259 (STILL_ACTIVE) is then an exit code
    // like any other.
    void Record(ProcessResult& result) const {
        DWORD code = 0;
        if (!::GetExitCodeProcess(m_process, &code)) {
            result.statusLost = true;
            return;
        }
        const int sig = SignalOfException(code);
        if (sig != 0) {
            result.termSignal = sig;
        } else {
            result.exitCode = static_cast<int>(code);
        }
    }

    // The process belongs to the program's tree.
    bool Owns(DWORD pid) const {
        if (pid == m_pid) return true;
        if (!m_job) return false;
        HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!h) return false;
        BOOL in = FALSE;
        const bool owned = ::IsProcessInJob(h, m_job, &in) && in;
        ::CloseHandle(h);
        return owned;
    }

private:
    struct CloseRequest {
        const Child* child;
        bool posted;
    };
    static BOOL CALLBACK CloseWindowOfJob(HWND w, LPARAM p) {
        auto* request = reinterpret_cast<CloseRequest*>(p);
        if (!::IsWindowVisible(w)) return TRUE;
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (request->child->Owns(pid) && ::PostMessageW(w, WM_CLOSE, 0, 0)) request->posted = true;
        return TRUE;
    }

    HANDLE m_process = nullptr;
    HANDLE m_job = nullptr;
    DWORD m_pid = 0;
};

// A terminated job ends at once; what is still there after this time is
// stuck in the system and left to it.
constexpr DWORD kTreeEndMs = 2000;

// The program is asked to close where it has a window and given the grace
// period; then whatever is left of its tree is terminated.
void Terminate(Child& child, ProcessResult& result) {
    result.termSignal = kSigKill;
    if (child.AskToClose()) {
        if (::WaitForSingleObject(child.process(), static_cast<DWORD>(TerminateGraceMillis())) == WAIT_OBJECT_0)
            result.termSignal = SIGTERM;
    }
    child.Kill();
    child.WaitTree(kTreeEndMs);
}

}  // namespace

ProcessResult SystemProcessRunner::StartAndWait(const std::string& program, const std::vector<std::string>& args,
                                                const BreakSignal* brk) {
    ProcessResult result;
    Plan plan;
    if (const int rc = MakePlan(program, args, plan); rc != 0) {
        result.startError = rc;
        return result;
    }
    Child child;
    if (const int rc = child.Start(plan); rc != 0) {
        result.startError = rc;
        return result;
    }

    // The program's end or the break, whichever comes first.
    int r = win32::WaitObjectOrBreak(child.process(), brk, -1);
    if (r == kWaitLost) r = ::WaitForSingleObject(child.process(), INFINITE) == WAIT_OBJECT_0 ? kWaitReady : kWaitBroken;
    if (r == kWaitReady) {
        child.Record(result);
        result.outcome = kProcessEnded;
        return result;
    }
    Terminate(child, result);
    result.outcome = kProcessBroken;
    return result;
}

}  // namespace orv::platform
