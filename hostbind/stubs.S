// The plain forwarders: one stub per name of names.def marked plain, made
// by the preprocessor from that list. A stub passes any arguments and any
// result through without knowing its function's signature, as a delay-load
// thunk does:
//
//   fast path: load the table entry, test it, jump to it (the renderer
//              function then returns straight to the caller);
//   slow path: put the entry's index in r10 and jump to the shared routine,
//              which looks the name up and then jumps the same way.
//
// Win64 calling convention: arguments in rcx, rdx, r8, r9 and xmm0-xmm3,
// further ones on the stack above a 32-byte home area; r10 and r11 are free
// scratch registers at a call; results in rax or xmm0.

#define BL_NAME(name, kind) bl_forwarder_##kind name, __COUNTER__

        .text

        .macro bl_forwarder_plain name, index
        .globl \name
        .def \name; .scl 2; .type 32; .endef
        .p2align 4
\name:
        movq bl_binding_table + 8 * \index(%rip), %rax
        testq %rax, %rax
        jz 1f
        jmp *%rax
1:      movl $\index, %r10d
        jmp bl_forwarder_resolve
        .endm

        // Written in C++ (forwarders.cpp), as they read variable arguments.
        .macro bl_forwarder_message name, index
        .endm
        .macro bl_forwarder_numbered name, index
        .endm
        .macro bl_forwarder_code name, index
        .endm

#include "hostbind/names.def"

// The shared slow path. Entered by a jump from a stub, with the caller's
// return address on top of the stack and the entry's index in r10d.
//
// Frame, 136 bytes below the return address (which leaves rsp 16-aligned
// for the call):
//    0.. 31  home area for bl_resolve_binding
//   32.. 95  xmm0-xmm3, the floating-point arguments
//   96..127  rcx, rdx, r8, r9, the integer arguments
//  128..135  padding
// The arguments are kept above the home area: the callee may use its home
// area freely, so anything saved there would be lost.
//
// The unwind information lets stack walks and exceptions pass through a
// lookup in progress.
        .def bl_forwarder_resolve; .scl 3; .type 32; .endef
        .p2align 4
bl_forwarder_resolve:
        .seh_proc bl_forwarder_resolve
        subq $136, %rsp
        .seh_stackalloc 136
        movaps %xmm0, 32(%rsp)
        .seh_savexmm %xmm0, 32
        movaps %xmm1, 48(%rsp)
        .seh_savexmm %xmm1, 48
        movaps %xmm2, 64(%rsp)
        .seh_savexmm %xmm2, 64
        movaps %xmm3, 80(%rsp)
        .seh_savexmm %xmm3, 80
        .seh_endprologue
        movq %rcx, 96(%rsp)
        movq %rdx, 104(%rsp)
        movq %r8, 112(%rsp)
        movq %r9, 120(%rsp)

        movl %r10d, %ecx
        call bl_resolve_binding
        testq %rax, %rax
        jz 2f

        // Found: restore the arguments and go on as the fast path does.
        movq 96(%rsp), %rcx
        movq 104(%rsp), %rdx
        movq 112(%rsp), %r8
        movq 120(%rsp), %r9
        movaps 32(%rsp), %xmm0
        movaps 48(%rsp), %xmm1
        movaps 64(%rsp), %xmm2
        movaps 80(%rsp), %xmm3
        addq $136, %rsp
        // The REX.W form marks the jump as an epilogue's tail jump for the
        // unwinder.
        rex.W jmp *%rax

        // Not found (already reported): return zero as an integer and as a
        // floating-point result, and never call through null.
2:      xorl %eax, %eax
        xorps %xmm0, %xmm0
        addq $136, %rsp
        ret
        .seh_endproc
