// The files through which the fake transfer programs (one per system, in
// programs/ and programs/win32/) and their tests talk: whole-file reads and
// writes, the call log fake_calls.txt (one line per call, fields split at
// tabs) and the copies call<N>_<file> of what a call read.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace orv::test {

inline bool ReadWholeFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The last component of a path written with either kind of separator.
inline std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The number of the current call: the calls logged so far.
inline int CallNumber() {
    std::string calls;
    if (!ReadWholeFile("fake_calls.txt", calls)) return 0;
    int n = 0;
    for (char c : calls)
        if (c == '\n') ++n;
    return n;
}

// Keeps a copy of a file the program reads, as call<N>_<name>.
inline std::string CopyRead(const std::string& path, int call) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return std::string();
    WriteWholeFile("call" + std::to_string(call) + "_" + BaseName(path), bytes);
    return bytes;
}

// Adds a line to the call log (fake_calls.txt): the program's name, its
// working folder and arguments, tab-separated.
inline void AppendCallLog(const std::string& line) {
    std::ofstream calls("fake_calls.txt", std::ios::binary | std::ios::app);
    calls << line << "\n";
}

// Writes the result the test left for this call (fake_result_<N>, else
// fake_result) to the output file, when there is an output file.
inline void WriteResult(const std::string& output, int call) {
    if (output.empty()) return;
    std::string result;
    if (ReadWholeFile("fake_result_" + std::to_string(call), result) || ReadWholeFile("fake_result", result))
        WriteWholeFile(output, result);
}

// The exit code the test asked for (fake_exit), else 0.
inline int ExitCode() {
    std::string text;
    return ReadWholeFile("fake_exit", text) ? std::atoi(text.c_str()) : 0;
}

inline std::string Between(const std::string& text, const std::string& open, const std::string& close) {
    const size_t a = text.find(open);
    if (a == std::string::npos) return std::string();
    const size_t b = text.find(close, a + open.size());
    if (b == std::string::npos) return std::string();
    return text.substr(a + open.size(), b - a - open.size());
}

// The call log's lines, each split into its fields.
inline std::vector<std::vector<std::string>> SplitCallLog(const std::string& text) {
    std::vector<std::vector<std::string>> calls;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields;
        const std::string line = text.substr(start, end - start);
        size_t a = 0;
        for (;;) {
            const size_t t = line.find('\t', a);
            fields.push_back(line.substr(a, t == std::string::npos ? std::string::npos : t - a));
            if (t == std::string::npos) break;
            a = t + 1;
        }
        calls.push_back(fields);
        start = end + 1;
    }
    return calls;
}

// The folder a test runs the fake in, as the test reads and prepares it.
class FakeFolder {
public:
    void Write(const std::string& name, const std::string& bytes) const { WriteWholeFile(Join(name), bytes); }
    std::optional<std::string> Read(const std::string& name) const {
        std::string bytes;
        if (!ReadWholeFile(Join(name), bytes)) return std::nullopt;
        return bytes;
    }
    bool Exists(const std::string& name) const { return std::filesystem::exists(m_root / name); }
    // The fake's recorded calls, one line each, fields split at tabs.
    std::vector<std::vector<std::string>> Calls() const { return SplitCallLog(Read("fake_calls.txt").value_or("")); }

protected:
    std::string Join(const std::string& name) const { return (m_root / name).string(); }

    std::filesystem::path m_root;
};

}  // namespace orv::test
