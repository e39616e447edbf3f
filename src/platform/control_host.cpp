#include "platform/control_host.h"

#include <atomic>

namespace orv::platform {

namespace {

std::atomic<ControlFactory*> g_factory{nullptr};

constexpr int kConnectionTextProperty = 30;

}  // namespace

void SetControlFactory(ControlFactory* factory) { g_factory.store(factory, std::memory_order_release); }

ControlFactory& GetControlFactory() {
    ControlFactory* f = g_factory.load(std::memory_order_acquire);
    return f ? *f : SystemControlFactory();
}

bool ControlWindow::Create(const std::string& classId, EcrWindow parent, int childId) {
    Destroy();
    DispatchRef created = GetControlFactory().Create(classId, parent, childId);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_control = std::move(created);
    return static_cast<bool>(m_control);
}

bool ControlWindow::PutProperty(int dispatchId, const std::string& value) {
    DispatchRef c = Control();
    return c && static_cast<HostedControl*>(c.get())->PutProperty(dispatchId, value);
}

void ControlWindow::Destroy() {
    DispatchRef gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        gone.swap(m_control);
    }
    if (gone) static_cast<HostedControl*>(gone.get())->WindowDestroyed();
}

bool ControlWindow::IsCreated() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<bool>(m_control);
}

DispatchRef ControlWindow::Control() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_control;
}

ControlWindow& FiscalControlWindow() {
    static ControlWindow window;
    return window;
}

bool CreateFiscalControl(EcrWindow parent) {
    ControlWindow& w = FiscalControlWindow();
    if (!w.Create(kFiscalControlClassId, parent, kFiscalControlChildId)) return false;
    w.PutProperty(kConnectionTextProperty, std::string());
    return true;
}

void DestroyFiscalControl() { FiscalControlWindow().Destroy(); }

}  // namespace orv::platform
