// The process's handle table: files, devices, and the service manager's
// handles live side by side, each value given out once (a closed handle
// never becomes valid again, so a stale handle is caught, not aliased).
#ifndef STANDIN_WIN32_HANDLE_TABLE_H
#define STANDIN_WIN32_HANDLE_TABLE_H

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

namespace standin {

enum class HandleKind { File, Device, ServiceManager, Service };

// What a handle refers to. Objects are shared: a call in progress keeps its
// object alive while another thread closes the handle.
struct HandleObject {
    explicit HandleObject(HandleKind k) : kind(k) {}
    virtual ~HandleObject() = default;
    HandleObject(const HandleObject&) = delete;
    HandleObject& operator=(const HandleObject&) = delete;
    const HandleKind kind;
};

// Enters object and returns its new handle value.
HANDLE InsertHandle(std::shared_ptr<HandleObject> object);

// The object behind handle if it is one of kind, else null.
std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, HandleKind kind);

// Takes the handle out of the table and returns its object (null when the
// handle is not one of kind). The object goes when the caller lets go of it.
std::shared_ptr<HandleObject> RemoveHandle(HANDLE handle, HandleKind kind);

// Calls visit for every open object (under the table's lock: visit must not
// call back into the table).
void ForEachHandle(const std::function<void(HandleObject&)>& visit);

// Takes every handle of kind out of the table; returns their objects.
std::vector<std::shared_ptr<HandleObject>> RemoveAllHandles(HandleKind kind);

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle, HandleKind kind) {
    return std::static_pointer_cast<T>(LookupHandle(handle, kind));
}

}  // namespace standin

#endif
