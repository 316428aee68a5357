/* Processor exceptions of the test kernel, and the way into ring 3.
 *
 * Every exception vector 0..31 enters TrapDispatch(TrapFrame*) on the ring-0
 * stack of the task state segment, with the vector and an error code (0 where
 * the processor pushes none) on the frame; TrapDispatch may change the saved
 * registers (an emulated port instruction's EAX, the EIP past it).
 *
 * void EnterRing3(void (*continuation)(void)): goes on at `continuation` in
 * ring 3 (user code 0x1B, user data 0x23) on the current stack, with IOPL 0
 * and interrupts off, so that port instructions are checked against the I/O
 * permission bitmap of the task state segment. */

    .macro TRAP_NO_ERROR vector
    .globl trap_\vector
trap_\vector:
    pushl $0
    pushl $\vector
    jmp trap_common
    .endm

    .macro TRAP_ERROR vector
    .globl trap_\vector
trap_\vector:
    pushl $\vector
    jmp trap_common
    .endm

    .section .text
    TRAP_NO_ERROR 0
    TRAP_NO_ERROR 1
    TRAP_NO_ERROR 2
    TRAP_NO_ERROR 3
    TRAP_NO_ERROR 4
    TRAP_NO_ERROR 5
    TRAP_NO_ERROR 6
    TRAP_NO_ERROR 7
    TRAP_ERROR 8
    TRAP_NO_ERROR 9
    TRAP_ERROR 10
    TRAP_ERROR 11
    TRAP_ERROR 12
    TRAP_ERROR 13
    TRAP_ERROR 14
    TRAP_NO_ERROR 15
    TRAP_NO_ERROR 16
    TRAP_ERROR 17
    TRAP_NO_ERROR 18
    TRAP_NO_ERROR 19

trap_common:
    pusha
    push %ds
    push %es
    mov $0x10, %ax
    mov %ax, %ds
    mov %ax, %es
    cld
    push %esp
    call TrapDispatch
    add $4, %esp
    pop %es
    pop %ds
    popa
    add $8, %esp
    iret

    .globl trap_vectors
    .section .rodata
    .align 4
trap_vectors:
    .long trap_0, trap_1, trap_2, trap_3, trap_4, trap_5, trap_6, trap_7
    .long trap_8, trap_9, trap_10, trap_11, trap_12, trap_13, trap_14, trap_15
    .long trap_16, trap_17, trap_18, trap_19

    .section .text
    .globl EnterRing3
    .type EnterRing3, @function
EnterRing3:
    mov 4(%esp), %eax
    mov %esp, %edx
    mov $0x23, %cx
    mov %cx, %ds
    mov %cx, %es
    mov %cx, %fs
    mov %cx, %gs
    pushl $0x23                           /* ss */
    pushl %edx                            /* esp */
    pushf
    andl $~0x3200, (%esp)                 /* IOPL 0, interrupts off */
    pushl $0x1B                           /* cs */
    pushl %eax                            /* eip */
    iret
    .size EnterRing3, . - EnterRing3

    .section .note.GNU-stack, "", @progbits
