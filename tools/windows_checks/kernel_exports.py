"""The kernel routines a driver of this project may import, by architecture:
a closed list of names that the kernels it loads on export. A name outside the
list is either newer than the oldest of those kernels or not exported there at
all, and either stops the driver loading (the loader refuses an image whose
import it cannot resolve)."""

# 32-bit: what Windows XP's ntoskrnl.exe and hal.dll export (XP is the oldest
# system the 32-bit driver loads on).
X86 = frozenset('''
    HalGetBusData HalGetBusDataByOffset KfRaiseIrql KfLowerIrql KeGetCurrentIrql KeRaiseIrqlToDpcLevel
    IoCreateDevice IoDeleteDevice IoCreateSymbolicLink IoDeleteSymbolicLink IofCompleteRequest
    KeInitializeMutex KeReleaseMutex KeWaitForSingleObject MmMapIoSpace MmUnmapIoSpace RtlInitUnicodeString
    ObOpenObjectByPointer ZwSetSecurityObject ZwClose RtlCreateSecurityDescriptor RtlCreateAcl
    RtlAddAccessAllowedAce RtlSetDaclSecurityDescriptor RtlLengthSid SeExports MmGetPhysicalMemoryRanges
    ExFreePool ExFreePoolWithTag ExAllocatePoolWithTag READ_REGISTER_USHORT WRITE_REGISTER_USHORT
    READ_REGISTER_ULONG WRITE_REGISTER_ULONG MmGetSystemRoutineAddress
'''.split())

# 64-bit: what the x64 ntoskrnl.exe and hal.dll of Windows 7, 10 and 11 all
# export, for the routines this driver has a use for. On x64 the IRQL is CR8
# and the register accessors are plain volatile accesses in the DDK's
# headers: the x64 kernels export no KfRaiseIrql, KfLowerIrql or
# KeGetCurrentIrql, and no READ_/WRITE_REGISTER_* (ReactOS's ntoskrnl.spec,
# which follows Windows' exports, marks those i386 and arm only); the HAL's
# KeRaiseIrql and KeLowerIrql stubs are x86 only (Geoff Chappell, "HAL Thunk
# Functions"). mingw-w64's x86-64 libntoskrnl.a still lists KfRaiseIrql and
# KeGetCurrentIrql among others: importing one links, and the driver then
# fails to load. Every name below is a documented kernel routine that
# ReactOS's spec exports on x86_64 as well; the HAL's HalGetBusData and
# HalGetBusDataByOffset are obsolete but still exported by the x64 HAL.
X64 = frozenset('''
    HalGetBusData HalGetBusDataByOffset
    IoCreateDevice IoDeleteDevice IoCreateSymbolicLink IoDeleteSymbolicLink IofCompleteRequest
    KeInitializeMutex KeReleaseMutex KeWaitForSingleObject MmMapIoSpace MmUnmapIoSpace RtlInitUnicodeString
    ObOpenObjectByPointer ZwSetSecurityObject ZwClose RtlCreateSecurityDescriptor RtlCreateAcl
    RtlAddAccessAllowedAce RtlSetDaclSecurityDescriptor RtlLengthSid SeExports MmGetPhysicalMemoryRanges
    ExFreePool ExFreePoolWithTag ExAllocatePoolWithTag MmGetSystemRoutineAddress
'''.split())

LISTS = {
    'x86': (X86, 'Windows XP exports'),
    'x64': (X64, 'the x64 kernels of Windows 7, 10 and 11 export'),
}
