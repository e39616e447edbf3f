// CCasLP1_16: the LP-16 protocol of the CAS LP label scales (type 110).
// Requests are short text lines ended by CR ("p0001,49" write, "P0001,1"
// delete, "q0001," read, "r000E71,32" presence map); records are 73 bytes
// with mixed byte orders and an XOR check byte.
#pragma once

#include <functional>

#include "drivers/cas/cas_lp_link.h"

class CCasLP1_16 : public CCasLpLink {
public:
    static constexpr int kRecordSize = 73;
    static constexpr int kReadSize = 94;          // a record read: the record from byte 10 (from 1)
    static constexpr int kRecordOffset = 9;       // 0-based
    static constexpr int kBlock = 50;             // presence bytes per map block
    static constexpr uint32_t kMapBase = 3697;    // address of block 0
    static constexpr int kBlocks = 81;            // PLUs 1..4050
    static constexpr int kMapLineMax = 55;        // "#32:" + 50 bytes + CR
    static constexpr uint32_t kWriteLimit = 1000;
    static constexpr uint32_t kReadLimit = 4000;

    using Converter = std::function<void(const CasLpPluRecord&)>;

    int Open(int port, int baud) override;

    static uint8_t CalcChecksum(const CChrArr& record);
    // The record bytes (without the check byte), or 0 with the error set.
    static int BuildRecord(const CasLpPluRecord& record, CChrArr& out, int& error);
    static CasLpPluRecord ParseRecord(const CChrArr& bytes, uint32_t plu);   // kRecordSize bytes
    // The map request of block k (from 0).
    static CChrArr MapRequest(int block);

    int WritePlu(const CasLpPluRecord& record);
    int DeletePlu(const CasLpPluRecord& record);
    // One PLU by the number in the record; 202 when the scale does not hold it.
    int ReadPlu(CasLpPluRecord& record);
    int ReadAllPlu(const Converter& converter);

    // The 50 presence bytes of block k.
    int ReadMap(int block, CChrArr& presence);
    int ReadRecord(uint32_t plu, CasLpPluRecord& record);

private:
    // Sends a request line; what an earlier answer left behind (the rest of
    // a late or cut answer) is dropped first, so it is not read as this
    // request's answer.
    int SendRequest(const CChrArr& line);
    int ExpectLine(uint8_t first, const CChrArr& digits);
};
