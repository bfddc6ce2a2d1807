; A program that meets an instruction the processor does not implement.
        ORG 0000H
        LXI SP,2400H
        MVI A,0FFH
        STA 2400H               ; one lit byte, so something was running
        DB 08H                  ; not implemented: the machine must report it
        JMP 0000H
