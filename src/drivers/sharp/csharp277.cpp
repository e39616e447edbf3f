#include "drivers/sharp/csharp277.h"

CSharp277::CSharp277() : CSharpLink(kSharp277Traits) {}

int CSharp277::SetOptions(int machineNo, int flags, int psModel) {
    ApplyOptions(machineNo, flags);
    m_nPsModel = psModel == 1 ? 1 : 0;
    return m_nMachine;
}

int CSharp277::ClearSales(const SharpSaleFn& fn) {
    if (m_nPsModel == 1) return ReadSales(fn, 3);
    m_nError = 0;
    if (!Select() || !SendJobCode(0, 32, 1, "0120//0001-9999//00/") || !SendEOT()) {
        if (m_nError == 0) m_nError = kSharpNoAnswer;
        return 0;
    }
    return 1;
}
