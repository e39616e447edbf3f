#include "comm/frame_reader.h"

namespace {

class Reader {
public:
    Reader(CTelepathyECR& link, const FrameReaderSpec& spec, const FrameLog& log)
        : m_link(link), m_serial(*link.m_pSerial), m_port(link.m_nPort), m_spec(spec), m_log(log) {}

    CChrArr Read(const FrameCheck& check);

private:
    CChrArr Take(int n, int seconds) {
        CChrArr bytes = m_serial.Read(m_port, n, seconds);
        Log(bytes);
        return bytes;
    }
    void Log(const CChrArr& bytes) {
        if (m_log && !bytes.IsEmpty()) m_log(bytes);
    }
    // A pause that a break ends early: 0, or -7 (also stored).
    int Pause(double seconds) {
        int r = m_serial.Delay(seconds);
        if (r == -7 || m_serial.IsAborted()) {
            m_link.m_nError = -7;
            return -7;
        }
        return 0;
    }
    void DropJunk();

    CTelepathyECR& m_link;
    CTelepathy& m_serial;
    const int m_port;
    const FrameReaderSpec& m_spec;
    const FrameLog& m_log;
};

void Reader::DropJunk() {
    if (m_serial.GetInputCount(m_port) <= 0) return;
    int start = m_serial.FindInInput(m_port, m_spec.start);
    if (start == 0) {
        int end = m_serial.FindInInput(m_port, m_spec.end);
        if (end > 0) {
            Take(end, 0);
            return;
        }
        if (Pause(m_spec.junkWait) != 0) return;
        if (m_serial.FindInInput(m_port, m_spec.start) == 0 && m_serial.FindInInput(m_port, m_spec.end) == 0) {
            m_serial.FlushInput(m_port);
            Pause(0.2);
        }
    } else if (start > 1) {
        Take(start - 1, 0);
    }
}

CChrArr Reader::Read(const FrameCheck& check) {
    const uint8_t kStart = m_spec.start, kEnd = m_spec.end;
    const int kMaxStray = 7;
    int attempt = 1;
    int stray = 0;
    int frameError = 0;   // a bad frame outlives later pure time-outs
    bool first = true;
    for (;;) {
        DropJunk();
        if (m_link.m_nError == -7) return CChrArr();
        CChrArr b = Take(1, first ? 50 : 5);
        if (b.GetLength() == 1) {
            if (b[0] != kStart) {
                // A stray byte is no attempt: the wait for the answer stays as it was.
                m_link.m_nError = frameError = m_spec.codeNoStart;
                ++stray;
            } else {
                ++attempt;
                first = false;
                const int maxLen = m_spec.longest;
                CChrArr rest = m_serial.ReadUntil(m_port, kEnd, maxLen, 1);
                int err = m_serial.GetError(m_port);
                Log(rest);
                DumpReceived(CChrArr(1, kStart) + rest);
                // Line noise may hold a start byte of its own: the frame is
                // what follows the last start byte before the first end
                // byte, and when that end byte has not come yet, the rest of
                // it is read on once.
                const int end = rest.Find(kEnd);
                const int stop = end >= 0 ? end : rest.GetLength();
                int from = 0;
                for (int at = rest.Find(kStart); at >= 0 && at < stop; at = rest.Find(kStart, at + 1)) from = at + 1;
                if (from > 0) {
                    rest = rest.Mid(from, (end >= 0 ? end + 1 : rest.GetLength()) - from);
                    const int left = maxLen - rest.GetLength();
                    if (end < 0 && left > 0) {
                        CChrArr more = m_serial.ReadUntil(m_port, kEnd, left, 1);
                        err = m_serial.GetError(m_port);
                        Log(more);
                        DumpReceived(more);
                        rest += more;
                    }
                }
                const int n = rest.GetLength();
                if (n > m_spec.shortest) {
                    if (rest[n - 1] == kEnd) {
                        if (check(rest)) {
                            m_link.m_nError = 0;
                            return rest;
                        }
                        m_link.m_nError = frameError = m_spec.codeCheck;
                    } else {
                        m_link.m_nError = frameError = m_spec.codeNoEnd;
                    }
                } else {
                    m_link.m_nError = err < 0 ? err : 9999;
                    if (m_link.m_nError == -7) return CChrArr();
                }
            }
        } else {
            int err = m_serial.GetError(m_port);
            if (err == -7) {
                m_link.m_nError = -7;
                return CChrArr();
            }
            if (err == -5) {
                ++attempt;
                first = false;
                m_link.m_nError = frameError ? frameError : -5;
            } else {
                m_link.m_nError = err < 0 ? err : 9999;
                ++stray;
            }
        }
        if (attempt > m_link.m_nRetry || stray > kMaxStray) return CChrArr();
    }
}

}  // namespace

CChrArr ReadStartEndFrame(CTelepathyECR& link, const FrameReaderSpec& spec, const FrameCheck& check,
                          const FrameLog& log) {
    if (!link.m_pSerial) {
        link.m_nError = -3;
        return CChrArr();
    }
    // A break is looked at before each frame: frames already waiting (a
    // stream the register has sent ahead) must not carry a job that the
    // user broke off in a host callback on to its end.
    if (link.m_pSerial->IsAborted()) {
        link.m_nError = -7;
        return CChrArr();
    }
    if (link.m_nRetry < 1) {
        link.m_nError = 9999;
        return CChrArr();
    }
    CChrArr frame = Reader(link, spec, log).Read(check);
    // Given up without a good frame: the device may still send (a frame it
    // repeats, the rest of a broken one), so the next request first waits
    // for a quiet line.
    if (frame.IsEmpty()) link.m_pSerial->MarkUnsettled(link.m_nPort);
    return frame;
}
