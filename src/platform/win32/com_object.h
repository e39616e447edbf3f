// Automation objects of the system (COM): an IDispatch behind the library's
// DispatchObject, so callers reach both the same way (Win32).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "platform/dispatch.h"

namespace orv::platform::win32 {

// Wraps an IDispatch (adding a reference of its own); null stays null.
DispatchRef WrapDispatch(IDispatch* object);

// The IDispatch of a wrapped object (no reference added), or null for an
// object that is not one of the system's.
IDispatch* DispatchOf(DispatchObject* object);

// An in-process or local object of the class id ("{...}" text, or a
// programmatic id), or null.
DispatchRef CreateComObject(const std::string& classId);

// The class id of the text ("{...}" or a programmatic id); false when it
// names none.
bool ParseClassId(const std::string& classId, CLSID& out);

// COM for the calling thread (a single-threaded apartment, unless the thread
// already chose otherwise); true the first time on a thread.
bool InitializeComForThread();

}  // namespace orv::platform::win32
