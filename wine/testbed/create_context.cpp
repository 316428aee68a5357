// Built against the DDK headers (the IRP and the security context).
#include <ntddk.h>

#include "bed_log.h"
#include "create_context.h"
#include "kernel_rules/security_rules.h"
#include "open_access.h"

namespace {

PDRIVER_INITIALIZE driverEntry = NULL;
PDRIVER_DISPATCH driverCreate = NULL;

NTSTATUS NTAPI CreateWithContext(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    uint32_t access = 0;
    if (stack->Parameters.Create.SecurityContext != NULL) return driverCreate(device, irp);
    const ULONG pid = HandleToUlong(PsGetCurrentProcessId());
    if (!TakeAnnouncedOpen(pid, &access)) {
        BedLog("create by process %lx: no open announced, no security context", pid);
        return driverCreate(device, irp);
    }
    BedLog("create by process %lx: announced access %x", pid, access);
    // What was asked, and, as the grant, the same: the device's security
    // is not checked here (the bed's clients are administrators).
    ACCESS_STATE state;
    RtlZeroMemory(&state, sizeof state);
    state.OriginalDesiredAccess = kernel_rules::MapGenericForFiles(access);
    state.PreviouslyGrantedAccess = state.OriginalDesiredAccess;
    IO_SECURITY_CONTEXT context;
    RtlZeroMemory(&context, sizeof context);
    context.AccessState = &state;
    context.DesiredAccess = state.OriginalDesiredAccess;
    stack->Parameters.Create.SecurityContext = &context;
    // The request may be completed (and freed) inside: nothing of it is
    // touched after the call.
    return driverCreate(device, irp);
}

NTSTATUS NTAPI EntryThenWrapCreate(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    NTSTATUS status = driverEntry(driver, registryPath);
    if (NT_SUCCESS(status) && driver->MajorFunction[IRP_MJ_CREATE] != NULL &&
        driver->MajorFunction[IRP_MJ_CREATE] != CreateWithContext) {
        driverCreate = driver->MajorFunction[IRP_MJ_CREATE];
        driver->MajorFunction[IRP_MJ_CREATE] = CreateWithContext;
    }
    return status;
}

}  // namespace

void* WrapDriverEntry(void* entry) {
    PDRIVER_INITIALIZE routine = reinterpret_cast<PDRIVER_INITIALIZE>(entry);
    if (driverEntry != NULL && driverEntry != routine) return NULL;
    driverEntry = routine;
    return reinterpret_cast<void*>(&EntryThenWrapCreate);
}
