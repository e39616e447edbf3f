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

}  // namespace orv::fuzz
