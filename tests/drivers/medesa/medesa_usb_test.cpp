// Medesa scales behind the USB bus controller, on the scripted HID bus:
// finding the controller, the report layout and channels, the report
// checks, time-outs and breaks, and types 106 and 100 (kind 5) through the
// exports.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/medesa/cmedesa_usb.h"
#include "fakes/fake_hid_device.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

namespace {

using orv::test::FakeHidBus;
using orv::test::Host;
using orv::test::RecordingHost;
using HFault = FakeHidBus::Fault;

class MedesaUsb : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.02);
        orv::platform::SetMessageHook([this](orv::platform::MessageKind, const std::string& text, int) {
            std::lock_guard<std::mutex> lock(mutex);
            messages.push_back(text);
            return 0;
        });
        proto.SetSerial(&serial);
    }
    void TearDown() override {
        proto.CloseScale();
        orv::platform::SetMessageHook({});
        orv::platform::SetTimeScale(1.0);
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }

    FakeHidBus bus;
    CTelepathy serial;
    CMedesaUSB proto;
    std::mutex mutex;
    std::vector<std::string> messages;
};

TEST_F(MedesaUsb, FirstMatchingControllerWins) {
    bus.AddDevice("/dev/hidraw0", "USB Keyboard");
    bus.AddDevice("/dev/hidraw1", "US-BUS CONTROLLER", true);   // fails to open
    bus.AddDevice("/dev/hidraw2", "US-BUS CONTROLLER");
    bus.AddDevice("/dev/hidraw3", "US-BUS CONTROLLER");
    ASSERT_EQ(proto.OpenUsb(1, 3), 1) << proto.m_nError;
    EXPECT_EQ(bus.Opened(), (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2"}));
    EXPECT_EQ(bus.OpenDevices(), 1);
    proto.CloseScale();
    EXPECT_EQ(bus.OpenDevices(), 0);
}

TEST_F(MedesaUsb, NoControllerFailsTheOpen) {
    bus.AddDevice("/dev/hidraw0", "USB Keyboard");
    EXPECT_EQ(proto.OpenUsb(1, 2), 0);
    EXPECT_EQ(proto.m_nError, -2);
    EXPECT_EQ(proto.GetErrorText(-2), "US-BUS CONTROLLER - ERROR ON OPEN");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"US-BUS CONTROLLER - ERROR ON OPEN"}));
}

TEST_F(MedesaUsb, ReportLayoutAndChannels) {
    bus.AddDevice("/dev/hidraw2", "US-BUS CONTROLLER");
    const struct {
        int port;
        uint8_t channel;
    } cases[] = {{1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 0}};
    for (const auto& c : cases) {
        ASSERT_EQ(proto.OpenUsb(7, c.port), 1);
        MedesaDept d;
        d.number = 3;
        d.name = "Pieczywo";
        ASSERT_EQ(proto.WriteDept(d, 1), 1) << proto.m_nError;
        const auto r = bus.Reports().back();
        ASSERT_EQ(r.size(), 255u);
        EXPECT_EQ(r[0], 0);
        EXPECT_EQ(r[1], c.channel) << c.port;
        EXPECT_EQ(r[2], 0x7C);
        EXPECT_EQ(r[3], 0x7C);
        EXPECT_EQ(r[4], 7);   // the address
        proto.CloseScale();
    }
    EXPECT_EQ(bus.Scale().Dept(3), "Pieczywo" + std::string(16, ' '));
}

TEST_F(MedesaUsb, ReportChecks) {
    bus.AddDevice("/dev/hidraw2", "US-BUS CONTROLLER");
    ASSERT_EQ(proto.OpenUsb(1, 2), 1);
    const struct {
        HFault fault;
        int code;
    } cases[] = {{HFault::Status4, 21}, {HFault::NoClose, 9999}, {HFault::ShortReport, 9999}, {HFault::Silence, -5},
                 {HFault::FlipBit, 9999}};
    double vat[8];
    for (const auto& c : cases) {
        bus.QueueFault(c.fault);
        EXPECT_EQ(proto.ReadVatRates(vat, 1), 0);
        EXPECT_EQ(proto.m_nError, c.code) << static_cast<int>(c.fault);
    }
    EXPECT_EQ(proto.GetErrorText(21), PL("Przekroczony czas odbierania"));
    ASSERT_EQ(proto.ReadVatRates(vat, 1), 1) << proto.m_nError;
    EXPECT_DOUBLE_EQ(vat[0], 23.0);

    bus.QueueFault(HFault::Unplug);
    EXPECT_EQ(proto.ReadVatRates(vat, 1), 0);
    EXPECT_EQ(proto.m_nError, -6);
}

