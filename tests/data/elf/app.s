@ A program in the flash sector after the boot monitor: vectors and code in flash, initialised
@ data copied to RAM at start-up (run address in RAM, load address in flash), zeroed data last.
    .syntax unified
    .arm
    .section .vectors, "ax"
    b reset
    b .
    b .
    .section .text
    .global reset
reset:
    ldr r0, =_data_load
    ldr r1, =_data_start
    ldr r2, =_data_end
copy:
    cmp r1, r2
    ldrlo r3, [r0], #4
    strlo r3, [r1], #4
    blo copy
    ldr r0, =counter
    ldr r1, [r0]
    add r1, r1, #1
    str r1, [r0]
    b reset
    .section .data
greeting:
    .word 0x11223344
    .ascii "initialised data"
    .section .bss
counter:
    .space 64
