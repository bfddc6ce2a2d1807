; The debug adapter's test program: a counter in RAM that a subroutine, which calls another,
; adds one to, while the interrupts come and go.
COUNT   EQU 2100H

        ORG 0
        JMP START

        ORG 8
INTERRUPT:
        PUSH PSW
        POP PSW
        EI
        RET
        ORG 10H
        EI
        RET

START:  LXI SP,2400H
        EI
        LXI H,COUNT
LOOP:   LDA COUNT
        CALL ADD_ONE
        STA COUNT
        JMP LOOP

ADD_ONE:
        INR A
        CALL INNER
        RET

INNER:  NOP
        RET
