// Progress notifier: fills the transport's event block, calls the host's
// progress callback and posts the window message when both a window and a
// message number are set.
#pragma once

#include <cstdint>
#include <string>

#include "orvanta/ecr.h"

class CProgressNotifier {
public:
    void SetWindow(EcrWindow window, uint32_t message);
    EcrWindow GetWindow() const { return m_window; }
    uint32_t GetMessage() const { return m_message; }
    void SetCallback(EcrProgressCallback cb) { m_callback = cb; }
    EcrProgressCallback GetCallback() const { return m_callback; }

    // text is CP1250; it is cut to 255 characters.
    void Notify(int event, const std::string& text, int percent, int value);
    const EcrEvent& Block() const { return m_block; }

private:
    EcrWindow m_window = nullptr;
    uint32_t m_message = 0;
    EcrProgressCallback m_callback = nullptr;
    EcrEvent m_block{};
};

namespace orv::platform {
// Window messages go through this hook (none posts anything by default).
using PostMessageHook = void (*)(EcrWindow window, uint32_t message, uintptr_t wparam, const void* lparam);
void SetPostMessageHook(PostMessageHook hook);
void PostWindowMessage(EcrWindow window, uint32_t message, uintptr_t wparam, const void* lparam);
}  // namespace orv::platform
