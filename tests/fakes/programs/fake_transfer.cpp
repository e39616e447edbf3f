// A stand-in for the vendors' transfer programs. Tests copy or link it into
// a per-test working directory under a program's name; its role comes from
// that name:
//   CASCale.exe <job file>   keeps a copy of the job file and, for a read
//                            job, writes the prepared result to the job's
//                            <OUTPUTFILE>;
//   wmplw.exe <export file>  keeps copies of pargat.ini and the export file;
//   sm_eth.exe W=1 I=1       keeps copies of sm_eth.ini, wagi.ini and
//                            XWS_DIGI.txt;
//   Eco_Print.bat            keeps a copy of Eco_Print.txt;
//   any other name           only records the call.
// Every call (numbered from 0 in the order of the calls) leaves in the
// working directory:
//   fake_calls.txt     one line per call: name, working directory, then the
//                      arguments, separated by tabs (written last);
//   fake_pid           the process id of the latest call;
//   fake_fds           the descriptors above 2 it was started with;
//   fake_env           the value of ORVANTA_FAKE_TAG in its environment,
//                      when that is set;
//   call<N>_<file>     byte-exact copies of the files the call read.
// Control files in the working directory:
//   fake_result_<N> or fake_result  the result file to write (CASCale.exe);
//   fake_sleep         seconds to wait before finishing (after the records);
//   fake_ignore_term   when present, SIGTERM is ignored;
//   fake_exit          the exit code (default 0);
//   fake_signal        a signal number: the program ends by that signal
//                      (after writing the result), as a crash would.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

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

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

int main(int argc, char** argv) {
    std::string inherited;
    for (int fd = 3; fd < 1024; ++fd)
        if (::fcntl(fd, F_GETFD) != -1) inherited += std::to_string(fd) + " ";
    if (Exists("fake_ignore_term")) ::signal(SIGTERM, SIG_IGN);
    const std::string name = BaseName(argc > 0 ? argv[0] : "");
    const int call = CallNumber();
    char cwd[4096] = {0};
    if (!::getcwd(cwd, sizeof cwd)) cwd[0] = 0;

    std::string output;
    if (name == "CASCale.exe" && argc > 1) {
        const std::string job = CopyRead(argv[1], call);
        output = Between(job, "<OUTPUTFILE>", "</OUTPUTFILE>");
    } else if (name == "wmplw.exe") {
        CopyRead("pargat.ini", call);
        if (argc > 1) CopyRead(argv[1], call);
    } else if (name == "sm_eth.exe") {
        CopyRead("sm_eth.ini", call);
        CopyRead("wagi.ini", call);
        CopyRead("XWS_DIGI.txt", call);
    } else if (name == "Eco_Print.bat") {
        CopyRead("Eco_Print.txt", call);
    }

    std::string line = name + "\t" + cwd;
    for (int i = 1; i < argc; ++i) line += std::string("\t") + argv[i];
    AppendCallLog(line);
    WriteWholeFile("fake_pid", std::to_string(::getpid()));
    WriteWholeFile("fake_fds", inherited);
    if (const char* tag = std::getenv("ORVANTA_FAKE_TAG")) WriteWholeFile("fake_env", tag);

    std::string text;
    if (ReadWholeFile("fake_sleep", text)) {
        const double seconds = std::strtod(text.c_str(), nullptr);
        if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }

    WriteResult(output, call);

    if (ReadWholeFile("fake_signal", text)) {
        const int sig = std::atoi(text.c_str());
        ::signal(sig, SIG_DFL);
        ::raise(sig);
    }
    return ExitCode();
}
