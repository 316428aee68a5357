// The stand-in kernel's object namespace and its device and driver records.
// Names are matched without regard to case; "\DosDevices\X" and
// "\GLOBAL??\X" are the same name as "\??\X".
#ifndef STANDIN_OBJECT_NAMESPACE_H
#define STANDIN_OBJECT_NAMESPACE_H

#include <ntddk.h>

#include <mutex>
#include <set>
#include <string>

#include "kernel/security.h"

namespace standin {

// A driver image in memory with its driver object.
struct LoadedDriver {
    void* image = nullptr;  // the module handle
    DRIVER_OBJECT object;
    std::wstring service;
    std::wstring driverName;       // "\Driver\<service>"
    std::wstring registryPath;     // the service's key
    std::set<std::wstring> links;  // made by DriverEntry; the unload must remove them
    bool unloadRequested = false;
};

struct DeviceRecord {
    PDEVICE_OBJECT object = nullptr;
    std::wstring name;  // as normalised; empty for an unnamed device
    LoadedDriver* driver = nullptr;
    int openFiles = 0;
    bool deleted = false;                               // IoDeleteDevice ran; freed when the last file closes
    DeviceSecurity security = DefaultDeviceSecurity();  // until the driver sets a DACL
};

// The lock that guards the namespace and every DeviceRecord.
std::mutex& NamespaceLock();

std::wstring NormaliseName(const std::wstring& name);
std::wstring FromUnicodeString(PCUNICODE_STRING text);

// All below: called with NamespaceLock held.
DeviceRecord* FindDeviceRecord(PDEVICE_OBJECT object);
// Follows links to a named device; null if the name leads nowhere.
DeviceRecord* ResolveDevice(const std::wstring& name);
// Parses a name as the object manager does, one component after another:
// a link met on the way is replaced by its target and parsing begins again;
// the first device met ends it, and what follows the device's name (in the
// caller's spelling, "" when nothing does) goes to *remaining. Null if the
// name leads to no device.
DeviceRecord* ResolveDevicePath(const std::wstring& name, std::wstring* remaining);
bool NameInUse(const std::wstring& normalisedName);
void InsertDevice(DeviceRecord* record);
void RemoveDeviceName(DeviceRecord* record);
// Frees the record and its device object.
void FreeDevice(DeviceRecord* record);
bool InsertLink(const std::wstring& normalisedLink, const std::wstring& normalisedTarget);
bool RemoveLink(const std::wstring& normalisedLink);
std::set<std::wstring> LinkNames();

}  // namespace standin

#endif
