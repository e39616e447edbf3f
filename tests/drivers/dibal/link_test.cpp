// The Dibal link against the emulator on a pseudo-terminal: frames byte for
// byte, the NAK, ENQ and poll rules, the reading of records, and what a
// silent, refusing or vanished scale leaves in the error field.
#include <gtest/gtest.h>

#include <thread>

#include "dibal_fixture.h"

namespace orv::test {
namespace {

class DibalLink : public DibalTest {};

const std::string kX1Record = std::string("X100M000005000") + std::string(48, ' ') + "000250" + "000000000000" + "0" +
                              "000000" + "000000" + "00000" + "00" + "000000" + "0001" + "01" + "0" + "0000" +
                              "00000000000";

TEST_F(DibalLink, PlainFramesGoOutByteForByte) {
    DibalEmulator& emu = StartScale(false);
    CDibal link;
    OpenLink(link, 1);
    ASSERT_EQ(link.SendFrame(CDibal::ControlRecord("KB000201")), 1);
    const std::string payload = "KB000201" + std::string(120, ' ');
    uint8_t check = 0x03;
    for (char c : payload) check ^= static_cast<uint8_t>(c);
    EXPECT_EQ(Str(emu.Received()), "\x02" + payload + "\x03" + std::string(1, static_cast<char>(check)));
    EXPECT_EQ(emu.Frames(), std::vector<std::string>{payload});
}

TEST_F(DibalLink, AddressedItemIsPolledFramedAndEnded) {
    DibalEmulator& emu = StartScale(true, 1);
    CDibal link;
    OpenLink(link, 0, 1);
    DibalItem d = MakeDibalItem(5, "", 2.5);
    ASSERT_EQ(link.SendItem(d), 1) << link.m_nError;
    emu.WaitForCount(4 + 136 + 1, 2000);
    const std::string body = kX1Record + "\x03";
    EXPECT_EQ(Str(emu.Received()), std::string("\x04" "02" "\x07") + "\x01" "01" "80" "\x02" + body +
                                       std::string(1, static_cast<char>(DibalEmulator::Check(body))) + "\x04");
    EXPECT_EQ(emu.Goods().at(5), kX1Record);
    EXPECT_TRUE(emu.Texts().empty());   // no X2 in this mode
}

TEST_F(DibalLink, ThreeNaksGiveThreeSendsAnd999) {
    DibalEmulator& emu = StartScale(false);
    emu.Script("KB000201", {DAnswer::Nak, DAnswer::Nak, DAnswer::Nak});
    CDibal link;
    OpenLink(link, 1);
    EXPECT_EQ(link.SendFrame(CDibal::ControlRecord("KB000201")), 0);
    EXPECT_EQ(link.m_nError, 999);
    EXPECT_EQ(emu.Frames().size(), 3u);
    EXPECT_EQ(link.GetErrorText(999), CTelepathyECR().GetErrorText(999));

    // Two NAKs and an ACK: the third send is taken.
    emu.Script("KB000203", {DAnswer::Nak, DAnswer::Nak});
    EXPECT_EQ(link.SendFrame(CDibal::ControlRecord("KB000203")), 1);
    EXPECT_EQ(emu.Frames().size(), 6u);
}

TEST_F(DibalLink, AnyOtherAnswerToAPlainFrameFailsAtOnce) {
    for (DAnswer a : {DAnswer::Silence, DAnswer::WrongByte, DAnswer::Garbage}) {
        DibalEmulator& emu = StartScale(false);
        emu.Script("X1", {a});
        CDibal link;
        OpenLink(link, 1);
        EXPECT_EQ(link.SendFrame(CChrArr(kX1Record)), 0);
        EXPECT_EQ(link.m_nError, 999);
        EXPECT_EQ(emu.Frames().size(), 1u);
        link.ClosePort();
        m_emu->Stop();
    }
}

TEST_F(DibalLink, EnquiryAfterAWrongAnswerToAnAddressedFrame) {
    struct Case {
        std::vector<DAnswer> enq;
        int result, error, enquiries;
        bool eot;
    };
    const std::vector<Case> cases = {
        {{DAnswer::Silence, DAnswer::Nak, DAnswer::Ack}, 1, 0, 3, true},       // ACK to the third ENQ
        {{DAnswer::Nak, DAnswer::Nak, DAnswer::Nak, DAnswer::WrongByte, DAnswer::Silence}, 0, 999, 5, true},
    };
    for (const Case& c : cases) {
        DibalEmulator& emu = StartScale(true, 1);
        emu.Script("X1", {DAnswer::WrongByte});
        emu.Script("enq", c.enq);
        CDibal link;
        OpenLink(link, 0, 1);
        EXPECT_EQ(link.SendItem(MakeDibalItem(5, "", 2.5)), c.result);
        EXPECT_EQ(link.m_nError, c.error);
        EXPECT_TRUE(Eventually([&] { return emu.Enquiries() >= c.enquiries; }));
        EXPECT_EQ(emu.Enquiries(), c.enquiries);
        EXPECT_EQ(emu.Frames().size(), 1u);
        EXPECT_TRUE(emu.WaitUntil([](const Bytes& b) { return !b.empty() && b.back() == 0x04; }, 2000));
        link.ClosePort();
        m_emu->Stop();
    }
}

TEST_F(DibalLink, ThreeNaksToAnAddressedFrameEndTheLink) {
    DibalEmulator& emu = StartScale(true, 1);
    emu.Script("X1", {DAnswer::Nak, DAnswer::Nak, DAnswer::Nak});
    CDibal link;
    OpenLink(link, 0, 1);
    EXPECT_EQ(link.SendItem(MakeDibalItem(5, "", 2.5)), 0);
    EXPECT_EQ(link.m_nError, 999);
    EXPECT_EQ(emu.Frames().size(), 3u);
    EXPECT_EQ(emu.Enquiries(), 0);
    EXPECT_TRUE(emu.WaitUntil([](const Bytes& b) { return !b.empty() && b.back() == 0x04; }, 2000));
}

TEST_F(DibalLink, PollAnsweredAckOrNakEndsTheLinkWith999) {
    for (DAnswer a : {DAnswer::Ack, DAnswer::Nak}) {
        DibalEmulator& emu = StartScale(true, 1);
        emu.Script("poll", {a});
        CDibal link;
        OpenLink(link, 0, 1);
        EXPECT_EQ(link.SendItem(MakeDibalItem(5, "", 2.5)), 0);
        EXPECT_EQ(link.m_nError, 999);
        emu.WaitForCount(5, 2000);
        EXPECT_EQ(Str(emu.Received()), std::string("\x04" "02" "\x07" "\x04"));
        link.ClosePort();
        m_emu->Stop();
    }
}

TEST_F(DibalLink, SevenUnansweredPollsGive999) {
    orv::platform::SetTimeScale(0.01);   // seven answer waits and six pauses
    DibalEmulator& emu = StartScale(true, 1);
    emu.Script("poll", std::vector<DAnswer>(3, DAnswer::Silence));
    emu.Script("poll", std::vector<DAnswer>(3, DAnswer::WrongByte));
    emu.Script("poll", {DAnswer::Garbage});
    CDibal link;
    OpenLink(link, 0, 1);
    EXPECT_EQ(link.SendItem(MakeDibalItem(5, "", 2.5)), 0);
    EXPECT_EQ(link.m_nError, 999);
    // The last poll's silence may have been waited out before the emulator
    // thread counted it.
    EXPECT_TRUE(Eventually([&] { return emu.Polls() >= 7; }));
    EXPECT_EQ(emu.Polls(), 7);
    EXPECT_TRUE(emu.Frames().empty());

    // The sixth poll answered: the item goes out.
    emu.Script("poll", std::vector<DAnswer>(5, DAnswer::Silence));
    EXPECT_EQ(link.SendItem(MakeDibalItem(5, "", 2.5)), 1) << link.m_nError;
    EXPECT_EQ(emu.Polls(), 13);
}

TEST_F(DibalLink, AddressesOfTheAddressedLine) {
    DibalEmulator& emu = StartScale(true, 41);
    CDibal link;
    OpenLink(link, 0, 41);
    EXPECT_EQ(Str(link.PollBytes()), std::string("\x04" "42" "\x07"));
    ASSERT_EQ(link.SendItem(MakeDibalItem(5, "", 2.5)), 1) << link.m_nError;
    EXPECT_EQ(Str(emu.Received()).substr(4, 5), std::string("\x01" "41" "80"));
    link.ClosePort();

    for (int address : {-1, 99, 1000}) {
        CDibal other;
        other.SetSerial(m_serial.get());
        other.SetModeFlag(0);
        EXPECT_EQ(other.Open(kDibalPort, 9600, address), 0);
        EXPECT_EQ(other.m_nError, 19);
    }
    // The bulk line has no address to check.
    CDibal bulk;
    OpenLink(bulk, 1, 99);
}

TEST_F(DibalLink, LineSettingsFollowTheMode) {
    StartScale(false);
    for (uint32_t flag : {1u, 0u, 2u}) {
        CDibal link;
        OpenLink(link, flag);
        link.ClosePort();
    }
    const auto s = m_spy->Requested();
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s.front().parity, 'N');
    EXPECT_EQ(s.front().dataBits, 8);
    EXPECT_EQ(s.front().stopBits, 1);
    EXPECT_EQ(s.back().parity, 'E');
    EXPECT_EQ(s.back().dataBits, 8);
    bool even = false;
    for (const auto& x : s) even = even || x.parity == 'E';
    EXPECT_TRUE(even);
}

TEST_F(DibalLink, ReadingTakesRecordsUntilSilence) {
    DibalEmulator& emu = StartScale(false);
    emu.SetGoods(5, kX1Record);
    emu.SetGoods(6, "X1" + kX1Record.substr(2, 3) + "000006" + kX1Record.substr(11));
    emu.SetGoods(9, "Y7" + std::string(126, '0'));
    emu.QueueRecordFaults({DFault::BadCheck, DFault::MissingEtx, DFault::None, DFault::StrayByte, DFault::None});
    CDibal link;
    OpenLink(link, 1);
    std::vector<uint32_t> got;
    EXPECT_EQ(link.ReadRegisters([&](const DibalItem& d) { got.push_back(d.plu); }), 1) << link.m_nError;
    EXPECT_EQ(got, (std::vector<uint32_t>{5, 6}));
    EXPECT_EQ(Host().CountEvents(5), 3);
    const auto other = Host().EventsWithCode(5).back();
    EXPECT_EQ(other.text, "Rejestr - Y7");
    EXPECT_EQ(other.percent, 75);
}

TEST_F(DibalLink, ReadingEndsAfterThreeAttempts) {
    struct Case {
        std::vector<DFault> faults;
        int result, error;
        size_t items;
    };
    const std::vector<Case> cases = {
        {{DFault::BadCheck, DFault::BadCheck, DFault::BadCheck}, 0, 999, 0},
        {{DFault::None, DFault::MissingEtx, DFault::Garbage, DFault::BadCheck}, 0, 999, 1},
        {{DFault::StrayByte, DFault::StrayByte, DFault::StrayByte}, 1, 0, 0},
        {{DFault::None, DFault::BadCheck, DFault::Silence}, 0, 999, 1},
        {{DFault::Silence}, 1, 0, 0},
    };
    for (const Case& c : cases) {
        DibalEmulator& emu = StartScale(false);
        emu.SetGoods(5, kX1Record);
        emu.SetGoods(6, "X1" + kX1Record.substr(2, 3) + "000006" + kX1Record.substr(11));
        emu.QueueRecordFaults(c.faults);
        CDibal link;
        OpenLink(link, 1);
        size_t items = 0;
        EXPECT_EQ(link.ReadRegisters([&](const DibalItem&) { ++items; }), c.result);
        EXPECT_EQ(link.m_nError, c.error);
        EXPECT_EQ(items, c.items);
        link.ClosePort();
        m_emu->Stop();
    }
}

TEST_F(DibalLink, RefusedReadRequestFails) {
    DibalEmulator& emu = StartScale(false);
    emu.Script("KB000202", {DAnswer::Nak, DAnswer::Nak, DAnswer::Nak});
    CDibal link;
    OpenLink(link, 1);
    EXPECT_EQ(link.ReadRegisters([](const DibalItem&) {}), 0);
    EXPECT_EQ(link.m_nError, 999);
}

TEST_F(DibalLink, TransportFailuresKeepTheirCodes) {
    DibalEmulator& emu = StartScale(false);
    emu.Script("X1", {DAnswer::Silence});
    CDibal link;
    OpenLink(link, 1);
    orv::platform::SetTimeScale(1.0);   // the answer's wait must outlast the break
    std::thread breaker([&] {
        emu.WaitForCount(131, 5000);
        m_serial->Break();
    });
    EXPECT_EQ(link.SendFrame(CChrArr(kX1Record)), 0);
    breaker.join();
    EXPECT_EQ(link.m_nError, -7);
    m_serial->ClearBreak();

    emu.Script("X1", {DAnswer::Silence});
    std::thread unplug([&] {
        emu.WaitForCount(262, 5000);
        emu.Disconnect();
    });
    EXPECT_EQ(link.SendFrame(CChrArr(kX1Record)), 0);
    unplug.join();
    EXPECT_EQ(link.m_nError, -6);
}

}  // namespace
}  // namespace orv::test
