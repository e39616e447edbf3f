// CMP_ECR: job logic of the Datecs MP500 scales (types 39, 41, 42) through
// the maker's library: goods are sent, deleted and read, sales read and
// cleared. The library pulls the host's items one at a time and pushes what
// it reads, both through callbacks on the job's thread.
#pragma once

#include <string>

#include "drivers/mp500/cdatecs_mp500.h"
#include "job/logic_ecr.h"

class CMP_ECR : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_proto.GetErrorText(code); }
    int Open(int port, const EcrDeviceRecord* record) override;
    int Close(int) override { return 1; }
    int ReadVAT(int, double*) override { return 0; }
    int ReadStatus(int, EcrStatusRecord*, double*) override { return 0; }
    int ReadSale(int port, EcrSaleCallback cb) override;
    int ClearSale(int port, EcrSaleCallback cb) override;
    int ReadAllPLU(int port, EcrItemReadCallback cb) override;
    int ReadPLU(int, EcrItemRecord*, int, EcrItemReadCallback) override { return 0; }
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;
    int DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb) override;
    int ReadAllDEPT(int, EcrDeptReadCallback) override { return 0; }
    int PgmDEPT(int, EcrDeptRecord*, int, EcrDeptProgramCallback) override { return 0; }

    CDatecsMP500& Protocol() { return m_proto; }

    // The article of a host item: 0, or the code that refuses it (109 a
    // price that is negative, not a number or beyond 32 bits of hundredths,
    // 103 a VAT group above 256). `checkPrice` false sends an unfit price as 0.
    static int ToArticle(const EcrItemRecord& item, bool checkPrice, MP500Article& out);
    static EcrItemRecord GoodsToHost(const MP500Article& article);

private:
    enum class Stream { Send, Delete };
    int Transfer(EcrItemRecord* items, int count, Stream stream);
    int Receive(bool sales);
    int Broken();
    int Failed() { return ProtocolFailed(m_proto, 9999); }

    static int Pull(void* context, int index, MP500Article* article);
    static int PushGoods(void* context, int index, MP500Article* article);
    static int PushSales(void* context, int index, MP500Article* article);

    CDatecsMP500 m_proto;
    // The transfer running (the library's callbacks carry no object).
    EcrItemRecord* m_items = nullptr;
    int m_count = 0;
    int m_next = 0;
    bool m_checkPrice = true;
    bool m_refused = false;
    int m_refusedCode = 0;
};
