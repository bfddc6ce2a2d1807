; Assembled at build time into fixture.bin and a C++ header; the test compares both with the
; image the library produces from this file.
        INCLUDE "fixture_defs.asm"
        ORG 0
        JMP main
        ORG 8
main:   MVI A,answer
        LXI H,text
        RST 1
text:   DB "built", 0
