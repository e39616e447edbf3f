// CMDUSB_ECR: job logic of the Medesa scales behind the USB bus controller
// (type 106, and 100 with connection kind 5): the serial class's jobs, one
// attempt each, over CMedesaUSB.
#pragma once

#include "drivers/medesa/cmd_ecr.h"
#include "drivers/medesa/cmedesa_usb.h"

class CMDUSB_ECR : public CMD_ECR {
public:
    CMDUSB_ECR() : CMD_ECR(m_usbProto, true) {}

    CMedesaUSB& UsbProtocol() { return m_usbProto; }
    // The controller reporting that the scale did not answer counts as no answer.
    int NoAnswerCode() const override { return MDS_ERR_USB_TIMEOUT; }

protected:
    int OpenScale(int /*port*/, const EcrDeviceRecord& record) override {
        return m_usbProto.OpenUsb(static_cast<uint8_t>(record.word7), record.word6);
    }

private:
    CMedesaUSB m_usbProto;
};
