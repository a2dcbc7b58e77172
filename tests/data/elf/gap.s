@ Code and a table in flash with erased flash between them.
    .syntax unified
    .arm
    .section .text
    .global start
start:
    ldr r0, =table
    ldr r1, [r0]
    b start
    .section .table, "a"
table:
    .word 0xCAFEF00D, 0x01020304, 0xA5A5A5A5
