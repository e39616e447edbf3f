#include "platform/control_host.h"

#include <atomic>

namespace orv::platform {

namespace {

class NoControls : public ControlFactory {
public:
    std::unique_ptr<HostedControl> Create(const std::string&, EcrWindow, int) override { return nullptr; }
};

NoControls g_noControls;
std::atomic<ControlFactory*> g_factory{nullptr};

constexpr int kConnectionTextProperty = 30;

}  // namespace

void SetControlFactory(ControlFactory* factory) { g_factory.store(factory, std::memory_order_release); }

ControlFactory& GetControlFactory() {
    ControlFactory* f = g_factory.load(std::memory_order_acquire);
    return f ? *f : g_noControls;
}

bool ControlWindow::Create(const std::string& classId, EcrWindow parent, int childId) {
    Destroy();
    m_control = GetControlFactory().Create(classId, parent, childId);
    return m_control != nullptr;
}

bool ControlWindow::PutProperty(int dispatchId, const std::string& value) {
    return m_control && m_control->PutProperty(dispatchId, value);
}

void ControlWindow::Destroy() { m_control.reset(); }

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
