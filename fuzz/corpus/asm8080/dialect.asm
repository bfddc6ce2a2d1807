; the classic dialect: word operators, SET, conditions, macros, repetitions
        TITLE   'seed'
        .8080
        ASEG
WIDE    EQU     1
v       DEFL    0
fill    MACRO   address, byte
        LOCAL   again
        LXI     H,address
again:  MVI     M,byte
        IF      byte EQ 0
        EXITM
        ENDIF
        JNZ     again
        ENDM
count   MACRO   n
        IF      n GT 0
        DB      n
        count   %n-1
        ENDIF
        ENDM
jump    MACRO   cond
        J&cond  x&cond
x&cond:
        ENDM
        ORG     100H
start:  fill    2400H, 0FFH
        fill    <2400H + 32>, 0
        count   3
        jump    NZ
        IF      WIDE AND NOT 0
        MVI     A,HIGH start OR LOW 1234H SHL 1 MOD 7 XOR 1
        ELSE
        garbage ,,( 'not read
        ENDIF
        IFDEF   WIDE
        REPT    4
        REPT    2
v       SET     v + 1
        DB      v LT 3, v LE 3, v GE 3, v NE 3
        ENDM
        ENDM
        ENDIF
        IFNDEF  WIDE
        ERROR   'not met'
        ENDIF
        IRP     r, <B, D, H>
        PUSH    r
        ENDM
        IRPC    c, AZ
        DB      '&c'
        ENDM
        DS      4, 0EEH
        END     start
