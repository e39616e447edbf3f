#include "drivers/novitus/tango_logic.h"

#include <cmath>
#include <cstring>

#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

// ---------------------------------------------------------------- conversions

EcrItemRecord CTangoLogic::ToHostItem(const tango::Goods& g, bool unitFromDevice) {
    EcrItemRecord item{};
    item.number = g.number;
    CopyString(item.code, sizeof item.code, g.code, 31);
    CopyString(item.name, sizeof item.name, g.name, 47);
    item.vat_group = g.taxGroup;
    item.department = g.dept;
    item.price = g.price;
    item.attr1 = g.digit;
    item.unit = unitFromDevice ? g.unit : 1;
    item.attr2 = g.precision;
    item.word168 = g.package;
    item.word172 = g.number2;
    CopyString(item.code2, sizeof item.code2, g.code2, 31);
    item.attr4 = g.tandem;
    item.attr3 = 0;
    return item;
}

tango::Goods CTangoLogic::FromHostItem(const EcrItemRecord& item) {
    tango::Goods g;
    g.number = item.number;
    g.code = HostField(item.code, sizeof item.code);
    g.name = HostField(item.name, sizeof item.name);
    g.price = item.price;
    g.taxGroup = item.vat_group;
    g.digit = item.attr1;
    g.precision = item.attr2;
    g.package = item.word168;
    g.tandem = item.attr4;
    g.dept = item.department;
    g.number2 = item.word172;
    g.code2 = HostField(item.code2, sizeof item.code2);
    g.unit = item.unit;
    return g;
}

EcrDeptRecord CTangoLogic::ToHostDept(const tango::Dept& d) {
    EcrDeptRecord dept{};
    dept.number = d.number;
    CopyString(dept.name, sizeof dept.name, d.name, 47);
    dept.vat_group = d.taxGroup;
    dept.price = d.price;
    dept.word92 = d.kind;
    dept.word96 = d.kind2;
    dept.word100 = d.number2;
    return dept;
}

tango::Dept CTangoLogic::FromHostDept(const EcrDeptRecord& dept) {
    tango::Dept d;
    d.number = dept.number;
    d.name = HostField(dept.name, sizeof dept.name);
    d.taxGroup = dept.vat_group;
    d.price = dept.price;
    d.kind = dept.word92;
    d.kind2 = dept.word96;
    d.number2 = dept.word100;
    return d;
}

EcrUnitRecord CTangoLogic::ToHostUnit(const tango::Unit& u) {
    EcrUnitRecord unit{};
    unit.number = u.number;
    CopyString(unit.name, sizeof unit.name, u.name, 7);
    return unit;
}

tango::Unit CTangoLogic::FromHostUnit(const EcrUnitRecord& unit) {
    tango::Unit u;
    u.number = unit.number;
    u.name = HostField(unit.name, sizeof unit.name);
    return u;
}

void CTangoLogic::ToHostSale(const tango::SaleLine& line, uint32_t kind, EcrItemRecord& item, EcrSaleRecord& sale) {
    item = EcrItemRecord{};
    sale = EcrSaleRecord{};
    item.number = line.plu;
    CopyString(item.code, sizeof item.code, line.code, 31);
    CopyString(item.name, sizeof item.name, line.name, 47);
    CopyString(sale.text, sizeof sale.text, line.text, 31);
    sale.kind = kind;
    sale.number = line.position;
    sale.plu = line.plu;
    CopyString(sale.code, sizeof sale.code, line.code, 31);
    CopyString(sale.name, sizeof sale.name, line.name, 47);
    sale.quantity = line.quantity;
    sale.value = line.value;
}

// ---------------------------------------------------------------- errors

int CTangoLogic::TakeLinkError() {
    const int code = m_link.m_nError != 0 ? m_link.m_nError : CTangoLink::kNoAnswer;
    const std::string& own = m_link.ErrorTextOverride();
    SetError(code, own.empty() ? GetErrorText(code) : own);
    return 0;
}

// ---------------------------------------------------------------- open / close

int CTangoLogic::Open(int port, const EcrDeviceRecord* record) {
    if (!m_pSerial || !record) {
        SetError(999999, PL("System kas fiskalnych - błąd systemu !"));
        return 0;
    }
    m_nSaleMode = (record->flags & 2u) ? 2u : (record->flags & 1u);
    SetProtocol(&m_link);
    m_link.SetSerial(m_pSerial);
    m_link.SetSocket(m_pSocket);
    Configure(record);
    if (!OpenLine(port, record)) return TakeLinkError();
    if (record->kind != 3 && record->kind != 4) return 1;

    // A multiplexer shares the line: select the register's socket.
    if (m_link.SelectMuxChannel(port, record->kind == 3 ? 1 : 2, record->word6)) return 1;
    const int code = m_link.m_nError != 0 ? m_link.m_nError : CTangoLink::kNoAnswer;
    SetError(code, code == 1 || code == 2 ? CTelepathyECR::GetMuxErrorText(code) : GetErrorText(code));
    m_link.Close();
    return 0;
}

int CTangoLogic::Close(int port) {
    (void)port;
    m_link.Close();
    return 1;
}

