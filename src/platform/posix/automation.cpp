// Automation objects and hosted controls on POSIX systems: none exist, so
// the system's factories create nothing and threads need no preparing.
#include "platform/control_host.h"
#include "platform/dispatch.h"

namespace orv::platform {

namespace {

class NoAutomation : public AutomationFactory {
public:
    DispatchRef Create(const std::string&) override { return DispatchRef(); }
};

class NoControls : public ControlFactory {
public:
    DispatchRef Create(const std::string&, EcrWindow, int) override { return DispatchRef(); }
};

thread_local bool t_initialized = false;

}  // namespace

AutomationFactory& SystemAutomationFactory() {
    static NoAutomation none;
    return none;
}

ControlFactory& SystemControlFactory() {
    static NoControls none;
    return none;
}

bool InitializeDispatchForThread() {
    if (t_initialized) return false;
    t_initialized = true;
    return true;
}

}  // namespace orv::platform