TEST_F(MedesaUsb, BreakEndsTheWaitWithin50Ms) {
    orv::platform::SetTimeScale(1.0);
    bus.AddDevice("/dev/hidraw2", "US-BUS CONTROLLER");
    ASSERT_EQ(proto.OpenUsb(1, 2), 1);
    bus.QueueFault(HFault::Silence);
    int64_t brokeAt = 0;
    std::thread breaker([&] {
        while (bus.Reports().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        brokeAt = orv::platform::MonotonicMillis();
        serial.Break();
    });
    double vat[8];
    EXPECT_EQ(proto.ReadVatRates(vat, 1), 0);
    const int64_t ended = orv::platform::MonotonicMillis();
    breaker.join();
    serial.ClearBreak();
    EXPECT_EQ(proto.m_nError, -7);
    EXPECT_LE(ended - brokeAt, 50);
}

// ---- through the exports ----

class MedesaUsbExports : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.02);
        orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int) { return 0; });
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
        bus.AddDevice("/dev/hidraw2", "US-BUS CONTROLLER");
    }
    void TearDown() override {
        orv::platform::SetMessageHook({});
        orv::platform::SetTimeScale(1.0);
    }
    static bool WaitDone() { return orv::test::WaitEcrDone(30000); }
    FakeHidBus bus;
};

TEST_F(MedesaUsbExports, Types106And100Kind5) {
    bus.Scale().SetDept(2, "Napoje");
    for (int type : {106, 100}) {
        SCOPED_TRACE(type);
        Host().Reset();
        EcrDeviceRecord dev = orv::test::DeviceRecord(type, 1, 9600, type == 100 ? 5 : 0);
        dev.word7 = 1;
        dev.word6 = 3;
        EcrItemRecord item = orv::test::HostItemRecord({.number = 12, .name = "Woda", .code = "5900000000012", .price = 1.99, .vat = 2, .dept = 2});
        item.word152 = 30;
        ASSERT_EQ(EcrPgmPLU(&dev, &item, 1, &RecordingHost::OnItemProgram), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
        EXPECT_TRUE(bus.Scale().HoldsPlu(12));
        EXPECT_EQ(bus.Reports().back()[1], 2);   // channel port 3

        Host().Reset();
        ASSERT_EQ(EcrReadPLU(&dev, &item, 1, &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
        ASSERT_EQ(Host().Items().size(), 1u);
        EXPECT_DOUBLE_EQ(Host().Items()[0].price, 1.99);
        EXPECT_EQ(Host().Items()[0].word152, 30u);
    }
}

// Serial stops at the first department that fails; USB skips it, but a
// break or an unplugged controller ends the read, and none read fails.
TEST_F(MedesaUsbExports, DepartmentReadSkipsFailures) {
    EcrDeviceRecord dev = orv::test::DeviceRecord(106, 1, 9600);
    dev.word7 = 1;
    bus.QueueFault(HFault::None, 2);
    bus.QueueFault(HFault::Status4);
    bus.QueueFault(HFault::NoClose);
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_EQ(Host().Depts().size(), 37u);
    EXPECT_EQ(Host().Depts()[2].number, 5u);

    Host().Reset();
    bus.QueueFault(HFault::None, 3);
    bus.QueueFault(HFault::Unplug);
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -6);
    EXPECT_EQ(Host().Depts().size(), 3u);

    // A scale that stopped answering is given up after three departments.
    Host().Reset();
    bus.QueueFault(HFault::None, 2);
    bus.QueueFault(HFault::Silence, 3);
    const size_t before = bus.Reports().size();
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -5);
    EXPECT_EQ(Host().Depts().size(), 2u);
    EXPECT_EQ(bus.Reports().size() - before, 5u);

    Host().Reset();
    bus.QueueFault(HFault::ShortReport, 39);
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 9999);
    EXPECT_TRUE(Host().Depts().empty());
}

