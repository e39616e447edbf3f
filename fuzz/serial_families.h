// The serial families the fuzz targets drive (device type codes as the
// registry serves them).
#pragma once

#include "drivers/dsa/dsa_link.h"
#include "serial_harness.h"

namespace orv::fuzz {

inline const SerialFamily& ElzabFamily() {
    static const SerialFamily f{"elzab",
                                {27, 1, 2, 3, 4, 5, 6, 22, 28, 29, 30, 31, 32, 46, 53, 63, 76, 77, 78, 79, 80, 81,
                                 94, 95, 98, 102, 700, 701},
                                9600,
                                {},
                                2,   // long names come in two parts
                                {2, 4, 6}};   // VAT rates in 2 bytes, prices in 4, barcodes in 6
    return f;
}

inline const SerialFamily& DsaFamily() {
    static const SerialFamily f{"dsa", {15, 37, 40, 13, 14, 36, 109}, 9600,
                                [](const Bytes& b) { return CDsaLink::Decode(CChrArr(b.data(), b.size())).bytes(); }};
    return f;
}

inline const SerialFamily& Elcom50Family() {
    static const SerialFamily f{"elcom50", {16, 17}, 19200};
    return f;
}

// Novitus registers on the Tango protocol (Next on a serial line too).
inline const SerialFamily& TangoFamily() {
    static const SerialFamily f{"tango", {12, 34, 35, 57, 58, 59, 65, 66, 67, 68, 69, 70, 85, 86}, 9600};
    return f;
}

// Novitus Next over TCP (connection kind 11): the Tango protocol on a
// connection to port 5001.
inline const SerialFamily& NextTcpFamily() {
    static const SerialFamily f = [] {
        SerialFamily n{"next_tcp", {85, 86}, 9600};
        n.kind = 11;
        n.tcp = true;
        return n;
    }();
    return f;
}

// Posnet Perfekt and Bingo, and Posnet ECR: the same ESC frames.
inline const SerialFamily& PosnetFamily() {
    static const SerialFamily f{"posnet", {38, 44, 45, 54, 62, 21}, 9600};
    return f;
}

// Sharp registers on the block link (names in hexadecimal digit pairs;
// word 7 is the machine number).
inline const SerialFamily& SharpFamily() {
    static const SerialFamily f{"sharp", {33, 18, 97, 47, 48, 49, 50, 25}, 9600, HexPairs, 1, {}, 1};
    return f;
}

// Sharp 227 on its command link.
inline const SerialFamily& Sharp227Family() {
    static const SerialFamily f{"sharp227", {74}, 9600, HexPairs, 1, {}, 1};
    return f;
}

inline const SerialFamily& AdaxFamily() {
    static const SerialFamily f{"adax", {19}, 9600};
    return f;
}

inline const SerialFamily& Dsp800Family() {
    static const SerialFamily f{"dsp800", {101}, 9600};
    return f;
}

// CR-280 and Hida (the record link) and Optimus (the line alone).
inline const SerialFamily& Cr280Family() {
    static const SerialFamily f{"cr280", {11, 23, 9}, 9600};
    return f;
}

inline const SerialFamily& NcrFamily() {
    static const SerialFamily f{"ncr", {8}, 9600};
    return f;
}

inline const SerialFamily& ElemisFamily() {
    static const SerialFamily f = [] {
        // Records in groups of seven bytes; codes in packed BCD, rates and
        // prices in binary (2 and 4 bytes).
        auto text = [](const Bytes& b) {
            Bytes decoded = SevenBitGroups(b);
            const Bytes digits = BcdDigits(decoded);
            decoded.push_back(0);
            decoded.insert(decoded.end(), digits.begin(), digits.end());
            return decoded;
        };
        SerialFamily e{"elemis", {75}, 9600, text, 1, {2, 4}};
        e.echoesRequest = true;
        return e;
    }();
    return f;
}

// CAS LP label scales, LP-1 and LP-16 (LP-1 sends codes and prices in binary).
inline const SerialFamily& CasLpFamily() {
    static const SerialFamily f{"cas_lp", {105, 110}, 9600, BcdDigits, 1, {2, 3, 4}};
    return f;
}

// Medesa scales on a serial line (word 7: the scale's address). A goods code
// is joined from two blocks: its first six digits come in block 3, the rest
// in block 0.
inline const SerialFamily& MedesaFamily() {
    static const SerialFamily f{"medesa", {100}, 9600, BcdDigits, 2, {}, 1};
    return f;
}

// Dibal scales, all goods at once and one item at a time (word 7: the address).
inline const SerialFamily& DibalFamily() {
    static const SerialFamily f{"dibal", {103, 104}, 9600, {}, 1, {}, 1};
    return f;
}

// Medesa scales behind the USB bus controller (connection kind 5 makes type
// 100 take the bus too; word 6: the channel port, word 7: the address). Codes
// in two blocks, as on the serial line.
inline const SerialFamily& MedesaUsbFamily() {
    static const SerialFamily f{"medesa_usb", {106, 100}, 9600, BcdDigits, 2, {}, 1, 3, 5, true};
    return f;
}

}  // namespace orv::fuzz
