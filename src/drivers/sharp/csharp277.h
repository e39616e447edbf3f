// CSharp277: the Sharp 277 registers (types 47 and 48) and their PS models
// (types 49 and 50), which key goods by barcode in the goods file and read
// and clear their sales in one pass.
#pragma once

#include "drivers/sharp/sharp_link.h"

class CSharp277 : public CSharpLink {
public:
    CSharp277();

    int SetOptions(int machineNo, int flags, int psModel);

    int SendPLUs(const SharpPluRow* rows, int count, int withNames) {
        return SendGoods(rows, count, GoodsKeying(), withNames == 1, false);
    }
    int SendPrices(const SharpPluRow* rows, int count) { return SendGoods(rows, count, GoodsKeying(), false, true); }
    // Deletes the rows' goods ("10-02", the keys only).
    int SendPLUFile(const SharpPluRow* rows, int count) { return DeleteGoods(rows, count, GoodsKeying(), "PLU - %i"); }
    int SendDepartments(const SharpDeptRow* rows, int count = 1) { return SendDepts(rows, count); }

    // PS models: the sales are read and cleared ("20-12"); the others
    // clear them with "32-31".
    int ClearSales(const SharpSaleFn& fn);
    // Mode 3 reads and clears; any other mode only reads.
    int ReadSales(const SharpSaleFn& fn, int mode) { return ReadSaleFile(mode == 3 ? 3 : 2, Keying::ByNumber, fn); }
    int ReadDepartments(const SharpDeptFn& fn) { return ReadDepts(fn); }
    int ReadAllPLUs(const SharpPluFn& fn) { return ReadGoods(GoodsKeying(), fn); }
    int ReadPLUByNumber(const SharpPluRow& request, const SharpPluFn& fn) { return ReadGoodsByNumber(request, fn); }
    int ReadPLUByBarcode(const SharpPluRow& request, const SharpPluFn& fn) { return ReadGoodsByBarcode(request, fn); }

    int BuildPLURecord(const SharpHeader& header, const SharpPluRow& row, CChrArr& out) {
        return BuildGoodsRecord(header, row, GoodsKeying(), out);
    }

private:
    Keying GoodsKeying() const { return m_nPsModel == 1 ? Keying::ByBarcode : Keying::ByNumber; }
};
