// CCasLP1: the LP-1 protocol of the CAS LP label scales (type 105). Every
// request starts with the wake-up byte A5 (answered "w"), a command byte
// (answered 01) and the PLU number as two bytes (answered with two bytes,
// 00 00 for a PLU the scale does not hold); records are big-endian.
#pragma once

#include <functional>

#include "drivers/cas/cas_lp_link.h"

class CCasLP1 : public CCasLpLink {
public:
    static constexpr int kRecordSize = 72;       // written
    static constexpr int kReadRecordSize = 74;   // read back (the PLU number first)
    static constexpr int kTries = 3;

    using Converter = std::function<void(const CasLpPluRecord&)>;

    int Open(int port) override;

    int WakeUp();
    int SendCommand(uint8_t command);
    int Request(uint8_t command, const CChrArr& two);
    int ReadReply(uint8_t command, CChrArr& out);

    // The record bytes, or 0 with the error set (105, 109, 9999).
    static int BuildRecord(const CasLpPluRecord& record, CChrArr& out, int& error);
    static CasLpPluRecord ParseRecord(const CChrArr& bytes);   // kReadRecordSize bytes

    int WritePlu(const CasLpPluRecord& record);
    int ReadPlu(uint32_t number, CasLpPluRecord& record);
    int ReadAllPlu(const Converter& converter);
    int GetCapacity() const { return 1000; }

private:
    // The request, then (inside the same command) what follows it.
    int Request(uint8_t command, const CChrArr& two, const std::function<int()>& then);
    int TryWrite(uint32_t plu, const CChrArr& bytes);
};
