// Progress notifier: one event block per transport, overwritten by every
// event; the host's callback gets the block's text, and a window message
// carries the block's address.
#include "comm/notifier.h"

#include <atomic>
#include <cstring>

#include "util/host_call.h"

void CProgressNotifier::SetWindow(EcrWindow window, uint32_t message) {
    m_window = window;
    m_message = message;
}

void CProgressNotifier::Notify(int event, const std::string& text, int percent, int value) {
    m_block.code = static_cast<uint32_t>(event);
    const size_t limit = sizeof(m_block.text) - 1;   // 255 characters
    const size_t n = text.size() < limit ? text.size() : limit;
    std::memset(m_block.text, 0, sizeof(m_block.text));
    std::memcpy(m_block.text, text.data(), n);
    m_block.text[limit] = 0;
    m_block.percent = static_cast<uint32_t>(percent);
    m_block.value = static_cast<uint32_t>(value);

    CallHost(m_callback, event, static_cast<const char*>(m_block.text), percent, value);

    if (m_window != nullptr && m_message != 0) {
        orv::platform::PostWindowMessage(m_window, m_message, static_cast<uintptr_t>(static_cast<uint32_t>(event)),
                                         &m_block);
    }
}

namespace orv::platform {

namespace {
std::atomic<PostMessageHook> g_postHook{nullptr};
}  // namespace

void SetPostMessageHook(PostMessageHook hook) { g_postHook.store(hook, std::memory_order_release); }

void PostWindowMessage(EcrWindow window, uint32_t message, uintptr_t wparam, const void* lparam) {
    // There are no windows here: without a hook nothing is posted.
    PostMessageHook hook = g_postHook.load(std::memory_order_acquire);
    if (hook != nullptr) hook(window, message, wparam, lparam);
}

}  // namespace orv::platform
