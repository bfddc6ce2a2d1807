; every directive once, a forward reference and an expression of each operator
size    EQU     end - start
        ORG     100H
start:  LXI     SP, stack
        MVI     A, LOW(size) + HIGH(1234H) * 2 / 3 % 5
        ANI     (1 << 4 | 2 ^ 3) & ~0 >> 1
        JMP     $
text:   DB      "it's", 'say ''hi''', 0, -1, 'A' + 1
table:  DW      start, text, -32768, 65535
        DS      16
stack:
end:    END
        NOP
