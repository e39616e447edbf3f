// CSharp: the protocol class of the Sharp text-file registers (the 457 and
// its siblings): options, uploads of goods keyed by number or by barcode,
// price updates, departments, counter clearing, the goods, department, sale
// and tax-rate reads, and deletes, all over the block link.
#pragma once

#include "drivers/sharp/sharp_link.h"

class CSharp : public CSharpLink {
public:
    explicit CSharp(const SharpTraits& traits) : CSharpLink(traits) {}

    // Name mode, options and machine number from the device record; the
    // machine number is returned.
    int SetOptions(int machineNo, int flags) { return ApplyOptions(machineNo, flags); }

    int SendDepartments(const SharpDeptRow* rows, int count = 1) { return SendDepts(rows, count); }
    int SendPLUs(const SharpPluRow* rows, int count, int withNames) {
        return SendGoods(rows, count, Keying::ByNumber, withNames == 1, false);
    }
    int SendEANs(const SharpPluRow* rows, int count, int withNames) {
        return SendGoods(rows, count, Keying::ByBarcode, withNames == 1, false);
    }
    // A price-only goods file.
    int SendPrices(const SharpPluRow* rows, int count, int byBarcode) {
        m_nError = 0;
        return SendGoods(rows, count, byBarcode ? Keying::ByBarcode : Keying::ByNumber, false, true);
    }
    int DeletePLUs(const SharpPluRow* rows, int count, int byBarcode) {
        return DeleteGoods(rows, count, byBarcode ? Keying::ByBarcode : Keying::ByNumber);
    }

    int ClearPLUCounters() { return ClearCounters(1); }
    int ClearEANCounters() { return ClearCounters(0); }

    // 1: the goods keyed by number, 0: those keyed by barcode.
    int ReadAllPLUs(int byNumber, const SharpPluFn& fn) {
        return ReadGoods(byNumber == 1 ? Keying::ByNumber : Keying::ByBarcode, fn);
    }
    int ReadAllPLUsByNumber(const SharpPluFn& fn) { return ReadAllPLUs(1, fn); }
    int ReadAllPLUsByBarcode(const SharpPluFn& fn) { return ReadAllPLUs(0, fn); }
    int ReadPLUByNumber(const SharpPluRow& request, const SharpPluFn& fn) { return ReadGoodsByNumber(request, fn); }
    int ReadPLUByBarcode(const SharpPluRow& request, const SharpPluFn& fn) { return ReadGoodsByBarcode(request, fn); }
    int ReadDepartments(const SharpDeptFn& fn) { return ReadDepts(fn); }
    // The sale counters: mode 1 of the goods keyed by number, 0 by barcode.
    int ReadSales(int mode, const SharpSaleFn& fn) {
        return ReadSaleFile(2, mode == 1 ? Keying::ByNumber : Keying::ByBarcode, fn);
    }

    int BuildPLURecord(const SharpHeader& header, const SharpPluRow& row, CChrArr& out) {
        return BuildGoodsRecord(header, row, Keying::ByNumber, out);
    }
    int BuildEANRecord(const SharpHeader& header, const SharpPluRow& row, CChrArr& out) {
        return BuildGoodsRecord(header, row, Keying::ByBarcode, out);
    }
    int ParsePLURecord(const SharpHeader& header, const CChrArr& record, SharpPluRow& row) {
        return ParseGoodsRecord(header, record, row);
    }
    int ParseEANRecord(const SharpHeader& header, const CChrArr& record, SharpPluRow& row) {
        return ParseGoodsRecord(header, record, row);
    }
};
