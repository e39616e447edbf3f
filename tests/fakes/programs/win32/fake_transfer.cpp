// The stand-in for the vendors' transfer programs in the Windows build. Tests
// copy it into a per-test working directory under a program's name; its role
// comes from that name, as with the fake of the POSIX build:
//   CASCale.exe <job file>   keeps a copy of the job file and, for a read
//                            job, writes the prepared result to the job's
//                            <OUTPUTFILE>;
//   wmplw.exe <export file>  keeps copies of pargat.ini and the export file;
//   sm_eth.exe W=1 I=1       keeps copies of sm_eth.ini, wagi.ini and
//                            XWS_DIGI.txt;
//   any other name           only records the call.
// Every call (numbered from 0 in the order of the calls) leaves in the
// working directory:
//   fake_calls.txt     one line per call: name, working directory, then the
//                      arguments, separated by tabs (written last; UTF-8);
//   fake_pid           the process id of the latest call;
//   fake_handle        "inherited" when the handle whose value the file
//                      fake_probe_handle names was open in it, else "";
//   fake_env           the value of ORVANTA_FAKE_TAG in its environment,
//                      when that is set;
//   call<N>_<file>     byte-exact copies of the files the call read.
// Control files in the working directory:
//   fake_result_<N> or fake_result  the result file to write (CASCale.exe);
//   fake_sleep         seconds to wait before finishing (after the records);
//   fake_window        show a window while waiting; it closes the program
//                      when asked to, unless fake_ignore_term is present;
//   fake_child         start a copy of itself first (its id in
//                      fake_child_pid), which waits 60 s;
//   fake_exit          the exit code (default 0);
//   fake_signal        a POSIX signal number: the program ends as a crash
//                      of that kind ends a program here (access violation
//                      for 11, ...), after writing the result.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "fakes/transfer_files.h"

namespace {

using orv::test::AppendCallLog;
using orv::test::BaseName;
using orv::test::Between;
using orv::test::CallNumber;
using orv::test::CopyRead;
using orv::test::ExitCode;
using orv::test::ReadWholeFile;
using orv::test::WriteResult;
using orv::test::WriteWholeFile;

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Utf8(const wchar_t* w) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

// The exception code a crash of the signal's kind ends a program with.
DWORD CrashCode(int sig) {
    switch (sig) {
    case 4: return 0xC000001D;   // illegal instruction
    case 8: return 0xC0000094;   // integer division by zero
    case 11: return 0xC0000005;  // access violation
    default: return 0xC0000409;  // fast fail
    }
}

bool g_ignoreClose = false;

LRESULT CALLBACK WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE) {
        if (!g_ignoreClose) ::ExitProcess(0);
        return 0;
    }
    return ::DefWindowProcW(w, msg, wp, lp);
}

// Waits the seconds, with a visible window that handles its messages.
void WaitWithWindow(double seconds) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvantaFakeTransfer";
    ::RegisterClassW(&wc);
    HWND w = ::CreateWindowExW(0, wc.lpszClassName, L"fake transfer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                               100, nullptr, nullptr, wc.hInstance, nullptr);
    WriteWholeFile("fake_window_shown", w ? "1" : "0");
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) break;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG m;
        while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&m);
            ::DispatchMessageW(&m);
        }
    }
}

void StartChild() {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" --child";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        WriteWholeFile("fake_child_pid", std::to_string(pi.dwProcessId));
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** wargv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argc == 2 && std::wstring(wargv[1]) == L"--child") {
        ::Sleep(60000);
        return 0;
    }
    std::string inherited;
    std::string probe;
    if (ReadWholeFile("fake_probe_handle", probe)) {
        // An event the test left signalled: open here only when inherited.
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(probe.c_str(), nullptr, 10)));
        DWORD flags = 0;
        if (::GetHandleInformation(h, &flags) && ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0) inherited = "inherited";
    }
    const std::string name = BaseName(argc > 0 ? Utf8(wargv[0]) : "");
    const int call = CallNumber();
    wchar_t cwd[MAX_PATH] = {0};
    if (!::GetCurrentDirectoryW(MAX_PATH, cwd)) cwd[0] = 0;
    g_ignoreClose = Exists("fake_ignore_term");
    if (Exists("fake_child")) StartChild();

    std::string output;
    if (name == "CASCale.exe" && argc > 1) {
        const std::string job = CopyRead(Utf8(wargv[1]), call);
        output = Between(job, "<OUTPUTFILE>", "</OUTPUTFILE>");
    } else if (name == "wmplw.exe") {
        CopyRead("pargat.ini", call);
        if (argc > 1) CopyRead(Utf8(wargv[1]), call);
    } else if (name == "sm_eth.exe") {
        CopyRead("sm_eth.ini", call);
        CopyRead("wagi.ini", call);
        CopyRead("XWS_DIGI.txt", call);
    }

    std::string line = name + "\t" + Utf8(cwd);
    for (int i = 1; i < argc; ++i) line += "\t" + Utf8(wargv[i]);
    AppendCallLog(line);
    WriteWholeFile("fake_pid", std::to_string(::GetCurrentProcessId()));
    WriteWholeFile("fake_handle", inherited);
    wchar_t tag[256];
    const DWORD tagLength = ::GetEnvironmentVariableW(L"ORVANTA_FAKE_TAG", tag, 256);
    if (tagLength > 0 && tagLength < 256) WriteWholeFile("fake_env", Utf8(tag));

    std::string text;
    if (ReadWholeFile("fake_sleep", text)) {
        const double seconds = std::strtod(text.c_str(), nullptr);
        if (Exists("fake_window")) {
            WaitWithWindow(seconds);
        } else if (seconds > 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        }
    }

    WriteResult(output, call);

    if (ReadWholeFile("fake_signal", text)) ::TerminateProcess(::GetCurrentProcess(), CrashCode(std::atoi(text.c_str())));
    return ExitCode();
}
