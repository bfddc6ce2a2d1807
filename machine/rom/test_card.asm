; Test card: a fixed picture that exercises every part of the machine.
;
; Picture coordinates below are those of the upright picture: 224 columns (0 = left) by 256 rows
; (0 = top). Video line X is picture column X; pixel p of a line is picture row 255 - p, so the
; byte at VIDEO + 32*X + k holds rows 255-8k (bit 0) up to 248-8k (bit 7).
;
; What is drawn, and where:
;   Border     column 0, column 223, row 0 and row 255 are lit over their whole length, so the
;              four corner pixels (0,0), (223,0), (0,255), (223,255) are lit.
;   Input      one box for each bit n (0..7) of input port 1, bit 0 leftmost. The box for bit n
;              covers columns 24+24n .. 39+24n and rows 112..127. Its frame is always lit; its
;              interior, columns 25+24n .. 38+24n and rows 113..126, is lit exactly when bit n is
;              set and dark when it is clear. Redrawn continuously.
;   Counters   COUNT_RST1 (RAM 2000H, 16 bits) counts interrupts delivered at 0008H and
;              COUNT_RST2 (RAM 2002H) those at 0010H. Each is shown as 16 cells, bit 15 leftmost:
;              the cell for bit k covers columns 24+8(15-k) .. 29+8(15-k). Counter 1 uses rows
;              56..63, counter 2 rows 40..47. A set bit is a fully lit cell; a clear bit lights
;              only the cell's top and bottom rows. Each handler redraws its own counter.
;   Sprite     an 8 x 8 ring that bounces inside columns 8..215 and rows 152..239, moving one
;              pixel each way per RST 2 interrupt. Its vertical position is pixel exact: it is
;              placed with the shift register (OUT 2, OUT 4, IN 3).

        INCLUDE "machine.inc"   ; ports, memory map, reset and interrupt entries

LAST_LINE EQU 223               ; the last video line: the picture's right column

; ---------------------------------------------------------------------------------------------
; Layout of the picture
; ---------------------------------------------------------------------------------------------
BOX_FIRST_X   EQU 24
BOX_SPACING   EQU 24
BOX_WIDTH     EQU 16
BOX_BYTE      EQU 16            ; pixels 128..143 of a line: rows 112..127
BOX_EMPTY_LOW EQU 01H           ; interior of a clear box: bottom edge only...
BOX_EMPTY_HI  EQU 80H           ; ...and top edge only

COUNTER_X        EQU 24
CELL_SPACING     EQU 8
CELL_WIDTH       EQU 6
CELL_CLEAR       EQU 81H
CELL_SET         EQU 0FFH
COUNTER1_BYTE    EQU 24         ; pixels 192..199: rows 56..63
COUNTER2_BYTE    EQU 26         ; pixels 208..215: rows 40..47

