// Hosting of outside window controls (the fiscal printer's control): create
// one by its class id as a child of a host window, call it by dispatch id
// (platform/dispatch.h), destroy its window. No such control exists on this
// platform, so the default factory creates nothing; tests install their own
// factory.
#pragma once

#include <mutex>
#include <string>

#include "orvanta/ecr.h"
#include "platform/dispatch.h"

namespace orv::platform {

// One created control: an automation object with a window. Users other than
// the window may hold references; once the window is destroyed the control
// refuses every further call (WindowDestroyed).
class HostedControl : public DispatchObject {
public:
    // Puts a text property; false when the control refuses it.
    bool PutProperty(int dispatchId, const std::string& value) { return Put(dispatchId, Variant::Text(value)); }
    // The window is gone; called once by the window that created it.
    virtual void WindowDestroyed() {}
};

class ControlFactory {
public:
    virtual ~ControlFactory() = default;
    // A control (a HostedControl) of the class id under `parent` with the
    // child id, or null when none can be created.
    virtual DispatchRef Create(const std::string& classId, EcrWindow parent, int childId) = 0;
};

// Installs the factory used from now on; null restores the default, the
// system's own (none available on POSIX systems). The factory must outlive
// its use.
void SetControlFactory(ControlFactory* factory);
ControlFactory& SystemControlFactory();
ControlFactory& GetControlFactory();

// A control window that is created and destroyed as a whole.
class ControlWindow {
public:
    bool Create(const std::string& classId, EcrWindow parent, int childId);
    bool PutProperty(int dispatchId, const std::string& value);
    void Destroy();
    bool IsCreated() const;
    // A reference of the caller's own to the control (null when none).
    DispatchRef Control() const;

private:
    mutable std::mutex m_mutex;
    DispatchRef m_control;
};

// The fiscal printer's control (class id kFiscalControlClassId, child id
// 2002), one per process.
inline constexpr const char* kFiscalControlClassId = "{B4F82C16-873D-4120-9731-227DB4A13B0F}";
inline constexpr int kFiscalControlChildId = 2002;
ControlWindow& FiscalControlWindow();

// Creates the fiscal control under the window and clears its connection
// text (property 30); false when it cannot be created.
bool CreateFiscalControl(EcrWindow parent);
// Destroys the fiscal control window, if any.
void DestroyFiscalControl();

}  // namespace orv::platform
