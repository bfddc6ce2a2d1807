; The debug adapter's test program: a counter in RAM that a subroutine, which calls another,
; adds one to; interrupts stay off.
COUNT   EQU 2100H

        ORG 0
        JMP START

        ORG 8
        RET                     ; the interrupts' vectors, never reached with interrupts off
        ORG 10H
        RET

START:  LXI SP,2400H
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
