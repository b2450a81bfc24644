// int __cdecl CallDecodeConfig(routine, text, out, outSize), i686.
//
// %ebp keeps the stack pointer from before the pushes. Both conventions
// preserve %ebp, so restoring %esp from it undoes the pushes whether the
// routine returned with `ret` (__cdecl) or `ret $12` (__stdcall). The stack
// is 16-byte aligned at the call, as GCC-built routines expect; routines
// built by Microsoft's compiler need only 4. Control Flow Guard checks the
// routine first, as the compiler does for every call through a pointer.
        .text
        .globl  _CallDecodeConfig
        .def    _CallDecodeConfig; .scl 2; .type 32; .endef
_CallDecodeConfig:
        .cfi_startproc
        pushl   %ebp
        .cfi_def_cfa_offset 8
        .cfi_offset %ebp, -8
        movl    %esp, %ebp
        .cfi_def_cfa_register %ebp
        movl    8(%ebp), %ecx   // the target, where the check takes it
        calll   *___guard_check_icall_fptr
        andl    $-16, %esp
        subl    $4, %esp
        pushl   20(%ebp)        // outSize
        pushl   16(%ebp)        // out
        pushl   12(%ebp)        // text
        call    *8(%ebp)        // routine; its result stays in %eax
        movl    %ebp, %esp
        popl    %ebp
        .cfi_def_cfa %esp, 4
        ret
        .cfi_endproc
