// Serial multiplexer: selects the socket of a multiplexer that shares one
// serial line among several devices. Three kinds: a command byte (type 8),
// the static levels of DTR and RTS (type 4), and DTR pulses that step the
// multiplexer while its position shows on the four modem-status inputs.
#include <cstdint>

#include "comm/telepathy_ecr.h"
#include "util/cp1250.h"

namespace {

constexpr int kBadChannel = 1;
constexpr int kChannelNotFound = 2;
constexpr int kNoTransport = 999999;
constexpr int kBroken = -7;
constexpr int kMaxPulses = 32;

// The steps of a selection: a serial error or a break becomes the
// protocol's error.
class MuxSteps {
public:
    MuxSteps(CTelepathyECR& owner, CTelepathy& serial, int port) : m_owner(owner), m_serial(serial), m_port(port) {}

    bool Failed() {
        int code = m_serial.GetError(m_port);
        if (code == 0) return false;
        m_owner.SetError(code);
        return true;
    }
    bool Wait(double seconds) {
        m_serial.Delay(seconds);
        if (!m_serial.IsAborted()) return true;
        m_owner.SetError(kBroken);
        return false;
    }
    // Position shown on CTS, DSR, RING and RLSD; -1 when the status is unreadable.
    int Position() {
        int status = m_serial.GetModemStatus(m_port);
        if (Failed()) return -1;
        return ((status & MS_CTS_ON) ? 1 : 0) + ((status & MS_DSR_ON) ? 2 : 0) + ((status & MS_RING_ON) ? 4 : 0) +
               ((status & MS_RLSD_ON) ? 8 : 0);
    }

    // Stores line options 2 (cleared when asked) and 3, the DTR and RTS
    // modes and XON/XOFF off, without reopening the port.
    void StoreOptions(bool clearOption2, int option3, int lineMode) {
        CTelepathy::LineOptions options = m_serial.GetLineOptions();
        if (clearOption2) options.option2 = 0;
        options.option3 = option3;
        options.dtrMode = lineMode;
        options.rtsMode = lineMode;
        options.xonXoff = 0;
        m_serial.StoreLineOptions(options);
    }

private:
    CTelepathyECR& m_owner;
    CTelepathy& m_serial;
    int m_port;
};

}  // namespace

int CTelepathyECR::SelectMuxChannelByCommand(int port, int type, int channel) {
    (void)type;
    m_nError = 0;
    if (m_pSerial == nullptr) {
        m_nError = kNoTransport;
        return 0;
    }
    // The channel travels as one byte.
    if (channel < 0 || channel > 0xFF) {
        m_nError = kBadChannel;
        return 0;
    }
    CTelepathy& serial = *m_pSerial;
    MuxSteps step(*this, serial, port);
    serial.Open(port, 1024, 1024, 9600, 8, 'E', 1);
    if (step.Failed()) return 0;
    serial.SetCtsWait(port, 1);
    if (step.Failed()) return 0;
    serial.FlushOutput(port);
    if (step.Failed()) return 0;
    serial.FlushInput(port);
    if (step.Failed()) return 0;

    m_nPort = port;
    CChrArr command;
    command += static_cast<uint8_t>(0xFE);
    command += static_cast<uint8_t>(channel);
    if (!SendAll(command)) return 0;

    serial.SetDtrMode(port, 0);
    if (step.Failed()) return 0;
    serial.SetRtsMode(port, 0);
    if (step.Failed()) return 0;
    return 1;
}

int CTelepathyECR::SelectMuxChannel(int port, int type, int channel) {
    m_nError = 0;
    if (m_pSerial == nullptr) {
        m_nError = kNoTransport;
        return 0;
    }
    if (type == 8) return SelectMuxChannelByCommand(port, type, channel);

    CTelepathy& serial = *m_pSerial;
    MuxSteps step(*this, serial, port);

    if (type == 4) {
        // channel:        1  2  3  4
        static const int kRts[] = {1, 1, 0, 0};
        static const int kDtr[] = {0, 1, 0, 1};
        if (channel < 1 || channel > 4) {
            m_nError = kBadChannel;
            return 0;
        }
        serial.SetDtrMode(port, kDtr[channel - 1]);
        if (step.Failed()) return 0;
        serial.SetRtsMode(port, kRts[channel - 1]);
        if (step.Failed()) return 0;
        return 1;
    }

    // Pulse stepping.
    const int lastChannel = type == 2 ? 11 : 7;
    if (channel < 1 || channel > lastChannel) {
        m_nError = kBadChannel;
        return 0;
    }
    serial.SetCtsWait(port, 0);
    if (step.Failed()) return 0;
    // Stored as they are: the setters would reopen the port once for each.
    step.StoreOptions(true, 0, 1);
    serial.Reopen(port);
    if (step.Failed()) return 0;

    serial.SetDTREnable(true);
    serial.SetRTSEnable(true);
    if (!step.Wait(0.01)) return 0;
    serial.SetRTSEnable(false);
    if (!step.Wait(0.01)) return 0;

    int position = step.Position();
    for (int pulses = 0;; ++pulses) {
        if (position < 0) return 0;
        if (position == channel) break;
        if (pulses == kMaxPulses) {
            m_nError = kChannelNotFound;
            return 0;
        }
        serial.SetDTREnable(false);
        if (!step.Wait(0.1)) return 0;
        serial.SetDTREnable(true);
        if (!step.Wait(0.01)) return 0;
        position = step.Position();
    }

    serial.SetRTSEnable(true);
    serial.SetDTREnable(true);
    if (!step.Wait(0.01)) return 0;
    serial.SetCtsWait(port, 1);
    if (step.Failed()) return 0;
    // Handshake modes for the device behind the multiplexer, applied at the
    // next reopen of the port.
    step.StoreOptions(false, 1, 2);
    serial.FlushOutput(port);
    serial.FlushInput(port);
    return 1;
}

std::string CTelepathyECR::GetMuxErrorText(int code) {
    switch (code) {
    case 0: return PL("orvanta - multiplekser portu szeregowego v1.0");
    case kBadChannel: return PL("Błędny numer kanału multipleksera");
    case kChannelNotFound: return PL("Uszkodzony multiplekser lub brak gniazda o danym numerze");
    default: return PL("Nieokreślony błąd");
    }
}
