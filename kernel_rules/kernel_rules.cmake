# The kernel's rules, written once and compiled into every bed that runs the
# driver: the stand-in (host/kernel), the Wine bed's hal.dll (wine/testbed)
# and the QEMU bed's kernel (qemu/). Plain C++ that needs no C library, so
# that it compiles freestanding for the QEMU kernel too.
#  - KERNEL_RULES_SOURCES: the rules (IRQL, memory, security layouts) and the
#    fault record each bed turns into its verdict; headers need nothing but
#    <stddef.h> and <stdint.h>.
#  - KERNEL_RULES_SECURITY_ROUTINES: the kernel's Rtl security routines,
#    compiled against the bed's own <ntddk.h> (the Wine bed has Wine's).
# Include the top of the tree, so that "kernel_rules/..." names the headers.
set(KERNEL_RULES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KERNEL_RULES_SOURCES
  ${KERNEL_RULES_DIR}/fault.cpp
  ${KERNEL_RULES_DIR}/irql_rules.cpp
  ${KERNEL_RULES_DIR}/memory_rules.cpp
  ${KERNEL_RULES_DIR}/security_rules.cpp)
set(KERNEL_RULES_SECURITY_ROUTINES ${KERNEL_RULES_DIR}/security_routines.cpp)
