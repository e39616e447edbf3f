// CSharp285: the Sharp 285 registers (type 97's second protocol object):
// goods keyed by 16-character barcode keys only, names of 16 or 24
// characters, a 184-character file header and 20-character request keys.
#pragma once

#include "drivers/sharp/sharp_link.h"

class CSharp285 : public CSharpLink {
public:
    CSharp285();

    // Name mode (bit 0), the bit-7, bit-1 and bit-2 options, the machine
    // number; returns the machine number.
    int SetParams(int machineNo, int flags) { return ApplyOptions(machineNo, flags); }

    int SendPLUs(const SharpPluRow* rows, int count, int withNames) {
        return SendGoods(rows, count, Keying::ByBarcode, withNames == 1, false);
    }
    int SendPrices(const SharpPluRow* rows, int count) { return SendGoods(rows, count, Keying::ByBarcode, false, true); }
    int DeletePLUs(const SharpPluRow* rows, int count) { return DeleteGoods(rows, count, Keying::ByBarcode); }
    int SendDepartments(const SharpDeptRow* rows, int count = 1) { return SendDepts(rows, count); }

    // The sales are read and cleared in one pass ("20-12").
    int ClearSales(const SharpSaleFn& fn) { return ReadSales(fn, 3); }
    int ReadSales(const SharpSaleFn& fn, int mode) { return ReadSaleFile(mode == 3 ? 3 : 2, Keying::ByNumber, fn); }
    int ReadDepartments(const SharpDeptFn& fn) { return ReadDepts(fn); }
    int ReadAllPLUs(const SharpPluFn& fn) { return ReadGoods(Keying::ByBarcode, fn); }
    int ReadPLUByBarcode(const SharpPluRow& request, const SharpPluFn& fn) { return ReadGoodsByBarcode(request, fn); }

    int BuildPLURecord(const SharpHeader& header, const SharpPluRow& row, CChrArr& out) {
        return BuildGoodsRecord(header, row, Keying::ByBarcode, out);
    }
};
