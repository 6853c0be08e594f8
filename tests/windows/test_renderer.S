// The test renderer's plain and code-dependent exports, made from names.def:
// each puts its name's index in r10 and jumps to one recording routine.

#define BL_NAME(name, kind) test_export_##kind name, __COUNTER__

        .text

        .macro test_export_plain name, index
        .globl \name
        .def \name; .scl 2; .type 32; .endef
        .p2align 3
\name:
        movl $\index, %r10d
        jmp test_record
        .section .drectve
        .ascii " -export:\name"
        .text
        .endm
        .macro test_export_code name, index
        test_export_plain \name, \index
        .endm
        // Written in C++ (test_renderer.cpp).
        .macro test_export_message name, index
        .endm
        .macro test_export_numbered name, index
        .endm

#include "hostbind/names.def"

// Records the call in test_renderer_state (layout in test_renderer.h) and
// returns its set results. A leaf: it leaves the stack alone, so the return
// address is on top and the fifth argument at 40(%rsp), above the home area.
        .def test_record; .scl 3; .type 32; .endef
        .p2align 4
test_record:
        leaq test_renderer_state(%rip), %r11
        movq %r10, 0(%r11)
        movq %rcx, 8(%r11)
        movq %rdx, 16(%r11)
        movq %r8, 24(%r11)
        movq %r9, 32(%r11)
        movq %xmm0, 40(%r11)
        movq %xmm1, 48(%r11)
        movq %xmm2, 56(%r11)
        movq %xmm3, 64(%r11)
        .irp slot, 0, 1, 2, 3, 4, 5, 6, 7
        movq 40 + 8 * \slot(%rsp), %rax
        movq %rax, 72 + 8 * \slot(%r11)
        .endr
        lock incq 152(%r11, %r10, 8)
        movq 136(%r11), %rax
        movq 144(%r11), %xmm0
        ret
