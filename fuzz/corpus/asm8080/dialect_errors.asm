; faults of the dialect: each is reported, none hangs
self    MACRO
        self
        ENDM
        self
        ELSE
        ENDIF
        ENDM
        IF      later
        ENDIF
        REPT    0FFFFH
        ENDM
        REPT    3
        REPT    2
        NOP
        ENDM
        ENDM
        .Z80
        CSEG
open    MACRO   a, 1b
        IF 1
