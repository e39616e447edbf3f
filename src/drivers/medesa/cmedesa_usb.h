// CMedesaUSB: the Medesa scales behind the "US-BUS CONTROLLER" USB HID bus
// controller (type 106, and 100 with connection kind 5). The frames and
// jobs are the serial line's; each frame goes out in one 255-byte report
// (report ID 0, the channel, the frame) and the answer comes back in one.
#pragma once

#include <memory>

#include "drivers/medesa/cmedesa.h"
#include "platform/clock.h"
#include "platform/hid_device.h"

class CMedesaUSB : public CMedesa {
public:
    static constexpr int kReportSize = 255;
    static constexpr const char* kProduct = "US-BUS CONTROLLER";

    // Finds and opens the controller (the first interface whose product
    // string matches); none: -2, its text shown in a message box.
    int OpenUsb(uint8_t address, int channelPort);
    int CloseScale() override;
    int Send(uint16_t job, const CChrArr& payload) override;
    int Receive(uint16_t job, CChrArr& reply) override;
    void LineIdle() override {}

    std::string GetErrorText(int code) override;

    // The channel byte of a channel port: 2, 3, 4 -> 1, 2, 3; else 0.
    static uint8_t Channel(int channelPort);
    bool IsOpen() const { return m_device != nullptr; }

private:
    // Drops every report already waiting (answers the scale gave after
    // their wait ended); 0 with -6 or -7 set when the bus is gone or the
    // job broken off.
    int DropWaitingReports();
    // Reads and checks one answer report by the deadline: its frame body,
    // or 0 with the error set.
    int ReadReport(CChrArr& reply, const orv::platform::Deadline& end);

    std::unique_ptr<orv::platform::HidDevice> m_device;
    int m_channelPort = 0;
    bool m_notFound = false;
    bool m_gone = false;   // the controller went away: -6 until opened again
};
