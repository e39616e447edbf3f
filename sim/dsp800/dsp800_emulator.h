// An emulator of the DSP 800 register on a pseudo-terminal (500 goods).
//
// Requests are ESC, a command byte, a blank, the data and CR:
//   "%" number(3) name(20) price(6) VAT letter(1) code(7), fields separated
//       by single blanks: the item is stored and ACK answered (NAK for a
//       record that does not parse or a number outside 1..500);
//   "?" number (plain decimal): the 45-byte reply "?", a blank, the item's
//       42 bytes (number right-aligned in 3, name 20, price 6, VAT letter,
//       code 7, each followed by a blank) and CR. Every position answers: an
//       unprogrammed one with a blank name, "000000", "A" and a blank code.
//       A number outside 1..500 gets NAK.
// Names are kept in the register's letter codes.
//
// Faults: the base class's queue (Silence, Nak, Short, Delay, Garbage)
// spoils the next answer; QueueReplyFault adds answers the base cannot
// give: another status byte, a reply whose first byte is wrong, a reply
// for another item number.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

struct Dsp800EmuItem {
    std::string name;    // 20 bytes in the register's letter codes
    uint32_t price = 0;  // hundredths
    char vat = 'A';
    std::string code;    // 7 bytes
};

class Dsp800Emulator : public EmulatorBase {
public:
    enum class ReplyFault { OtherByte, WrongFirst, WrongNumber };

    explicit Dsp800Emulator(int port);
    ~Dsp800Emulator() override { Stop(); }

    void SetItem(uint32_t number, const Dsp800EmuItem& item);
    bool HasItem(uint32_t number) const;
    Dsp800EmuItem Item(uint32_t number) const;

    // Each request as received (ESC .. CR).
    std::vector<Bytes> Requests() const;
    void ClearLog();
    void QueueReplyFault(ReplyFault fault, uint8_t byte = 0x00);

    static std::string ReplyText(uint32_t number, const Dsp800EmuItem& item);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void Handle(const Bytes& request);

    mutable std::mutex m_state;
    std::map<uint32_t, Dsp800EmuItem> m_items;
    std::vector<Bytes> m_requests;
    std::deque<std::pair<ReplyFault, uint8_t>> m_faults;
    Bytes m_buffer;   // emulator thread only
};

}  // namespace orv::test
