// The part the Posnet register emulators share: frames ESC <lead> ...
// ESC '\' are taken off the line, recorded and shown to a hook; wrong
// answers wait in a queue; answers leave with the configured delay, late or
// in pieces. Each emulator names its frame and injection records (both with
// a `command`; frames with `checksumOk`, injections with `times`/`skip`).
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/emulator_base.h"
#include "sim/posnet/injection_queue.h"

namespace orv::test {

template <class FrameT, class InjectionT>
class PosnetEmulator : public EmulatorBase {
public:
    using EmulatorBase::EmulatorBase;

    // ---- what was received ----
    std::vector<FrameT> Frames() const {
        std::lock_guard<std::mutex> lk(m_state);
        return m_frames;
    }
    int CountCommand(const std::string& command) const {
        std::lock_guard<std::mutex> lk(m_state);
        return static_cast<int>(std::count_if(m_frames.begin(), m_frames.end(),
                                              [&](const FrameT& f) { return f.command == command; }));
    }
    int ChecksumErrors() const {
        std::lock_guard<std::mutex> lk(m_state);
        return m_checksumErrors;
    }
    void ClearFrames() {
        std::lock_guard<std::mutex> lk(m_state);
        m_frames.clear();
    }
    // Called on the emulator thread with each frame before it is answered.
    void SetFrameHook(std::function<void(const FrameT&)> hook) {
        std::lock_guard<std::mutex> lk(m_state);
        m_hook = std::move(hook);
    }

    // ---- long runs (the simulator) ----
    void SetRecording(bool on) {
        std::lock_guard<std::mutex> lk(m_state);
        m_recording = on;
    }
    void SetAnswerDelay(int ms) {
        std::lock_guard<std::mutex> lk(m_state);
        m_delayMs = ms;
    }

    // ---- wrong answers ----
    void Inject(const InjectionT& injection) {
        std::lock_guard<std::mutex> lk(m_state);
        m_injections.Add(injection);
    }
    void ClearInjections() {
        std::lock_guard<std::mutex> lk(m_state);
        m_injections.Clear();
    }

    static std::string Hex2(int v) {
        char t[4];
        std::snprintf(t, sizeof t, "%02X", v & 0xFF);
        return t;
    }
    static uint8_t Checksum(const std::string& bytes) {
        uint8_t sum = 0xFF;
        for (char c : bytes) sum ^= static_cast<uint8_t>(c);
        return sum;
    }

    // ESC lead, the payload, its checksum in two hexadecimal digits, ESC '\'.
    static Bytes FrameBytes(uint8_t lead, const std::string& payload) {
        Bytes out = {kEsc, lead};
        out.insert(out.end(), payload.begin(), payload.end());
        const std::string sum = Hex2(Checksum(payload));
        out.insert(out.end(), sum.begin(), sum.end());
        out.push_back(kEsc);
        out.push_back('\\');
        return out;
    }

protected:
    // Adds received bytes; true with the next whole frame (ESC lead ...
    // ESC '\') in `raw`. Bytes before a frame's lead are line noise.
    bool NextFrame(const uint8_t* data, size_t n, uint8_t lead, Bytes& raw) {
        m_buffer.insert(m_buffer.end(), data, data + n);
        size_t start = 0;
        while (start + 1 < m_buffer.size() && !(m_buffer[start] == kEsc && m_buffer[start + 1] == lead)) ++start;
        size_t end = start + 2;
        while (end + 1 < m_buffer.size() && !(m_buffer[end] == kEsc && m_buffer[end + 1] == '\\')) ++end;
        if (start + 1 >= m_buffer.size() || end + 1 >= m_buffer.size()) {
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<long>(std::min(start, m_buffer.size())));
            return false;
        }
        raw.assign(m_buffer.begin() + static_cast<long>(start), m_buffer.begin() + static_cast<long>(end + 2));
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<long>(end + 2));
        return true;
    }

    // Records the frame and shows it to the hook; the answer delay.
    int Record(const FrameT& frame) {
        std::function<void(const FrameT&)> hook;
        int delay = 0;
        {
            std::lock_guard<std::mutex> lk(m_state);
            if (m_recording) m_frames.push_back(frame);
            if (!frame.checksumOk) ++m_checksumErrors;
            hook = m_hook;
            delay = m_delayMs;
        }
        if (hook) hook(frame);
        return delay;
    }

    bool TakeInjection(const std::string& command, InjectionT& out) {
        std::lock_guard<std::mutex> lk(m_state);
        return m_injections.Take(command, out);
    }

    void SendAnswer(const Bytes& bytes, int delayMs) {
        if (delayMs > 0) SendAfter(delayMs, bytes);
        else Send(bytes);
    }
    // The answer in pieces of `piece` bytes (3 when 0), 20 ms apart.
    void SendSplit(const Bytes& bytes, int delayMs, int piece) {
        const size_t size = piece > 0 ? static_cast<size_t>(piece) : 3;
        int at = delayMs;
        for (size_t i = 0; i < bytes.size(); i += size, at += 20)
            SendAfter(at, Bytes(bytes.begin() + static_cast<long>(i),
                                bytes.begin() + static_cast<long>(std::min(bytes.size(), i + size))));
    }

    static constexpr uint8_t kEsc = 0x1B;
    mutable std::mutex m_state;   // the emulator's state; the subclass's too

private:
    Bytes m_buffer;
    std::vector<FrameT> m_frames;
    InjectionQueue<InjectionT> m_injections;
    std::function<void(const FrameT&)> m_hook;
    int m_checksumErrors = 0;
    bool m_recording = true;
    int m_delayMs = 0;
};

}  // namespace orv::test