// ---------------------------------------------------------------- status and VAT

int CTangoLogic::ReadVAT(int, double vat[8]) {
    if (VatEvents()) Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!m_link.ReadTaxTable(vat)) return TakeLinkError();
    if (VatEvents()) Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 100, 0);
    return 1;
}

int CTangoLogic::ReadStatus(int, EcrStatusRecord* status, double vat[8]) {
    if (!ReadsMoreStatus())
        for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    std::string pieces[3];
    std::string text;
    if (ReadsMoreStatus() && !m_link.ReadMoreStatus(pieces)) return TakeLinkError();
    if (!m_link.ReadStatusText(text)) return TakeLinkError();
    if (!m_link.ReadTaxTable(vat)) return TakeLinkError();
    CopyString(status->device_text, sizeof status->device_text, pieces[0] + ";" + pieces[1] + ";" + pieces[2], 31);
    CopyString(status->unique_number, sizeof status->unique_number, text, 15);
    Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 100, 0);
    return 1;
}

// ---------------------------------------------------------------- sales

int CTangoLogic::ReadReports(char sub) {
    auto toHost = [this](uint32_t kind) {
        return [this, kind](const tango::SaleLine& line) {
            EcrItemRecord item;
            EcrSaleRecord sale;
            ToHostSale(line, kind, item, sale);
            SendSale(&item, &sale);
        };
    };
    if (!m_link.ReadReport('U', sub, toHost(1))) return TakeLinkError();
    if (!m_link.ReadReport('d', sub, toHost(0))) return TakeLinkError();
    return 1;
}

int CTangoLogic::ReadSale(int, EcrSaleCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (m_nSaleMode != 2) return ReadReports('0');
    const int r = m_link.ReadPositions([this](const tango::SaleLine& line) {
        EcrItemRecord item;
        EcrSaleRecord sale;
        ToHostSale(line, 2, item, sale);
        SendSale(&item, &sale);
    });
    return r ? 1 : TakeLinkError();
}

int CTangoLogic::ClearSale(int, EcrSaleCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return ReadReports('2');
}

// ---------------------------------------------------------------- goods

int CTangoLogic::ReadAllPLU(int, EcrItemReadCallback) {
    const int r = m_link.ReadAllPlu([this](const tango::Goods& g) {
        EcrItemRecord item = ToHostItem(g, m_bUnitsFromDevice);
        SendPLU(&item);
    });
    return r ? 1 : TakeLinkError();
}

int CTangoLogic::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const EcrItemRecord& it = items[i];
        const int percent = static_cast<int>(std::trunc((i + 1) * 100.0)) / count;
        Notify(ECR_EVENT_ITEM, "Kod kreskowy - " + HostField(it.code, sizeof it.code), percent, 0);
        CChrArr key;
        tango::Goods goods;
        int r = 0;
        if (int e = tango::GoodsKey(HostField(it.code, sizeof it.code), it.number, key))
            m_link.Refuse(e);
        else
            r = m_link.ReadPlu(key, goods);
        if (r) {
            found = true;
            EcrItemRecord host = ToHostItem(goods, m_bUnitsFromDevice);
            SendPLU(&host);
            continue;
        }
        TakeLinkError();
        if (m_nError == CTangoLink::kMissing) continue;   // the next item
        if (m_nError != -7) Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
        return 0;
    }
    return found ? 1 : 0;
}

int CTangoLogic::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int kind) {
    return ItemLoop<EcrItemRecord>(
        items, count, [](const EcrItemRecord& it) { return NameLabel(it); },
        [this, kind](EcrItemRecord& it, int) {
            return ItemRequest([&] {
                if (kind != 2) return m_link.WritePlu(FromHostItem(it));
                // An extra barcode: the item as the register holds it, with
                // this second code.
                CChrArr key;
                if (int e = tango::GoodsKey(HostField(it.code, sizeof it.code), it.number, key))
                    return m_link.Refuse(e);
                return m_link.WriteSecondCode(key, HostField(it.code2, sizeof it.code2));
            });
        });
}

int CTangoLogic::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    return ItemLoop<EcrItemRecord>(
        items, count, [](const EcrItemRecord& it) { return NameLabel(it); },
        [this](EcrItemRecord& it, int) {
            return ItemRequest([&] {
                CChrArr key;
                if (int e = tango::GoodsKey(HostField(it.code, sizeof it.code), it.number, key))
                    return m_link.Refuse(e);
                return m_link.DeletePlu(key);
            });
        });
}

// ---------------------------------------------------------------- departments

int CTangoLogic::ReadAllDEPT(int, EcrDeptReadCallback) {
    const int r = m_link.ReadDepts([this](const tango::Dept& d) {
        EcrDeptRecord dept = ToHostDept(d);
        SendDEPT(&dept);
    });
    return r ? 1 : TakeLinkError();
}

int CTangoLogic::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    return ItemLoop<EcrDeptRecord>(
        depts, count, [](const EcrDeptRecord& d) { return NameLabel(d); },
        [this](EcrDeptRecord& d, int) { return ItemRequest([&] { return m_link.WriteDept(FromHostDept(d)); }); });
}
