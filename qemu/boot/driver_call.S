/* Calls into the loaded driver, checking that the routine kept the 32-bit
 * Windows calling convention the system relies on: stdcall (the routine
 * removes its own arguments) and EBX, ESI, EDI and EBP preserved.
 *
 * ULONG CallDriverRoutine(const void* routine, const ULONG* arguments,
 *                         ULONG count, ULONG* broken)
 * pushes arguments[count-1] .. arguments[0], sets sentinels in the callee-saved
 * registers, calls the routine and returns its EAX. *broken gets
 *   1 when ESP after the return is not where a stdcall routine leaves it,
 *   2 when EBX, ESI or EDI changed, 4 when EBP changed (bits combined).
 * The caller's ESP and EBP are restored from memory whatever the routine did,
 * so that a broken routine is reported rather than taking the kernel down.
 * Calls nest (the driver calls a kernel routine that calls back into the
 * driver, as KeIpiGenericCall does): the outer call's saved ESP and EBP are
 * kept on its own stack while the inner one runs. */

    .set SENTINEL_EBX, 0x0B0B0B0B
    .set SENTINEL_ESI, 0x05150515
    .set SENTINEL_EDI, 0x0D1D0D1D
    .set SENTINEL_EBP, 0x0BEB0BEB

    .section .bss
    .align 4
saved_esp:
    .skip 4
saved_ebp:
    .skip 4
saved_result:
    .skip 4

    .section .text
    .globl CallDriverRoutine
    .type CallDriverRoutine, @function
CallDriverRoutine:
    push %ebp
    mov %esp, %ebp
    push %ebx
    push %esi
    push %edi
    pushl saved_ebp                       /* an outer call's, if any */
    pushl saved_esp
    mov %esp, saved_esp
    mov %ebp, saved_ebp
    mov 16(%ebp), %ecx                    /* count */
    mov 12(%ebp), %edx                    /* arguments */
push_next:
    test %ecx, %ecx
    jz pushed
    dec %ecx
    pushl (%edx,%ecx,4)
    jmp push_next
pushed:
    mov 8(%ebp), %eax
    mov $SENTINEL_EBX, %ebx
    mov $SENTINEL_ESI, %esi
    mov $SENTINEL_EDI, %edi
    mov $SENTINEL_EBP, %ebp
    cld
    call *%eax
    mov %eax, saved_result
    xor %ecx, %ecx
    cmp saved_esp, %esp
    je esp_kept
    or $1, %ecx
esp_kept:
    cmp $SENTINEL_EBX, %ebx
    jne registers_changed
    cmp $SENTINEL_ESI, %esi
    jne registers_changed
    cmp $SENTINEL_EDI, %edi
    je registers_kept
registers_changed:
    or $2, %ecx
registers_kept:
    cmp $SENTINEL_EBP, %ebp
    je frame_kept
    or $4, %ecx
frame_kept:
    mov saved_esp, %esp
    mov saved_ebp, %ebp
    mov 20(%ebp), %edx
    mov %ecx, (%edx)
    mov saved_result, %eax
    popl saved_esp
    popl saved_ebp
    pop %edi
    pop %esi
    pop %ebx
    pop %ebp
    ret
    .size CallDriverRoutine, . - CallDriverRoutine

    .section .note.GNU-stack, "", @progbits
