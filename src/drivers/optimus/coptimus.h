// COptimus: the Optimus registers' frame link (7E1, hardware handshake,
// reads within 10 s) on the shared record link: frames carry the command
// letter "S" or "D"; the register answers with DLE pairs (0x2C: accepted,
// 0x40: an error follows); a register that answers a frame with anything
// else is asked with ENQ until it answers. Its records and command
// sequences are not known, so no job goes beyond the link.
#pragma once

#include <cstdint>

#include "drivers/common/record_link.h"

class COptimus : public CRecordLink {
public:
    static constexpr int kReadyRounds = 7;

    COptimus();

    std::string GetErrorText(int code) override;

    static CChrArr Cp1250ToDevice(const CChrArr& text) { return Cp1250ToOptimus(text); }
    static CChrArr DeviceToCp1250(const CChrArr& text) { return OptimusToCp1250(text); }

    // 1 when the register accepted the frame (ACK, or DLE 0x2C once the
    // PC's EOT went out).
    int SendFrame(uint8_t letter, const CChrArr& text) { return SendRecord(CChrArr(1, letter), text, ETX); }
    // The text of the next frame of n characters, or empty.
    CChrArr ReadFrame(int n) { return PollRecord(n); }

    // The received VAT and flag field (6 characters): the VAT group (-1
    // none) and six flags; 0 with 103 for a VAT value the variant does not know.
    int ParseVatFlags(const CChrArr& field, int32_t& vat, uint32_t flags[6]);

    uint32_t m_nVariant = 2;

protected:
    // The 13-character error frame: the code at positions 6-7.
    int ReadDeviceError(int& code) override;
    // The ready poll: ENQ until the register answers ACK (the frame goes
    // again) or a DLE pair; 7 rounds, then EOT.
    int Recover(const CChrArr& frame) override;
};
