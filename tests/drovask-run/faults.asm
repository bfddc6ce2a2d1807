; Commits each fault that the runner's audit reports exactly once, each at a known address,
; with a harmless neighbour beside most of them, then waits with interrupts disabled.
        ORG 0000H
        LXI SP,2400H
        LXI H,0100H
        MVI A,55H
        JMP 0100H

        ORG 0100H
        STA 1000H               ; 0100: a store dropped outside RAM (1000H)
        STA 2000H               ; 0103: in RAM
        JMP 0110H

        ORG 0110H
        MOV M,A                 ; 0110: through HL into the ROM (0100H)
        LXI H,4000H
        JMP 0120H

        ORG 0120H
        MVI M,01H               ; 0120: through HL above RAM (4000H)
        LXI H,3FFFH
        MVI M,01H               ; 0125: in RAM
        JMP 0130H

        ORG 0130H
        IN 2                    ; 0130: a port that the machine ignores
        IN 1                    ; 0132
        OUT 5                   ; 0134: a port that the machine ignores
        OUT 4                   ; 0136
        JMP 0140H

        ORG 0140H
        LXI SP,4000H            ; 0140: an empty stack at the top of RAM is in order
        POP B                   ; 0143: SP leaves RAM (4002H)
        LXI SP,2000H            ; 0144: a full stack at the bottom of RAM is in order
        XRA A
        CNZ 0000H               ; 0148: not taken, so nothing is pushed
        LXI SP,2400H
        JMP 0160H

        ORG 0160H
WAIT:   JMP WAIT
