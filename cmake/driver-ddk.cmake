# How QUORVENAL.sys compiles against mingw-w64's DDK headers, in one place.
# The driver's recipe (ioctl/sys/CMakeLists.txt) uses both lists; the QEMU
# bed's layout check (qemu_layout) compiles against the headers as the driver
# does, and the Wine bed's parts built on those headers take the first list.

# What any compile against those headers needs: mingw-w64's <intrin.h>
# already defines these two, and wdm.h would define them again.
set(QUORVENAL_DDK_HEADER_DEFINITIONS
  __INTRINSIC_DEFINED_InterlockedBitTestAndSet
  __INTRINSIC_DEFINED_InterlockedBitTestAndReset)

# Windows XP is the oldest system the driver loads on: its headers offer
# nothing newer. mingw-w64's wdm.h tests NTDDI_WINVISTA, which its
# sdkddkver.h never defines (an undefined name reads as 0, and then XP would
# get a Vista-only member).
set(QUORVENAL_DRIVER_DEFINITIONS
  _WIN32_WINNT=0x0501 NTDDI_VERSION=0x05010000 NTDDI_WINVISTA=0x06000000
  ${QUORVENAL_DDK_HEADER_DEFINITIONS})
