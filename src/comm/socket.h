// The TCP transport: the one socket object of the process and the protocol
// base whose reads and writes mirror the serial service's.
#pragma once

#include <cstdint>
#include <string>

#include "comm/notifier.h"
#include "comm/telepathy_ecr.h"
#include "platform/break_signal.h"
#include "util/chrarr.h"

class CTelepathySocket {
public:
    CTelepathySocket();
    virtual ~CTelepathySocket();

    int SetNotifyWindow(EcrWindow window, uint32_t message);  // clears the break flag; returns 1
    void SetCallback(EcrProgressCallback cb) { m_notifier.SetCallback(cb); }
    EcrProgressCallback GetCallback() const { return m_notifier.GetCallback(); }
    void Notify(int event, const std::string& text, int percent, int value) {
        m_notifier.Notify(event, text, percent, value);
    }
    const CProgressNotifier& Notifier() const { return m_notifier; }

    void Break() { m_break.Set(); }
    void ClearBreak() { m_break.Clear(); }
    bool IsBroken() const { return m_break.IsSet(); }
    orv::platform::BreakSignal& BreakFlag() { return m_break; }

protected:
    CProgressNotifier m_notifier;
    orv::platform::BreakSignal m_break;
};
