// Shared set-up of the Perfekt tests: a fast clock, the recording host, a
// Perfekt emulator on a pseudo-terminal, a serial object of the test's own
// and the logic object that runs jobs the way the dispatcher does.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/posnet/cpf_ecr.h"
#include "fakes/recording_host.h"
#include "job/job_block.h"
#include "platform/clock.h"
#include "sim/posnet/perfekt_emulator.h"

namespace orv::test {

constexpr int kPerfektPort = 7;

// Job codes as the dispatcher hands them to the logic class.
enum PerfektJob : uint32_t {
    kJobReadSale = 1, kJobClearSale = 2, kJobReadAllPlu = 3, kJobReadPlu = 4, kJobPgmPlu = 5, kJobDelPlu = 7,
    kJobReadAllDept = 9, kJobPgmDept = 11, kJobReadAllUnit = 12, kJobPgmUnit = 13, kJobReadStatus = 14,
    kJobReadVat = 15,
};

using PFault = PerfektEmulator::Fault;

// A goods record as the register keeps it after "#p" (Mazovia name, 16 wide).
inline PerfektEmuPlu EmuPlu(const std::string& name, const std::string& code, const std::string& price,
                            const std::string& vat = "0") {
    PerfektEmuPlu p;
    p.name = name;
    p.name.resize(16, ' ');
    p.code = code;
    p.price = price;
    p.vat = vat;
    return p;
}

// How the emulated register ends the code of a "#Z" answer: the driver
// tests run against a register that ends it with the frame and against one
// that ends it with a TAB, as it ends every other field.
struct RefusalEnd {
    const char* name;
    const char* bytes;
};
inline const RefusalEnd kRefusalEnds[] = {{"Bare", ""}, {"Tab", "\t"}};
inline void PrintTo(const RefusalEnd& end, std::ostream* os) { *os << end.name; }
inline std::string RefusalEndName(const ::testing::TestParamInfo<RefusalEnd>& info) { return info.param.name; }

class PerfektTest : public ::testing::TestWithParam<RefusalEnd> {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.02);
        Host().Reset();
    }
    void TearDown() override {
        if (m_logic && m_logic->IsRunning()) {
            m_logic->Break();
            if (m_serial) m_serial->Break();
            WaitJobEnd(*m_logic, 10000);
        }
        if (m_emu) m_emu->Stop();
        m_logic.reset();
        m_serial.reset();
        m_emu.reset();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }

    // An emulator of the variant and a serial object whose events go to the
    // recording host.
    PerfektEmulator& StartDevice(int variant) {
        StopDevice();
        m_emu = std::make_unique<PerfektEmulator>(kPerfektPort, variant);
        m_emu->SetCodeEnd(GetParam().bytes);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        return *m_emu;
    }
    void StopDevice() {
        if (m_emu) m_emu->Stop();
        m_logic.reset();
        m_serial.reset();
        m_emu.reset();
        Host().Reset();
    }

    // A protocol object of the variant opened on the emulator's line.
    std::unique_ptr<CPosnetPerfekt> OpenLink(int variant) {
        auto link = std::make_unique<CPosnetPerfekt>();
        link->SetVariant(variant);
        link->SetSerial(m_serial.get());
        EXPECT_EQ(link->Open(kPerfektPort, 9600), 1) << link->m_nError;
        return link;
    }

    // ---- jobs through the logic object ----
    void Prepare(uint32_t job, int type) {
        if (!m_logic) m_logic = std::make_unique<CPF_ECR>();
        PrepareJobBlock(job, DeviceRecord(type, kPerfektPort, 9600));
    }
    // Runs the prepared job; true when it succeeded (event 10).
    bool Run(uint32_t job) {
        EXPECT_TRUE(RunJob(*m_logic, job, m_serial.get(), nullptr));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }
    bool RunItems(uint32_t job, int type, std::vector<EcrItemRecord>& items) {
        Prepare(job, type);
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        return Run(job);
    }
    bool RunDepts(uint32_t job, int type, std::vector<EcrDeptRecord>& depts) {
        Prepare(job, type);
        g_jobBlock.depts = depts.data();
        g_jobBlock.count = static_cast<uint32_t>(depts.size());
        return Run(job);
    }
    int JobError() const { return m_logic->GetErrorCode(); }
    std::string JobText() const { return m_logic->GetErrorMessage(); }

    std::unique_ptr<PerfektEmulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
    std::unique_ptr<CPF_ECR> m_logic;
};

// A host goods record.
inline EcrItemRecord PerfektItem(uint32_t number, const char* name, double price, uint32_t vat = 1,
                                 const char* code = "") {
    return HostItemRecord({.number = number, .name = name, .code = code, .price = price, .vat = vat, .dept = 0, .unit = 1});
}

inline PerfektEmulator::Injection Inj(const std::string& command, PFault fault, int arg = 0,
                                      const std::string& text = "", int times = 1, int skip = 0) {
    return MakeInjection<PerfektEmulator::Injection>(command, fault, arg, text, times, skip);
}

inline std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace orv::test
