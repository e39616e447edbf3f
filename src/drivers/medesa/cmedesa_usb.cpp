#include "drivers/medesa/cmedesa_usb.h"

#include <vector>

#include "platform/clock.h"
#include "util/cp1250.h"

namespace {

constexpr double kReadSeconds = 5.0;
constexpr int kDropLimit = 64;      // reports dropped before a request at most
constexpr uint8_t kClose = 0x7D;
constexpr uint8_t kTimedOut = 4;   // status byte of a report: the scale did not answer
constexpr const char* kNotFoundText = "US-BUS CONTROLLER - ERROR ON OPEN";

}  // namespace

uint8_t CMedesaUSB::Channel(int channelPort) {
    return channelPort >= 2 && channelPort <= 4 ? static_cast<uint8_t>(channelPort - 1) : 0;
}

std::string CMedesaUSB::GetErrorText(int code) {
    if (code == -2 && m_notFound) return kNotFoundText;
    return CMedesa::GetErrorText(code);
}

int CMedesaUSB::OpenUsb(uint8_t address, int channelPort) {
    m_nError = 0;
    m_address = address;
    m_channelPort = channelPort;
    m_notFound = false;
    m_gone = false;
    m_device.reset();
    orv::platform::HidBus& bus = orv::platform::CurrentHidBus();
    for (const orv::platform::HidDeviceInfo& info : bus.Enumerate()) {
        if (info.product != kProduct) continue;
        m_device = bus.Open(info.path);
        if (m_device) return 1;
    }
    m_notFound = true;
    m_nError = -2;
    ShowMessageText(kNotFoundText);
    return 0;
}

int CMedesaUSB::CloseScale() {
    m_device.reset();
    m_gone = false;
    m_nError = 0;
    return 1;
}

int CMedesaUSB::Send(uint16_t /*job*/, const CChrArr& payload) {
    if (!m_device) {
        m_nError = -3;
        return 0;
    }
    const CChrArr head = FrameHead(payload);
    if (head.GetLength() < 8) {
        m_nError = MDS_ERR_BAD_FRAME;
        return 0;
    }
    if (!DropWaitingReports()) return 0;
    const CChrArr frame = head + kClose;
    DumpSent(frame);
    std::vector<uint8_t> report(kReportSize, 0);
    report[1] = Channel(m_channelPort);
    for (int i = 0; i < frame.GetLength() && i + 2 < kReportSize; ++i) report[static_cast<size_t>(i) + 2] = frame[i];
    if (m_device->Write(report.data(), report.size()) < 0) {
        m_nError = MDS_ERR_BAD_FRAME;
        return 0;
    }
    return 1;
}

int CMedesaUSB::DropWaitingReports() {
    if (m_gone) {
        m_nError = orv::platform::kHidGone;
        return 0;
    }
    std::vector<uint8_t> report(kReportSize, 0);
    for (int i = 0; i < kDropLimit; ++i) {
        const int n = m_device->Read(report.data(), report.size(), 0, m_pSerial ? &m_pSerial->AbortSignal() : nullptr);
        if (n == orv::platform::kHidTimeout) return 1;   // none left
        if (n < 0) {
            m_gone = n == orv::platform::kHidGone;
            m_nError = n;
            return 0;
        }
        DumpReceived(CChrArr(report.data(), static_cast<size_t>(n)));
    }
    return 1;
}

int CMedesaUSB::Receive(uint16_t job, CChrArr& reply) {
    reply.RemoveAll();
    if (!KnownJob(job)) {
        m_nError = MDS_ERR_BAD_FRAME;
        return 0;
    }
    if (!m_device) {
        m_nError = -3;
        return 0;
    }
    if (m_gone) {
        m_nError = orv::platform::kHidGone;
        return 0;
    }
    // One report answers; a report that names another record than the one
    // asked for is a late answer to an earlier request, dropped while the
    // wait goes on.
    const orv::platform::Deadline end(kReadSeconds);
    for (;;) {
        if (!ReadReport(reply, end)) return 0;
        if (!NamesAnother(reply)) return 1;
    }
}

int CMedesaUSB::ReadReport(CChrArr& reply, const orv::platform::Deadline& end) {
    reply.RemoveAll();
    std::vector<uint8_t> report(kReportSize, 0);
    const int n = m_device->Read(report.data(), report.size(), end.RemainingMillis(), m_pSerial ? &m_pSerial->AbortSignal() : nullptr);
    if (n < 0) {
        m_gone = n == orv::platform::kHidGone;
        m_nError = n;   // -5 time-out, -6 unplugged, -7 broken off
        return 0;
    }
    DumpReceived(CChrArr(report.data(), static_cast<size_t>(n)));
    if (n < kReportSize) {
        m_nError = MDS_ERR_BAD_FRAME;
        return 0;
    }
    if (report[1] == kTimedOut) {
        m_nError = MDS_ERR_USB_TIMEOUT;
        return 0;
    }
    int close = -1;
    for (int i = 0; i < kReportSize; ++i) {
        if (report[static_cast<size_t>(i)] == kClose) {
            close = i;
            break;
        }
    }
    CChrArr body;
    if (close < 4 || !FrameBody(CChrArr(report.data() + 2, static_cast<size_t>(close - 1)), body)) {
        m_nError = MDS_ERR_BAD_FRAME;
        return 0;
    }
    reply = body;
    return 1;
}