SPRITE_X_MIN EQU 8
SPRITE_X_MAX EQU 208
SPRITE_Y_MIN EQU 16             ; pixel along the line (row 255 - y is the sprite's bottom)
SPRITE_Y_MAX EQU 96

; ---------------------------------------------------------------------------------------------
; Working RAM
; ---------------------------------------------------------------------------------------------
COUNT_RST1 EQU RAM + 0          ; 16-bit count of interrupts at 0008H
COUNT_RST2 EQU RAM + 2          ; 16-bit count of interrupts at 0010H
FRAME_DUE  EQU RAM + 4          ; set by the RST 2 handler, cleared by the main loop
SPRITE_X   EQU RAM + 5          ; sprite column (line); SPRITE_Y must follow it
SPRITE_Y   EQU RAM + 6          ; sprite pixel along the line
SPRITE_DX  EQU RAM + 7          ; +1 or -1
SPRITE_DY  EQU RAM + 8          ; +1 or -1

; ---------------------------------------------------------------------------------------------
; Start-up and main loop
; ---------------------------------------------------------------------------------------------

; Clears RAM and video memory, draws the fixed parts of the card, then loops: the input boxes
; are redrawn all the time, the sprite moves once per RST 2 interrupt.
START:  LXI SP,STACK_TOP
        LXI H,RAM
CLEAR:  MVI M,0
        INX H
        MOV A,H
        CPI HIGH(VIDEO_END)
        JNZ CLEAR

        CALL DRAW_BORDER
        MVI A,SPRITE_X_MIN
        STA SPRITE_X
        MVI A,SPRITE_Y_MIN
        STA SPRITE_Y
        MVI A,1
        STA SPRITE_DX
        STA SPRITE_DY
        LHLD COUNT_RST1         ; show both counters at zero before the first interrupt
        XCHG
        MVI C,COUNTER1_BYTE
        CALL DRAW_COUNTER
        LHLD COUNT_RST2
        XCHG
        MVI C,COUNTER2_BYTE
        CALL DRAW_COUNTER
        EI

MAIN:   IN PORT_INPUT
        CALL DRAW_INPUT
        LDA FRAME_DUE
        ORA A
        JZ MAIN
        XRA A
        STA FRAME_DUE
        CALL MOVE_SPRITE
        JMP MAIN

; ---------------------------------------------------------------------------------------------
; Interrupt handlers (registers were pushed at the entry)
; ---------------------------------------------------------------------------------------------

; RST 1: counts itself and redraws its counter.
ON_RST1:
        LHLD COUNT_RST1
        INX H
        SHLD COUNT_RST1
        XCHG
        MVI C,COUNTER1_BYTE
        CALL DRAW_COUNTER
        JMP END_INTERRUPT

; RST 2: counts itself, redraws its counter and lets the main loop move the sprite.
ON_RST2:
        LHLD COUNT_RST2
        INX H
        SHLD COUNT_RST2
        XCHG
        MVI C,COUNTER2_BYTE
        CALL DRAW_COUNTER
        MVI A,1
        STA FRAME_DUE
        ; fall through

; Restores the registers pushed at the entry and returns with interrupts enabled again.
END_INTERRUPT:
        POP H
        POP D
        POP B
        POP PSW
        EI
        RET

; ---------------------------------------------------------------------------------------------
; Drawing
; ---------------------------------------------------------------------------------------------

; HL = start of video line A (0..223). Changes A.
LINE_ADDRESS:
        MOV L,A
        MVI H,0
        DAD H
        DAD H
        DAD H
        DAD H
        DAD H
        MOV A,H
        ADI HIGH(VIDEO)
        MOV H,A
        RET

; Stores A in all 32 bytes from HL on; HL ends one line further. Changes B.
FILL_LINE:
        MVI B,LINE_BYTES
FL_NEXT:
        MOV M,A
        INX H
        DCR B
        JNZ FL_NEXT
        RET

; Lights the outermost column on each side and the outermost row at the top and the bottom.
DRAW_BORDER:
        LXI H,VIDEO
        MVI A,0FFH
        CALL FILL_LINE          ; column 0
        MVI C,LAST_LINE - 1
        LXI D,LINE_BYTES - 1
DB_LINE:
        MVI M,01H               ; pixel 0: the bottom row
        DAD D
        MVI M,80H               ; pixel 255: the top row
        INX H
        DCR C
        JNZ DB_LINE
        MVI A,0FFH
        JMP FILL_LINE           ; column 223

; Draws the eight boxes for the input byte in A, bit 0 leftmost.
DRAW_INPUT:
        MOV C,A
        MVI B,BOX_FIRST_X
DI_NEXT:
        MOV A,C
        RRC                     ; CY = the bit of this box
        MOV C,A
        MVI E,BOX_EMPTY_LOW
        MVI D,BOX_EMPTY_HI
        JNC DI_DRAW
        MVI E,0FFH
        MVI D,0FFH
DI_DRAW:
        MOV A,B
        CALL DRAW_BOX
        MOV A,B
        ADI BOX_SPACING
        MOV B,A
        CPI BOX_FIRST_X + 8 * BOX_SPACING
        JNZ DI_NEXT
        RET

; Draws one input box from column A: full edge columns, and E (lower byte) and D (upper byte)
; in the columns between them. Keeps B, C, D, E.
DRAW_BOX:
        PUSH B
        CALL LINE_ADDRESS
        MVI A,BOX_BYTE
        ORA L
        MOV L,A
        LXI B,LINE_BYTES - 1
        MVI M,0FFH              ; left edge
        INX H
        MVI M,0FFH
        DAD B
        MVI A,BOX_WIDTH - 2
DX_COLUMN:
        MOV M,E
        INX H
        MOV M,D
        DAD B
        DCR A
        JNZ DX_COLUMN
        MVI M,0FFH              ; right edge
        INX H
        MVI M,0FFH
        POP B
        RET

; Draws the 16-bit value DE as 16 cells in the byte row C of each line, bit 15 leftmost.
; DE ends as 0. Keeps C.
DRAW_COUNTER:
        MVI B,COUNTER_X
DC_BIT:
        MOV A,E                 ; DE shifts left; CY = the bit to show
        ADD A
        MOV E,A
        MOV A,D
        ADC A
        MOV D,A
        MVI A,CELL_CLEAR
        JNC DC_CELL
        MVI A,CELL_SET
DC_CELL:
        PUSH D
        MOV D,A
        MOV A,B
        CALL LINE_ADDRESS
        MOV A,L
        ORA C
        MOV L,A
        PUSH B
        LXI B,LINE_BYTES
        MVI E,CELL_WIDTH
DC_LINE:
        MOV M,D
        DAD B
        DCR E
        JNZ DC_LINE
        POP B
        POP D
        MOV A,B
        ADI CELL_SPACING
        MOV B,A
        CPI COUNTER_X + 16 * CELL_SPACING
        JNZ DC_BIT
        RET

; Draws the 8 x 8 pattern at DE with its left column at line B and its bottom at pixel C of the
; line, by shifting each pattern byte into place with the shift register. Writes two whole bytes
; per column, so drawing the blank pattern erases the sprite.
DRAW_SPRITE:
        MOV A,C
        ANI 7
        OUT PORT_SHIFT_AMOUNT
        MOV A,B
        CALL LINE_ADDRESS
        MOV A,C
        RRC
        RRC
        RRC
        ANI 1FH
        ORA L
        MOV L,A
        MVI B,8
DS_COLUMN:
        XRA A
        OUT PORT_SHIFT_DATA
        LDAX D
        OUT PORT_SHIFT_DATA     ; register = pattern byte followed by zeros
        IN PORT_SHIFT_RESULT    ; the part that stays in this byte
        MOV M,A
        INX H
        XRA A
        OUT PORT_SHIFT_DATA     ; register = zeros followed by the pattern byte
        IN PORT_SHIFT_RESULT    ; the part that spills into the byte above
        MOV M,A
        INX D
        MOV A,L                 ; next line, same byte
        ADI LINE_BYTES - 1
        MOV L,A
        MOV A,H
        ACI 0
        MOV H,A
        DCR B
        JNZ DS_COLUMN
        RET

; Erases the sprite, moves it one pixel each way, bouncing at the limits, and draws it again.
MOVE_SPRITE:
        LHLD SPRITE_X           ; L = x, H = y
        MOV B,L
        MOV C,H
        LXI D,BLANK
        CALL DRAW_SPRITE

        LDA SPRITE_DX
        MOV B,A
        LDA SPRITE_X
        ADD B
        STA SPRITE_X
        CPI SPRITE_X_MIN
        JZ MS_TURN_X
        CPI SPRITE_X_MAX
        JNZ MS_Y
MS_TURN_X:
        MOV A,B
        CMA
        INR A
        STA SPRITE_DX
MS_Y:
        LDA SPRITE_DY
        MOV B,A
        LDA SPRITE_Y
        ADD B
        STA SPRITE_Y
        CPI SPRITE_Y_MIN
        JZ MS_TURN_Y
        CPI SPRITE_Y_MAX
        JNZ MS_DRAW
MS_TURN_Y:
        MOV A,B
        CMA
        INR A
        STA SPRITE_DY
MS_DRAW:
        LHLD SPRITE_X
        MOV B,L
        MOV C,H
        LXI D,RING
        JMP DRAW_SPRITE

; ---------------------------------------------------------------------------------------------
; Data
; ---------------------------------------------------------------------------------------------

; One byte per column, left to right; bit 0 is the bottom pixel.
RING:   DB 3CH, 42H, 81H, 99H, 99H, 81H, 42H, 3CH
BLANK:  DB 0, 0, 0, 0, 0, 0, 0, 0