// An answer that comes after the wait for it gave up stays with the
// controller; it is dropped before the next request goes out, so the host
// sees what the scale says to the next item (here a refusal).
TEST_F(MedesaUsbExports, LateReportIsDroppedBeforeTheNextRequest) {
    EcrDeviceRecord dev = orv::test::DeviceRecord(106, 1, 9600);
    dev.word7 = 1;
    EcrDeptRecord depts[2] = {orv::test::HostDeptRecord({.number = 4, .name = "Owoce"}),
                              orv::test::HostDeptRecord({.number = 5, .name = "Warzywa"})};
    EcrItemRecord items[2] = {
        orv::test::HostItemRecord({.number = 12, .name = "Woda", .code = "5900000000012", .price = 1.99, .vat = 2, .dept = 2}),
        orv::test::HostItemRecord({.number = 13, .name = "Sok", .code = "5900000000013", .price = 3.49, .vat = 2, .dept = 2}),
    };
    for (auto& it : items) it.word152 = 30;
    const struct {
        const char* what;
        int lateAt;     // the exchange of the first record answered late
        int refusedAt;  // the exchange of the second record refused
        std::function<int()> run;
    } cases[] = {
        {"department", 0, 0, [&] { return EcrPgmDEPT(&dev, depts, 2, &RecordingHost::OnDeptProgram); }},
        {"goods block", 3, 8, [&] { return EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Host().Reset();
        bus.QueueFault(HFault::None, c.lateAt);
        bus.QueueFault(HFault::Late);
        bus.QueueFault(HFault::None, c.refusedAt);
        bus.QueueFault(HFault::Refuse);
        ASSERT_EQ(c.run(), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), 9999);
        const auto confirmed = Host().Confirmations();
        ASSERT_EQ(confirmed.size(), 2u);
        EXPECT_EQ(confirmed[0].code, -5);
        EXPECT_EQ(confirmed[1].code, 9999);

        Host().Reset();
        ASSERT_EQ(c.run(), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
        EXPECT_TRUE(Host().Confirmations().empty());
    }
}

// A controller pulled out: every exchange gives -6 until it is opened
// again, so three items in a row without an answer end the job; the items
// not reached are confirmed with -6 and nothing more goes out.
TEST_F(MedesaUsbExports, UnpluggedBusGivesMinus6UntilOpenedAgain) {
    EcrDeviceRecord dev = orv::test::DeviceRecord(106, 1, 9600);
    dev.word7 = 1;
    std::vector<EcrItemRecord> items;
    for (uint32_t n = 1; n <= 5; ++n) {
        items.push_back(orv::test::HostItemRecord({.number = n, .name = "Woda", .code = "5900000000012", .price = 1.99, .vat = 2, .dept = 2}));
        items.back().word152 = 30;
    }
    bus.QueueFault(HFault::Unplug);
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 5, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -6);
    const auto confirmed = Host().Confirmations();
    ASSERT_EQ(confirmed.size(), 5u);
    for (size_t i = 0; i < confirmed.size(); ++i) {
        EXPECT_EQ(confirmed[i].number, i + 1);
        EXPECT_EQ(confirmed[i].code, -6);
        EXPECT_FALSE(confirmed[i].text.empty());
    }
    EXPECT_EQ(bus.Reports().size(), 1u);

    // A read of the same items: event 6 with -6 for each, the same end.
    Host().Reset();
    bus.QueueFault(HFault::Unplug);
    ASSERT_EQ(EcrReadPLU(&dev, items.data(), 5, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -6);
    int sixes = 0;
    for (const auto& e : Host().Events()) {
        if (e.code != ECR_EVENT_DEVICE_ERROR) continue;
        ++sixes;
        EXPECT_EQ(e.value, -6);
    }
    EXPECT_EQ(sixes, 5);
    EXPECT_EQ(bus.Reports().size(), 2u);

    // Opened again by the next job: the scale answers.
    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
}

TEST_F(MedesaUsbExports, NoControllerRefusesTheJob) {
    FakeHidBus empty;   // installed last: no devices
    EcrDeviceRecord dev = orv::test::DeviceRecord(106, 1, 9600);
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    WaitDone();
    EXPECT_EQ(EcrError(), -2);
    EXPECT_STREQ(EcrErrMsg(), "US-BUS CONTROLLER - ERROR ON OPEN");
}

}  // namespace
