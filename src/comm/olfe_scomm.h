// COlfe_SComm: the port class under CTelepathy. It owns the device, the
// bytes received and not yet taken, the line settings, the notifier and the
// abort flag.
#pragma once

#include <cstdint>
#include <string>

#include "comm/notifier.h"
#include "platform/break_signal.h"
#include "util/chrarr.h"

class COlfe_SComm {
public:
    COlfe_SComm();
    virtual ~COlfe_SComm();

    // Notifier (event block, host callback, window message).
    int SetNotifyWindow(EcrWindow window, uint32_t message);   // also clears the abort flag; returns 1
    EcrWindow GetNotifyWindow() const { return m_notifier.GetWindow(); }
    void SetCallback(EcrProgressCallback cb) { m_notifier.SetCallback(cb); }
    EcrProgressCallback GetCallback() const { return m_notifier.GetCallback(); }
    void Notify(int event, const std::string& text, int percent, int value) {
        m_notifier.Notify(event, text, percent, value);
    }
    const CProgressNotifier& Notifier() const { return m_notifier; }

    // The abort flag; Set wakes every wait of the port.
    orv::platform::BreakSignal& AbortSignal() { return m_abort; }

protected:
    CProgressNotifier m_notifier;
    orv::platform::BreakSignal m_abort;
};
