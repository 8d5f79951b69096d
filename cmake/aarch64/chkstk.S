// __chkstk for Windows on ARM64, which Debian has no compiler runtime for;
// ombrin_arm64_toolchain (scripts/common.sh) builds it into libchkstk.a beside
// the C runtime, which needs it too. The compiler calls it before a function
// lowers its stack pointer by more than a page (the program's output buffer
// is 4 KiB): x15 holds the size in units of 16 bytes. Windows grows a
// thread's stack one guard page at a time, so every page between the stack
// pointer and the new bottom is read, from the top down. Only x16 and x17
// change; the caller lowers the stack pointer itself.
    .text
    .globl  __chkstk
    .p2align 2
__chkstk:
    lsl     x16, x15, #4        // the bytes to be allocated
    mov     x17, sp
1:
    sub     x17, x17, #4096     // the next page down
    subs    x16, x16, #4096
    ldr     xzr, [x17]          // a read is enough to move the guard page
    b.gt    1b
    ret
