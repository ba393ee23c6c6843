// Test firmware: a C-style workload (recursion, a jump table, function pointers, the heap,
// real arithmetic through the run-time services) and the results it must leave in memory.
#pragma once

#include <cstdint>

namespace korvane::test {

// What a compiler makes of a small C program: arguments and results in g0, locals in r3 and
// up (saved by the frames themselves), results written to global variables.
inline constexpr const char* kWorkload = R"(
    # int fib(int n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }
    mov 12, g0
    call fib
    st g0, res_fib

    # switch over a list of case numbers, through a jump table
    mov 0, g8                 # i
    mov 0, g9                 # acc
next_case:
    ld cases[g8*4], g1
    ld jump_table[g1*4], g2
    bx (g2)
case0:
    addo 1, g9, g9
    b end_case
case1:
    shlo 1, g9, g9
    b end_case
case2:
    addo 10, g9, g9
    b end_case
case3:
    subo 3, g9, g9
end_case:
    addo 1, g8, g8
    cmpobg 5, g8, next_case
    st g9, res_switch

    # apply a table of function pointers in turn: ((5 + 1) * 2)^2
    mov 5, g0
    mov 0, r3
apply:
    ld fptrs[r3*4], g5
    callx (g5)
    addo 1, r3, r3
    cmpobg 3, r3, apply
    st g0, res_fptr

    # heap: allocate three blocks, free the middle one, reuse it, reset
    lda 43, r10               # allocate
    lda 100, g0
    calls r10
    mov g6, r4
    lda 200, g0
    calls r10
    mov g6, r5
    lda 300, g0
    calls r10
    mov g6, r6
    lda 0x12345678, r7
    st r7, (r5)               # data survives in the block
    ld (r5), r8
    st r8, res_heap_data
    mov r5, g0
    callx 176                 # free
    lda 150, g0
    calls r10
    subo r5, g6, r9           # 0 when the freed block was reused
    st r9, res_heap_reuse
    subo r4, r6, r9
    st r9, res_heap_span      # a and c lie 308 + 208 bytes apart
    callx 152                 # reset
    callx 168                 # largest free block
    st g9, res_heap_largest

    # mean of four integers as a real, rounded: (3 + 4 + 5 + 7) / 4 = 4.75 -> 5
    mov 19, g0
    calls 26                  # int -> single
    lda 0x40800000, g1        # 4.0
    calls 24
    calls 27
    st g0, res_mean
    # the same in double precision, truncated: 19 / 4 -> 4
    mov 19, g0
    lda 62, r11
    calls r11                 # int -> double
    mov 0, g2
    lda 0x40100000, g3        # 4.0
    lda 60, r11
    calls r11
    lda 63, r11
    calls r11
    st g0, res_mean_double
    b snippet_end

fib:
    cmpibg 2, g0, fib_done    # n < 2: fib(n) = n
    mov g0, r3
    subo 1, r3, g0
    call fib
    mov g0, r4
    subo 2, r3, g0
    call fib
    addo r4, g0, g0
fib_done:
    ret

add_one:
    addo 1, g0, g0
    ret
twice:
    shlo 1, g0, g0
    ret
square:
    mulo g0, g0, g0
    ret

    .data
cases:      .word 2, 0, 1, 3, 1
jump_table: .word case0, case1, case2, case3
fptrs:      .word add_one, twice, square
res_fib:          .word 0
res_switch:       .word 0
res_fptr:         .word 0
res_heap_data:    .word 0
res_heap_reuse:   .word 1
res_heap_span:    .word 0
res_heap_largest: .word 0
res_mean:         .word 0
res_mean_double:  .word 0
    .text
)";

// The result words the workload writes, each with the value it must hold when the program ends.
struct WorkloadResult {
  const char* symbol;
  uint32_t want;
  const char* why;
};

inline constexpr WorkloadResult kWorkloadResults[] = {
    {"res_fib", 144, "fib(12) through 12 levels of frames"},
    {"res_switch", 38, "cases 2, 0, 1, 3, 1: ((10 + 1) * 2 - 3) * 2"},
    {"res_fptr", 144, "add_one, twice, square called through pointers"},
    {"res_heap_data", 0x12345678, "a word stored in a heap block reads back"},
    {"res_heap_reuse", 0, "first fit reuses the freed middle block"},
    {"res_heap_span", 316, "blocks of 100 and 200 bytes with their 8-byte headers"},
    {"res_heap_largest", 0x7FFF8, "reset makes one free block again"},
    {"res_mean", 5, "4.75 rounds half away from zero to 5"},
    {"res_mean_double", 4, "4.75 truncates to 4"},
};

}  // namespace korvane::test
