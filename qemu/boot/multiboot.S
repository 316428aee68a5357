/* Multiboot v1 entry of the bare-metal test kernel.
 * The loader leaves us in 32-bit protected mode, paging off, interrupts off,
 * with EAX = 0x2BADB002 and EBX = the physical address of the information
 * record. We load our own flat segments, clear .bss, set up a stack and call
 * KernelMain(magic, info). */

    .set MULTIBOOT_MAGIC, 0x1BADB002
    .set MULTIBOOT_FLAGS, 0x00000003      /* align modules, give memory info */

    .section .multiboot, "a"
    .align 4
    .long MULTIBOOT_MAGIC
    .long MULTIBOOT_FLAGS
    .long -(MULTIBOOT_MAGIC + MULTIBOOT_FLAGS)

    .section .bss
    .align 16
stack_bottom:
    .skip 65536
stack_top:

    .section .rodata
    .align 8
gdt:
    .quad 0x0000000000000000              /* null */
    .quad 0x00CF9A000000FFFF              /* 0x08: code, flat 4 GiB */
    .quad 0x00CF92000000FFFF              /* 0x10: data, flat 4 GiB */
gdt_end:
gdt_descriptor:
    .word gdt_end - gdt - 1
    .long gdt

    .section .text
    .globl _start
    .type _start, @function
_start:
    cli
    cld
    mov %eax, %esi                        /* keep magic and info across the set-up */
    mov %ebx, %edi
    lgdt gdt_descriptor
    ljmp $0x08, $reload_segments
reload_segments:
    mov $0x10, %cx
    mov %cx, %ds
    mov %cx, %es
    mov %cx, %fs
    mov %cx, %gs
    mov %cx, %ss
    mov $stack_top, %esp

    mov $__bss_start, %edx                /* the loader need not zero .bss */
clear_bss:
    cmp $__bss_end, %edx
    jae bss_clear
    movb $0, (%edx)
    inc %edx
    jmp clear_bss
bss_clear:
    /* The stack lies in .bss, which is now clear; nothing was pushed before. */
    push %edi
    push %esi
    call KernelMain
halt:
    cli
    hlt
    jmp halt
    .size _start, . - _start

    .section .note.GNU-stack, "", @progbits
