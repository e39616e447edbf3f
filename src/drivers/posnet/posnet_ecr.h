// CPosnetECR: the sequenced protocol of the Posnet ECR register (device type
// 21). Requests and replies are framed (see CPosnetFrameLink)
//
//   ESC 'P' command sequence CR field CR ... checksum ESC '\'
//
// with the sequence as two upper-case hexadecimal digits; a reply carries
// the command with its second letter in upper case and the request's
// sequence. The register can be read (goods, sales, status, VAT rates) but
// not programmed. Every operation returns 1, or 0 with the error set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drivers/posnet/posnet_frame.h"
#include "util/chrarr.h"

enum : int {
    POSNET_ECR_ERR_NOT_ALL_READ = 105,      // the register ended a walk early (its status 91)
    POSNET_ECR_ERR_NO_QUANTITIES = 1004,    // the record replies carry no sold quantity
    POSNET_ECR_ERR_SEQUENCE = 10000,        // the reply carries another sequence number
    POSNET_ECR_ERR_CHECKSUM = 10001,        // the reply's checksum is wrong
    POSNET_ECR_STATUS_OFFSET = 1000,        // added to the register's own status
};

// Field mask bits of the record replies.
enum : uint32_t {
    POSNET_ECR_MASK_DEPARTMENT = 0x1,
    POSNET_ECR_MASK_BARCODE = 0x2,
    POSNET_ECR_MASK_VALUE = 0x4,
    POSNET_ECR_MASK_QUANTITY = 0x8,
    POSNET_ECR_MASK_EXTRA = 0x800,
};

// A goods record as a record reply gives it.
struct PosnetEcrPlu {
    uint32_t number = 0;
    char code[14] = {0};
    char name[25] = {0};
    uint32_t vatGroup = 0;
    uint32_t department = 0;
    double price = 0.0;
    uint32_t extra = 0;
};

struct PosnetEcrSale {
    uint32_t number = 0;
    char code[14] = {0};
    char name[25] = {0};
    double quantity = 0.0;
    double value = 0.0;
};

class CPosnetECR : public CPosnetFrameLink {
public:
    CPosnetECR();
    ~CPosnetECR() override;

    using CPosnetFrameLink::Open;
    // 9600 baud whatever the device record says.
    int Open(int port) override;

    uint32_t Sequence() const { return m_nSequence; }
    void SetSequence(uint32_t sequence) { m_nSequence = sequence % 256; }

    // One frame with the sequence; the reply's data, or empty with the error set.
    int SendFrame(uint32_t sequence, const CChrArr& command, const CChrArr& data);
    CChrArr ReadFrame(uint32_t sequence, CChrArr& replyCommand);
    // 2..10 attempts, a link reset before each retry; on success `command`
    // and `data` hold the reply's command and data.
    int Transact(CChrArr& command, CChrArr& data, int tries);

    int ResetLink(int flag);
    int Resync();
    int CheckStatus(CChrArr& reply);
    int ReadInfo(CChrArr& reply);
    int ReadCounts(int& count, uint32_t& mask, int& extra);
    int ReadStatusAndVat(double vat[8]);

    using RecordCallback = std::function<void(const PosnetEcrPlu&, const PosnetEcrSale&)>;
    int ReadAllPlus(const RecordCallback& callback);
    int ReadPluSales(const RecordCallback& callback);

    std::string GetErrorText(int code) override;

    // ---- parsing (no traffic) ----
    // Reply data into fields: one leading and one trailing CR go; "\r" and
    // "\r\r" are the single field "0".
    static std::vector<CChrArr> SplitData(const CChrArr& data);
    // A status field: 0, n + 1000 for 1..8999, 9999 for anything else.
    static int StatusCode(const CChrArr& field);
    static bool ParseDecimal(const CChrArr& field, double& value);
    // The fields after the status of a record reply.
    static bool ParseRecord(const std::vector<CChrArr>& fields, uint32_t mask, PosnetEcrPlu& plu, PosnetEcrSale& sale);

    const CChrArr& StatusReply() const { return m_statusReply; }
    const CChrArr& InfoReply() const { return m_infoReply; }

private:
    // One attempt: the next sequence, the frame, its reply.
    int Attempt(CChrArr& command, CChrArr& data);
    int Request(const char* command, const char* answer, int tries, CChrArr& reply);
    int Walk(bool sales, const RecordCallback& callback);
    int Fail(int code) {
        m_nError = code;
        return 0;
    }

    uint32_t m_nSequence = 1;
    CChrArr m_resetReply;
    CChrArr m_infoReply;
    CChrArr m_statusReply;
};
