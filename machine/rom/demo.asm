; DROVASK BRICKS: the machine's own game.
;
; Attract mode shows the title and a game played by the machine itself until a coin arrives.
; C adds a credit, Q starts one player, E two players who take turns. The paddle at the bottom
; moves with A and D, S launches the ball; every brick row has its own points; a missed ball
; costs one of three; a cleared wall brings a new wall and a faster ball. The high score lasts
; until the machine is switched off.
;
; Coordinates: a video line is one picture column, "x" (0 = left edge, 223 = right edge); a
; pixel along a line is "y" (0 = bottom edge, 255 = top edge). Byte k of a line holds y = 8k
; (bit 0) to 8k + 7 (bit 7). Moving right on the picture is moving to the next line (+32 bytes);
; moving up is moving to a higher bit, then to the next byte. Only the y position of a sprite
; needs the shift register; x positions are whole lines.
;
; Work is shared out like this:
;   RST 1 (0008H)  moves and draws the paddle.
;   RST 2 (0010H)  counts frames, moves and draws the ball, knocks out bricks and scores.
;   main loop      the game's states, text, walls; it waits for frames counted by RST 2.
; The ball is drawn with exclusive-or, through the shift register. Whatever else is drawn where
; the ball may be is drawn while the ball is off the screen: RST 2 erases it before it knocks
; out a brick, and PRINT, with interrupts held off around each character, takes it off and puts
; it back. So the shift register is never used by two routines at once.
;
; Scores are six BCD digits, lowest byte first. The points of a brick are a BCD byte whose low
; digit is 0 and which is at most 66H: see ADD_SCORE for why that keeps DAA exact here.

        INCLUDE "machine.inc"   ; ports, key bits, memory map, reset and interrupt entries

; =============================================================================================
; The picture
; =============================================================================================
WALL_LEFT_LINE  EQU 7           ; the side walls
WALL_RIGHT_LINE EQU 216
WALL_FIRST_BYTE EQU 2           ; side walls cover y 16..231
CEILING_BYTE    EQU 29          ; the ceiling is y 232
CEILING_BITS    EQU 01H
FIELD_LEFT      EQU 8           ; first line inside the walls

PADDLE_BYTE    EQU 2            ; the paddle is y 16..19
PADDLE_BITS    EQU 0FH
PADDLE_WIDTH   EQU 24
PADDLE_X_MIN   EQU FIELD_LEFT
PADDLE_X_MAX   EQU WALL_RIGHT_LINE - PADDLE_WIDTH
PADDLE_START   EQU 96
PADDLE_STEP    EQU 3            ; lines per RST 1 interrupt

BALL_SIZE      EQU 4            ; the ball is 4 x 4 pixels from (BALL_X, BALL_Y) up and right
BALL_X_MIN     EQU FIELD_LEFT
BALL_X_MAX     EQU WALL_RIGHT_LINE - BALL_SIZE
BALL_Y_MIN     EQU 20           ; resting on the paddle
BALL_Y_MAX     EQU 228          ; touching the ceiling
BALL_ON_PADDLE EQU 10           ; x of a held ball relative to the paddle

BRICK_ROWS     EQU 5
BRICK_COLUMNS  EQU 13
BRICK_COUNT    EQU BRICK_ROWS * BRICK_COLUMNS
BRICK_WIDTH    EQU 16           ; 15 lit lines and a gap
BRICK_TOP_BYTE EQU 26           ; row 0 is y 208..215, row 4 is y 176..183
BRICK_Y_LOW    EQU 8 * (BRICK_TOP_BYTE - BRICK_ROWS + 1)
BRICK_Y_HIGH   EQU 8 * (BRICK_TOP_BYTE + 1)

; Text rows, as the byte of a line that they occupy, and text columns (8 lines each).
TEXT_HEADER    EQU 31           ; picture rows 0..7
TEXT_SCORES    EQU 30           ; picture rows 8..15
TEXT_TITLE     EQU 17
TEXT_PROMPT    EQU 13
TEXT_PROMPT_2  EQU 11
TEXT_STATUS    EQU 0            ; picture rows 248..255
SCORE1_COLUMN  EQU 1
HISCORE_COLUMN EQU 11
SCORE2_COLUMN  EQU 21
BALLS_COLUMN   EQU 7
CREDIT_COLUMN  EQU 26

; =============================================================================================
; Rules
; =============================================================================================
BALLS_PER_GAME  EQU 3
MAX_CREDITS     EQU 9
BASE_SPEED      EQU 3           ; ball steps per frame on the first wall
MAX_SPEED       EQU 6
DEMO_FRAMES     EQU 0600H       ; length of one attract cycle
LOST_PAUSE      EQU 60          ; frames after a missed ball
GAME_OVER_PAUSE EQU 180

MODE_IDLE  EQU 0                ; nothing moves
MODE_DEMO  EQU 1                ; the machine plays
MODE_PLAY  EQU 2                ; a player plays

BALL_NONE   EQU 0
BALL_HELD   EQU 1               ; sitting on the paddle until S
BALL_MOVING EQU 2

EVENT_LOST    EQU 01H           ; set by RST 2, taken by the main loop
EVENT_CLEARED EQU 02H
EVENT_SCORED  EQU 04H

; =============================================================================================
; Working RAM (fixed addresses: diagnostics read them)
; =============================================================================================
FRAME_COUNT    EQU RAM + 0      ; +1 at every RST 2
PREV_INPUT     EQU RAM + 1      ; the controls at the last look, for new presses
CREDITS        EQU RAM + 2      ; 0..9
MODE           EQU RAM + 3
PLAYERS        EQU RAM + 4      ; 1 or 2
CUR_PLAYER     EQU RAM + 5      ; 0 or 1
EVENTS         EQU RAM + 6
BALL_STATE     EQU RAM + 7
BALL_X         EQU RAM + 8      ; BALL_Y must follow
BALL_Y         EQU RAM + 9
BALL_DX        EQU RAM + 10     ; -2..2, lines per step
BALL_DY        EQU RAM + 11     ; -1 or 1, pixels per step
BALL_SHOWN     EQU RAM + 12     ; the ball is on the screen at BALL_DRAWN_X, BALL_DRAWN_Y
BALL_DRAWN_X   EQU RAM + 13
BALL_DRAWN_Y   EQU RAM + 14
PADDLE_X       EQU RAM + 15     ; leftmost line of the paddle
PADDLE_DRAWN_X EQU RAM + 16
DEMO_TURN      EQU RAM + 17     ; index into DEMO_OFFSETS
DEMO_OFFSET    EQU RAM + 18     ; where the machine's paddle meets the ball
TIMER          EQU RAM + 19     ; 16 bits: frames into the attract cycle
SCORE1         EQU RAM + 21     ; 3 BCD bytes, lowest first
SCORE2         EQU RAM + 24
HISCORE        EQU RAM + 27
BALLS1         EQU RAM + 30     ; balls left; BALLS2 must follow
BALLS2         EQU RAM + 31
SPEED          EQU RAM + 32     ; ball steps per frame
MESSAGE_UP     EQU RAM + 33     ; a message is in the middle of the field
GLYPH_COLUMNS  EQU RAM + 40     ; 8 bytes: the character being drawn, one byte per line
TEXT_BUFFER    EQU RAM + 48     ; 16 bytes: text built at run time

; The wall of the player at play. Each player keeps one while the other plays.
ACTIVE         EQU RAM + 64
LEVEL          EQU ACTIVE + 0   ; walls cleared
BRICKS_LEFT    EQU ACTIVE + 1
WALL           EQU ACTIVE + 2   ; one byte per brick, row by row from the top: 1 = standing
RECORD_SIZE    EQU 2 + BRICK_COUNT
SAVED1         EQU ACTIVE + RECORD_SIZE
SAVED2         EQU SAVED1 + RECORD_SIZE

FONT_COLUMNS   EQU SAVED2 + RECORD_SIZE  ; the font as columns, made at start-up: 8 bytes a glyph
STACK_LIMIT    EQU FONT_COLUMNS + 8 * FONT_GLYPHS  ; the stack needs far less than what is left

; =============================================================================================
; Fixed entry points, after the machine's reset and interrupt entries
; =============================================================================================
        ORG 0018H               ; fixed addresses for diagnostics
ENTRY_ADD_SCORE:
        JMP ADD_SCORE           ; 0018H: the score addition
FONT_ADDRESS:
        DW FONT                 ; 001BH: where the font is

; =============================================================================================
; Start-up and attract mode
; =============================================================================================

; Clears RAM and video memory, prepares the font and enters attract mode with interrupts on.
START:  LXI SP,STACK_TOP
        LXI H,RAM
ST_CLEAR:
        MVI M,0
        INX H
        MOV A,H
        CPI HIGH(VIDEO_END)
        JNZ ST_CLEAR
        CALL BUILD_FONT
        EI

; Title, prompt and a game played by the machine, until a player starts or the cycle ends.
ATTRACT:
        CALL RESET_SCREEN
        LXI H,ACTIVE
        CALL FRESH_RECORD
        CALL DRAW_WALL
        CALL SET_SPEED
        LXI H,TITLE_TEXT
        CALL PRINT
        CALL SHOW_PROMPT
        CALL SERVE
        LXI H,0
        SHLD TIMER
        MVI A,MODE_DEMO
        STA MODE
AT_LOOP:
        CALL WAIT_FRAME
        CALL POLL_COIN
        IN PORT_INPUT
        MOV B,A
        LDA CREDITS
        MOV C,A
        ORA A
        JZ AT_DEMO
        MOV A,B
        ANI KEY_ONE
        MVI A,1
        JNZ AT_START
        MOV A,B
        ANI KEY_TWO
        JZ AT_DEMO
        MOV A,C
        CPI 2
        JC AT_DEMO
        MVI A,2
AT_START:
        STA PLAYERS
        JMP NEW_GAME
AT_DEMO:
        CALL TAKE_EVENTS        ; a missed ball or a cleared wall starts the cycle again
        MOV A,B
        ORA A
        JNZ ATTRACT
        LHLD TIMER
        INX H
        SHLD TIMER
        MOV A,H
        CPI HIGH(DEMO_FRAMES)
        JC AT_LOOP
        JMP ATTRACT

; Shows what a coin has made possible: insert a coin, or the start keys that credits allow.
SHOW_PROMPT:
        LDA CREDITS
        ORA A
        LXI H,INSERT_COIN_TEXT
        JZ SP_FIRST
        LXI H,ONE_PLAYER_TEXT
SP_FIRST:
        CALL PRINT
        LDA CREDITS
        CPI 2
        LXI H,TWO_PLAYERS_TEXT
        JNC SP_SECOND
        LXI H,BLANK_PROMPT_2
SP_SECOND:
        JMP PRINT

; Adds a credit for a new press of the coin key (up to MAX_CREDITS) and shows it.
POLL_COIN:
        IN PORT_INPUT
        MOV B,A
        LDA PREV_INPUT
        CMA
        ANA B                   ; keys pressed since the last look
        MOV C,A
        MOV A,B
        STA PREV_INPUT
        MOV A,C
        ANI KEY_COIN
        RZ
        LDA CREDITS
        CPI MAX_CREDITS
        RNC
        INR A
        STA CREDITS
        CALL SHOW_CREDITS
        LDA MODE
        CPI MODE_DEMO
        RNZ
        JMP SHOW_PROMPT

; =============================================================================================
; A game
; =============================================================================================

; Takes the credits, clears the scores and gives each player three balls and a full wall.
NEW_GAME:
        LDA PLAYERS
        MOV B,A
        LDA CREDITS
        SUB B
        STA CREDITS
        LXI H,SCORE1
        MVI B,6                 ; SCORE1 and SCORE2
        XRA A
NG_ZERO:
        MOV M,A
        INX H
        DCR B
        JNZ NG_ZERO
        STA CUR_PLAYER
        MVI A,BALLS_PER_GAME
        STA BALLS1
        STA BALLS2
        LDA PLAYERS
        CPI 2
        JZ NG_WALLS
        XRA A
        STA BALLS2              ; nobody is there to take the second turn
NG_WALLS:
        LXI H,SAVED1
        CALL FRESH_RECORD
        LXI H,SAVED2
        CALL FRESH_RECORD

; One turn of the current player: their wall, their score, a ball on the paddle.
TURN:
        CALL RESET_SCREEN
        CALL RECORD_OF_PLAYER
        LXI D,ACTIVE
        CALL COPY_RECORD
        CALL DRAW_WALL
        CALL SET_SPEED
        CALL SHOW_BALLS
        LDA CUR_PLAYER
        ORA A
        LXI H,PLAYER1_TEXT
        JZ TN_MESSAGE
        LXI H,PLAYER2_TEXT
TN_MESSAGE:
        CALL PRINT
        MVI A,1
        STA MESSAGE_UP
        CALL SERVE
        MVI A,MODE_PLAY
        STA MODE

; Runs once per frame while the ball is in play, acting on what RST 2 reports.
PLAY_LOOP:
        CALL WAIT_FRAME
        CALL POLL_COIN
        CALL TAKE_EVENTS
        MOV A,B
        ANI EVENT_SCORED
        JZ PL_MESSAGE
        PUSH B
        CALL SHOW_SCORES
        POP B
PL_MESSAGE:
        LDA MESSAGE_UP          ; the turn's message goes once the ball is launched
        ORA A
        JZ PL_CLEARED
        LDA BALL_STATE
        CPI BALL_MOVING
        JNZ PL_CLEARED
        PUSH B
        LXI H,BLANK_MESSAGE
        CALL PRINT
        POP B
        XRA A
        STA MESSAGE_UP
PL_CLEARED:
        MOV A,B
        ANI EVENT_CLEARED
        JZ PL_LOST
        LXI H,LEVEL             ; RST 2 has put the ball back on the paddle
        INR M
        LXI H,ACTIVE
        CALL NEW_WALL
        CALL DRAW_WALL
        CALL SET_SPEED
        JMP PLAY_LOOP
PL_LOST:
        MOV A,B
        ANI EVENT_LOST
        JZ PLAY_LOOP
        XRA A
        STA MODE
        CALL PLAYER_BALLS
        DCR M
        CALL SHOW_BALLS
        CALL RECORD_OF_PLAYER   ; keep this player's wall for their next turn
        XCHG
        LXI H,ACTIVE
        CALL COPY_RECORD
        MVI B,LOST_PAUSE
        CALL WAIT_FRAMES
        LDA CUR_PLAYER          ; the other player if they have balls left...
        XRI 1
        STA CUR_PLAYER
        CALL PLAYER_BALLS
        MOV A,M
        ORA A
        JNZ TURN
        LDA CUR_PLAYER          ; ...else the same player...
        XRI 1
        STA CUR_PLAYER
        CALL PLAYER_BALLS
        MOV A,M
        ORA A
        JNZ TURN
        LXI H,GAME_OVER_TEXT    ; ...else the game is over
        CALL PRINT
        MVI B,GAME_OVER_PAUSE
        CALL WAIT_FRAMES
        JMP ATTRACT

; Puts the paddle in the middle and the ball on it.
SERVE:
        MVI A,PADDLE_START
        STA PADDLE_X
        CALL PLACE_ON_PADDLE
        MVI A,BALL_HELD
        STA BALL_STATE
        RET

; SPEED = BASE_SPEED + LEVEL, at most MAX_SPEED.
SET_SPEED:
        LDA LEVEL
        CPI MAX_SPEED - BASE_SPEED
        JC SS_STORE
        MVI A,MAX_SPEED - BASE_SPEED
SS_STORE:
        ADI BASE_SPEED
        STA SPEED
        RET

; B = the events RST 2 has reported since the last call; they are cleared.
TAKE_EVENTS:
        DI
        LDA EVENTS
        MOV B,A
        XRA A
        STA EVENTS
        EI
        RET

; Waits until RST 2 has counted another frame. Changes A, B.
WAIT_FRAME:
        LDA FRAME_COUNT
        MOV B,A
WF_WAIT:
        LDA FRAME_COUNT
        CMP B
        JZ WF_WAIT
        RET

; Waits for B frames.
WAIT_FRAMES:
        PUSH B
        CALL WAIT_FRAME
        POP B
        DCR B
        JNZ WAIT_FRAMES
        RET

; =============================================================================================
; Players
; =============================================================================================

; HL = the current player's score.
CURRENT_SCORE:
        LDA CUR_PLAYER
        LXI H,SCORE1
        ORA A
        RZ
        LXI H,SCORE2
        RET

; HL = the current player's count of balls left.
PLAYER_BALLS:
        LDA CUR_PLAYER
        LXI H,BALLS1
        ORA A
        RZ
        INX H
        RET

; HL = the current player's saved wall.
RECORD_OF_PLAYER:
        LDA CUR_PLAYER
        LXI H,SAVED1
        ORA A
        RZ
        LXI H,SAVED2
        RET

; Copies a wall record from HL to DE.
COPY_RECORD:
        MVI B,RECORD_SIZE
CR_BYTE:
        MOV A,M
        STAX D
        INX H
        INX D
        DCR B
        JNZ CR_BYTE
        RET

; Makes the record at HL a first wall: level 0, every brick standing.
FRESH_RECORD:
        MVI M,0
        ; fall through

; Stands every brick of the record at HL again; its level stays.
NEW_WALL:
        INX H
        MVI M,BRICK_COUNT
        INX H
        MVI B,BRICK_COUNT
NW_BRICK:
        MVI M,1
        INX H
        DCR B
        JNZ NW_BRICK
        RET

; =============================================================================================
; Scores
; =============================================================================================

; Adds the points in A (BCD) to the six-digit BCD score at HL, lowest byte first. Changes A, H, L.
;
; This processor's DAA adds 6 to the low digit only when that digit is above 9 (it never sees an
; auxiliary carry from the addition), and it takes the carry from its own adjustment only, so a
; carry out of the binary addition itself is lost. Both are avoided by the points allowed: their
; low digit is 0, so the low digit never passes 9, and they are at most 66H, so score byte plus
; points stays below 100H; DAA then sets the carry exactly when the decimal sum passes 99. The
; higher bytes only ever receive a carry of 1, whose sum never passes 9AH. ANA A first clears AC,
; which a POP PSW may have set.
ADD_SCORE:
        ANA A
        ADD M
        DAA
        MOV M,A
        INX H
        MOV A,M
        ACI 0
        DAA
        MOV M,A
        INX H
        MOV A,M
        ACI 0
        DAA
        MOV M,A
        RET

; Makes the score at HL the high score if it beats it. Keeps HL.
UPDATE_HISCORE:
        PUSH H
        INX H
        INX H
        LXI D,HISCORE + 2
        MVI B,3
UH_BYTE:                        ; compare from the highest byte down
        LDAX D
        CMP M
        JC UH_COPY
        JNZ UH_KEEP
        DCX H
        DCX D
        DCR B
        JNZ UH_BYTE
UH_KEEP:
        POP H
        RET
UH_COPY:
        POP H
        PUSH H
        LXI D,HISCORE
        MVI B,3
UH_COPY_BYTE:
        MOV A,M
        STAX D
        INX H
        INX D
        DCR B
        JNZ UH_COPY_BYTE
        POP H
        RET

; Updates the high score and shows the three scores.
SHOW_SCORES:
        CALL CURRENT_SCORE
        CALL UPDATE_HISCORE
        LXI H,SCORE1
        MVI C,SCORE1_COLUMN
        CALL PRINT_SCORE
        LXI H,HISCORE
        MVI C,HISCORE_COLUMN
        CALL PRINT_SCORE
        LXI H,SCORE2
        MVI C,SCORE2_COLUMN
        ; fall through

; Prints the score at HL as six digits in the score row, from text column C.
PRINT_SCORE:
        XCHG
        LXI H,TEXT_BUFFER
        MOV M,C
        INX H
        MVI M,TEXT_SCORES
        INX H
        INX D
        INX D
        MVI B,3
PS_BYTE:                        ; highest byte first, high digit first
        LDAX D
        RRC
        RRC
        RRC
        RRC
        ANI 0FH
        ADI '0'
        MOV M,A
        INX H
        LDAX D
        ANI 0FH
        ADI '0'
        MOV M,A
        INX H
        DCX D
        DCR B
        JNZ PS_BYTE
        MVI M,0
        LXI H,TEXT_BUFFER
        JMP PRINT

; Prints the digit A in text column C of text row B.
PRINT_DIGIT:
        LXI H,TEXT_BUFFER
        MOV M,C
        INX H
        MOV M,B
        INX H
        ADI '0'
        MOV M,A
        INX H
        MVI M,0
        LXI H,TEXT_BUFFER
        JMP PRINT

; Shows the current player's balls left.
SHOW_BALLS:
        LXI H,BALLS_TEXT
        CALL PRINT
        CALL PLAYER_BALLS
        MOV A,M
        MVI C,BALLS_COLUMN
        MVI B,TEXT_STATUS
        JMP PRINT_DIGIT

; Shows the credits.
SHOW_CREDITS:
        LDA CREDITS
        MVI C,CREDIT_COLUMN
        MVI B,TEXT_STATUS
        JMP PRINT_DIGIT

; =============================================================================================
; Interrupt handlers (the entries have pushed every register)
; =============================================================================================

; RST 1: the paddle.
ON_RST1:
        LDA MODE
        ORA A
        JZ END_INTERRUPT
        CALL MOVE_PADDLE
        CALL DRAW_PADDLE
        JMP END_INTERRUPT

; RST 2: the frame count, then the ball: off the screen, moved, back on.
ON_RST2:
        LXI H,FRAME_COUNT
        INR M
        LDA MODE
        ORA A
        JZ END_INTERRUPT
        CALL ERASE_BALL
        LDA BALL_STATE
        CPI BALL_HELD
        CZ HOLD_BALL
        LDA BALL_STATE
        CPI BALL_MOVING
        CZ MOVE_BALL
        CALL DRAW_BALL
        ; fall through

; Restores the registers pushed at the entry and returns with interrupts on again.
END_INTERRUPT:
        POP H
        POP D
        POP B
        POP PSW
        EI
        RET

; =============================================================================================
; The paddle (RST 1)
; =============================================================================================

; Moves the paddle by the controls, or after the ball when the machine plays.
MOVE_PADDLE:
        LDA MODE
        CPI MODE_DEMO
        JZ AUTO_PADDLE
        IN PORT_INPUT
        MOV B,A
        LDA PADDLE_X
        MOV C,A
        MOV A,B
        ANI KEY_LEFT
        JZ MP_RIGHT
        MOV A,C
        SUI PADDLE_STEP
        CPI PADDLE_X_MIN
        JNC MP_LEFT_DONE
        MVI A,PADDLE_X_MIN
MP_LEFT_DONE:
        MOV C,A
MP_RIGHT:
        MOV A,B
        ANI KEY_RIGHT
        JZ MP_STORE
        MOV A,C
        ADI PADDLE_STEP
        CPI PADDLE_X_MAX + 1
        JC MP_RIGHT_DONE
        MVI A,PADDLE_X_MAX
MP_RIGHT_DONE:
        MOV C,A
MP_STORE:
        MOV A,C
        STA PADDLE_X
        RET

; The machine's paddle: BALL_X - DEMO_OFFSET, kept inside the walls.
AUTO_PADDLE:
        LDA DEMO_OFFSET
        MOV B,A
        LDA BALL_X
        SUB B
        JC AP_LEFT
        CPI PADDLE_X_MIN
        JC AP_LEFT
        CPI PADDLE_X_MAX + 1
        JC AP_STORE
        MVI A,PADDLE_X_MAX
        JMP AP_STORE
AP_LEFT:
        MVI A,PADDLE_X_MIN
AP_STORE:
        STA PADDLE_X
        RET

; Clears the paddle where it was drawn and draws it at PADDLE_X. Only the paddle's own bits
; are touched, so the ball above it is left alone.
DRAW_PADDLE:
        LXI D,LINE_BYTES
        LDA PADDLE_DRAWN_X
        CALL PADDLE_ADDRESS
        MVI B,PADDLE_WIDTH
DP_CLEAR:
        MOV A,M
        ANI PADDLE_BITS ^ 0FFH
        MOV M,A
        DAD D
        DCR B
        JNZ DP_CLEAR
        LDA PADDLE_X
        STA PADDLE_DRAWN_X
        CALL PADDLE_ADDRESS
        MVI B,PADDLE_WIDTH
DP_SET:
        MOV A,M
        ORI PADDLE_BITS
        MOV M,A
        DAD D
        DCR B
        JNZ DP_SET
        RET

; HL = the paddle's byte in line A.
PADDLE_ADDRESS:
        CALL LINE_ADDRESS
        MVI A,PADDLE_BYTE
        ORA L
        MOV L,A
        RET

; =============================================================================================
; The ball (RST 2)
; =============================================================================================

; Takes the ball off the screen if it is on.
ERASE_BALL:
        LDA BALL_SHOWN
        ORA A
        RZ
        XRA A
        STA BALL_SHOWN
        LHLD BALL_DRAWN_X
        JMP XOR_BALL

; Puts the ball on the screen at BALL_X, BALL_Y unless there is none.
DRAW_BALL:
        LDA BALL_STATE
        ORA A
        RZ
        LHLD BALL_X
        SHLD BALL_DRAWN_X
        MVI A,1
        STA BALL_SHOWN
        ; fall through

; Inverts the ball's pixels at line L, pixel H.
XOR_BALL:
        MOV B,L
        MOV C,H
        LXI D,BALL_SPRITE
        MVI A,BALL_SIZE
        ; fall through

; Inverts the pixels of a sprite of A columns at DE (one byte per column, bit 0 lowest) with
; its left column at line B and its bottom at pixel C, shifted into place with the shift
; register. Two bytes are changed per column.
XOR_SPRITE:
        PUSH PSW
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
        POP PSW
        MOV B,A
XS_COLUMN:
        XRA A
        OUT PORT_SHIFT_DATA
        LDAX D
        OUT PORT_SHIFT_DATA     ; the register holds the sprite byte above a zero byte
        IN PORT_SHIFT_RESULT    ; the part that falls in this byte
        XRA M
        MOV M,A
        INX H
        XRA A
        OUT PORT_SHIFT_DATA     ; now the sprite byte is below a zero byte
        IN PORT_SHIFT_RESULT    ; the part that spills into the byte above
        XRA M
        MOV M,A
        INX D
        MOV A,L                 ; the same byte of the next line
        ADI LINE_BYTES - 1
        MOV L,A
        MOV A,H
        ACI 0
        MOV H,A
        DCR B
        JNZ XS_COLUMN
        RET

; Keeps the ball on the paddle, and launches it on S (at once when the machine plays).
HOLD_BALL:
        CALL PLACE_ON_PADDLE
        LDA MODE
        CPI MODE_DEMO
        JZ HB_LAUNCH
        IN PORT_INPUT
        ANI KEY_FIRE
        RZ
HB_LAUNCH:
        MVI A,1
        STA BALL_DX
        STA BALL_DY
        MVI A,BALL_MOVING
        STA BALL_STATE
        RET

; Puts the ball on the paddle.
PLACE_ON_PADDLE:
        LDA PADDLE_X
        ADI BALL_ON_PADDLE
        STA BALL_X
        MVI A,BALL_Y_MIN
        STA BALL_Y
        RET

; Moves the ball SPEED steps, stopping early if it leaves play.
MOVE_BALL:
        LDA SPEED
        MOV C,A
MB_STEP:
        PUSH B
        CALL BALL_STEP
        POP B
        LDA BALL_STATE
        CPI BALL_MOVING
        RNZ
        DCR C
        JNZ MB_STEP
        RET

; One step of the ball: across, bouncing off the side walls; up or down, bouncing off the
; ceiling and the paddle or leaving play below it; then into a brick, if there is one.
BALL_STEP:
        LDA BALL_DX
        MOV B,A
        LDA BALL_X
        ADD B
        CPI BALL_X_MIN
        JC BS_SIDE
        CPI BALL_X_MAX + 1
        JC BS_X
BS_SIDE:
        MOV A,B                 ; bounce: turn back and stay
        CMA
        INR A
        STA BALL_DX
        LDA BALL_X
BS_X:
        STA BALL_X
        LDA BALL_DY
        MOV B,A
        LDA BALL_Y
        ADD B
        CPI BALL_Y_MAX + 1
        JC BS_BELOW_CEILING
        MVI A,0FFH              ; the ceiling: down again
        STA BALL_DY
        LDA BALL_Y
        JMP BS_Y
BS_BELOW_CEILING:
        CPI BALL_Y_MIN
        JNC BS_Y
        CALL PADDLE_HIT         ; down at the paddle's level
        JC BS_LOST
        MVI A,1
        STA BALL_DY
        LDA BALL_Y
BS_Y:
        STA BALL_Y
        JMP CHECK_BRICK
BS_LOST:
        MVI A,BALL_NONE
        STA BALL_STATE
        LDA EVENTS
        ORI EVENT_LOST
        STA EVENTS
        RET

; Decides whether the paddle meets the ball, which is at the paddle's level. On a hit, sets
; BALL_DX from where they meet (the outer parts send it off at a flatter angle) and clears CY;
; on a miss, sets CY.
PADDLE_HIT:
        LDA PADDLE_X
        MOV B,A
        LDA BALL_X
        ADI BALL_SIZE
        SUB B                   ; t = ball's right edge + 1 - paddle's left edge
        RC                      ; wholly left of the paddle
        JZ PH_MISS
        CPI PADDLE_WIDTH + BALL_SIZE
        JNC PH_MISS             ; wholly right of it
        MVI C,0FEH              ; t = 1..27, in four parts: -2, -1, 1, 2
        CPI 7
        JC PH_SET
        MVI C,0FFH
        CPI 14
        JC PH_SET
        MVI C,1
        CPI 21
        JC PH_SET
        MVI C,2
PH_SET:
        MOV A,C
        STA BALL_DX
        LDA MODE                ; the machine aims somewhere else next time
        CPI MODE_DEMO
        JNZ PH_HIT
        LDA DEMO_TURN
        INR A
        ANI 3
        STA DEMO_TURN
        MOV E,A
        MVI D,0
        LXI H,DEMO_OFFSETS
        DAD D
        MOV A,M
        STA DEMO_OFFSET
PH_HIT:
        ORA A                   ; CY = 0
        RET
PH_MISS:
        STC
        RET

; Knocks out the brick under the ball's centre, if any: the ball bounces back, the brick goes,
; the player scores its row's points. The last brick puts the ball back on the paddle.
CHECK_BRICK:
        LDA BALL_Y
        ADI BALL_SIZE / 2
        CPI BRICK_Y_LOW
        RC
        CPI BRICK_Y_HIGH
        RNC
        RRC                     ; row = BRICK_TOP_BYTE - y / 8
        RRC
        RRC
        ANI 1FH
        MOV B,A
        MVI A,BRICK_TOP_BYTE
        SUB B
        MOV D,A
        LDA BALL_X              ; column = (x - FIELD_LEFT) / 16
        ADI BALL_SIZE / 2 - FIELD_LEFT
        RRC
        RRC
        RRC
        RRC
        ANI 0FH
        MOV E,A
        MOV A,D                 ; index = 13 * row + column
        ADD A
        ADD A
        MOV C,A
        ADD A
        ADD C
        ADD D
        ADD E
        MOV C,A
        MVI B,0
        LXI H,WALL
        DAD B
        MOV A,M
        ORA A
        RZ
        MVI M,0
        LDA BALL_DY
        CMA
        INR A
        STA BALL_DY
        MVI C,0
        PUSH D
        CALL PAINT_BRICK
        POP D
        MOV C,D                 ; the row's points
        MVI B,0
        LXI H,ROW_POINTS
        DAD B
        MOV B,M
        LDA MODE
        CPI MODE_PLAY
        JNZ CB_COUNT
        CALL CURRENT_SCORE
        MOV A,B
        CALL ADD_SCORE
        LDA EVENTS
        ORI EVENT_SCORED
        STA EVENTS
CB_COUNT:
        LXI H,BRICKS_LEFT
        DCR M
        RNZ
        MVI A,BALL_HELD
        STA BALL_STATE
        CALL PLACE_ON_PADDLE
        LDA EVENTS
        ORI EVENT_CLEARED
        STA EVENTS
        RET

; =============================================================================================
; Walls and frame
; =============================================================================================

; Paints brick D (row) E (column) with the byte C in each of its lines: the row's pattern to
; draw it, 0 to clear it.
; Keeps D, E.
PAINT_BRICK:
        MOV A,E
        ADD A
        ADD A
        ADD A
        ADD A
        ADI FIELD_LEFT
        CALL LINE_ADDRESS
        MVI A,BRICK_TOP_BYTE
        SUB D
        ORA L
        MOV L,A
        MVI B,BRICK_WIDTH - 1
        PUSH D
        LXI D,LINE_BYTES
PB_LINE:
        MOV M,C
        DAD D
        DCR B
        JNZ PB_LINE
        POP D
        RET

; Draws every brick of WALL, standing or gone.
DRAW_WALL:
        LXI H,WALL
        MVI D,0
DW_ROW:
        MVI E,0
DW_BRICK:
        MOV A,M
        PUSH H
        MVI C,0
        ORA A
        JZ DW_PAINT
        MOV C,D
        MVI B,0
        LXI H,ROW_PATTERNS
        DAD B
        MOV C,M
DW_PAINT:
        CALL PAINT_BRICK
        POP H
        INX H
        INR E
        MOV A,E
        CPI BRICK_COLUMNS
        JNZ DW_BRICK
        INR D
        MOV A,D
        CPI BRICK_ROWS
        JNZ DW_ROW
        RET

; Stops everything moving, clears the picture and draws the walls, the ceiling, the headings,
; the scores and the credits.
RESET_SCREEN:
        XRA A
        STA MODE
        STA BALL_STATE
        STA BALL_SHOWN
        STA EVENTS
        STA MESSAGE_UP
        LXI H,VIDEO
RS_CLEAR:
        MVI M,0
        INX H
        MOV A,H
        CPI HIGH(VIDEO_END)
        JNZ RS_CLEAR
        MVI A,PADDLE_START
        STA PADDLE_DRAWN_X
        MVI A,WALL_LEFT_LINE
        CALL DRAW_SIDE_WALL
        MVI A,WALL_RIGHT_LINE
        CALL DRAW_SIDE_WALL
        MVI A,WALL_LEFT_LINE
        CALL LINE_ADDRESS
        MVI A,CEILING_BYTE
        ORA L
        MOV L,A
        LXI D,LINE_BYTES
        MVI B,WALL_RIGHT_LINE - WALL_LEFT_LINE + 1
RS_CEILING:
        MVI M,CEILING_BITS
        DAD D
        DCR B
        JNZ RS_CEILING
        LXI H,HEADER_TEXT
        CALL PRINT
        LXI H,CREDIT_TEXT
        CALL PRINT
        CALL SHOW_CREDITS
        JMP SHOW_SCORES

; Draws a side wall in line A.
DRAW_SIDE_WALL:
        CALL LINE_ADDRESS
        MVI A,WALL_FIRST_BYTE
        ORA L
        MOV L,A
        MVI B,CEILING_BYTE - WALL_FIRST_BYTE
DS_BYTE:
        MVI M,0FFH
        INX H
        DCR B
        JNZ DS_BYTE
        RET

; =============================================================================================
; Drawing helpers
; =============================================================================================

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

; Prints text at HL: its text column, its text row (byte of the line), the characters, 0.
; Each character is drawn with interrupts held off and the ball taken off the screen, so that
; the letters never cut into the ball and the shift register is not shared; interrupts are let
; in between characters. Main loop only.
PRINT:
        MOV C,M
        INX H
        MOV B,M
        INX H
PR_CHAR:
        MOV A,M
        ORA A
        RZ
        INX H
        PUSH H
        PUSH B
        PUSH PSW
        DI
        CALL TOGGLE_BALL
        POP PSW
        POP B
        PUSH B
        CALL DRAW_CHAR
        CALL TOGGLE_BALL
        EI
        POP B
        POP H
        INR C
        JMP PR_CHAR

; Inverts the ball where it is drawn, if it is.
TOGGLE_BALL:
        LDA BALL_SHOWN
        ORA A
        RZ
        LHLD BALL_DRAWN_X
        JMP XOR_BALL

; Draws character A in text column C of text row B. Characters outside the font draw as
; spaces.
DRAW_CHAR:
        SUI ' '
        CPI FONT_GLYPHS
        JC DC_GLYPH
        XRA A
DC_GLYPH:
        MOV L,A
        MVI H,0
        DAD H
        DAD H
        DAD H
        LXI D,FONT_COLUMNS
        DAD D
        XCHG                    ; DE = the glyph's columns
        MOV A,C
        ADD A
        ADD A
        ADD A
        CALL LINE_ADDRESS
        MOV A,B
        ORA L
        MOV L,A
        MVI C,8
DC_COLUMN:
        LDAX D
        MOV M,A
        INX D
        MOV A,L
        ADI LINE_BYTES
        MOV L,A
        MOV A,H
        ACI 0
        MOV H,A
        DCR C
        JNZ DC_COLUMN
        RET

; Fills FONT_COLUMNS from FONT, so that drawing a character is a copy.
BUILD_FONT:
        LXI H,FONT
        LXI D,FONT_COLUMNS
BF_GLYPH:
        PUSH D
        CALL TRANSPOSE          ; HL moves on to the next glyph
        POP D
        PUSH H
        LXI H,GLYPH_COLUMNS
        MVI B,8
BF_COPY:
        MOV A,M
        STAX D
        INX H
        INX D
        DCR B
        JNZ BF_COPY
        POP H
        MOV A,E
        CPI LOW(FONT_COLUMNS + 8 * FONT_GLYPHS)
        JNZ BF_GLYPH
        MOV A,D
        CPI HIGH(FONT_COLUMNS + 8 * FONT_GLYPHS)
        JNZ BF_GLYPH
        RET

; Turns the glyph at HL (8 rows, top first, leftmost pixel in bit 7) into GLYPH_COLUMNS
; (8 columns, leftmost first, top pixel in bit 7): each row's pixels are shifted out one by one
; into the columns, so the top row, shifted first, ends in the highest bit. HL ends past the
; glyph.
TRANSPOSE:
        MVI C,8
TR_ROW:
        MOV A,M
        INX H
        PUSH H
        LXI H,GLYPH_COLUMNS
        MVI B,8
TR_PIXEL:
        ADD A
        MOV D,A
        MOV A,M
        RAL
        MOV M,A
        INX H
        MOV A,D
        DCR B
        JNZ TR_PIXEL
        POP H
        DCR C
        JNZ TR_ROW
        RET

; =============================================================================================
; Data
; =============================================================================================

ROW_POINTS:                     ; BCD, top row first; see ADD_SCORE for the values allowed
        DB 50H, 40H, 30H, 20H, 10H

ROW_PATTERNS:                   ; the look of each row's bricks: 7 pixels high, a gap above
        DB 01111111B            ; solid
        DB 01010101B            ; striped
        DB 01111111B
        DB 01010101B
        DB 01111111B

DEMO_OFFSETS:                   ; where the machine's paddle meets the ball: -2, -1, 1, 2
        DB 1, 8, 12, 19

BALL_SPRITE:                    ; one byte per column, bit 0 lowest
        DB 06H, 0FH, 0FH, 06H

; Texts: text column, text row, characters, 0. Messages that replace each other are padded to
; the same length.
HEADER_TEXT:      DB 1, TEXT_HEADER, 'SCORE1   HI SCORE   SCORE2', 0
CREDIT_TEXT:      DB 19, TEXT_STATUS, 'CREDIT', 0
BALLS_TEXT:       DB 1, TEXT_STATUS, 'BALLS', 0
TITLE_TEXT:       DB 7, TEXT_TITLE, 'DROVASK BRICKS', 0
INSERT_COIN_TEXT: DB 6, TEXT_PROMPT, '  INSERT COIN   ', 0
ONE_PLAYER_TEXT:  DB 6, TEXT_PROMPT, 'Q  ONE PLAYER   ', 0
TWO_PLAYERS_TEXT: DB 6, TEXT_PROMPT_2, 'E  TWO PLAYERS  ', 0
BLANK_PROMPT_2:   DB 6, TEXT_PROMPT_2, '                ', 0
PLAYER1_TEXT:     DB 10, TEXT_PROMPT, 'PLAYER 1', 0
PLAYER2_TEXT:     DB 10, TEXT_PROMPT, 'PLAYER 2', 0
BLANK_MESSAGE:    DB 9, TEXT_PROMPT, '          ', 0
GAME_OVER_TEXT:   DB 9, TEXT_PROMPT, 'GAME OVER ', 0

; The font: characters 20H (space) to 5AH (Z), 8 rows each, top row first, leftmost pixel in
; bit 7. Drawn for this game.
FONT_GLYPHS EQU 5BH - 20H
FONT:
        DB 00000000B                   ; space
        DB 00000000B
        DB 00000000B
        DB 00000000B
        DB 00000000B
        DB 00000000B
        DB 00000000B
        DB 00000000B
        DB 00011000B                   ; !
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00000000B
        DB 00011000B
        DB 00000000B
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; " (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; # (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; $ (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; % (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; & (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; ' (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; ( (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; ) (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; * (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; + (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; , (not used: blank)
        DB 00000000B                   ; -
        DB 00000000B
        DB 00000000B
        DB 01111110B
        DB 01111110B
        DB 00000000B
        DB 00000000B
        DB 00000000B
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; . (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; / (not used: blank)
        DB 00111100B                   ; 0
        DB 01100110B
        DB 01101110B
        DB 01111110B
        DB 01110110B
        DB 01100110B
        DB 00111100B
        DB 00000000B
        DB 00011000B                   ; 1
        DB 00111000B
        DB 01111000B
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 01111110B
        DB 00000000B
        DB 00111100B                   ; 2
        DB 01100110B
        DB 00000110B
        DB 00001100B
        DB 00011000B
        DB 00110000B
        DB 01111110B
        DB 00000000B
        DB 01111100B                   ; 3
        DB 00000110B
        DB 00000110B
        DB 00111100B
        DB 00000110B
        DB 00000110B
        DB 01111100B
        DB 00000000B
        DB 00001100B                   ; 4
        DB 00011100B
        DB 00111100B
        DB 01101100B
        DB 01111110B
        DB 00001100B
        DB 00001100B
        DB 00000000B
        DB 01111110B                   ; 5
        DB 01100000B
        DB 01111100B
        DB 00000110B
        DB 00000110B
        DB 01100110B
        DB 00111100B
        DB 00000000B
        DB 00111100B                   ; 6
        DB 01100000B
        DB 01100000B
        DB 01111100B
        DB 01100110B
        DB 01100110B
        DB 00111100B
        DB 00000000B
        DB 01111110B                   ; 7
        DB 00000110B
        DB 00001100B
        DB 00011000B
        DB 00110000B
        DB 00110000B
        DB 00110000B
        DB 00000000B
        DB 00111100B                   ; 8
        DB 01100110B
        DB 01100110B
        DB 00111100B
        DB 01100110B
        DB 01100110B
        DB 00111100B
        DB 00000000B
        DB 00111100B                   ; 9
        DB 01100110B
        DB 01100110B
        DB 00111110B
        DB 00000110B
        DB 00000110B
        DB 00111100B
        DB 00000000B
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; : (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; ; (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; < (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; = (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; > (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; ? (not used: blank)
        DB 0, 0, 0, 0, 0, 0, 0, 0              ; @ (not used: blank)
        DB 00011000B                   ; A
        DB 00111100B
        DB 01100110B
        DB 01100110B
        DB 01111110B
        DB 01100110B
        DB 01100110B
        DB 00000000B
        DB 01111100B                   ; B
        DB 01100110B
        DB 01100110B
        DB 01111100B
        DB 01100110B
        DB 01100110B
        DB 01111100B
        DB 00000000B
        DB 00111100B                   ; C
        DB 01100110B
        DB 01100000B
        DB 01100000B
        DB 01100000B
        DB 01100110B
        DB 00111100B
        DB 00000000B
        DB 01111000B                   ; D
        DB 01101100B
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 01101100B
        DB 01111000B
        DB 00000000B
        DB 01111110B                   ; E
        DB 01100000B
        DB 01100000B
        DB 01111100B
        DB 01100000B
        DB 01100000B
        DB 01111110B
        DB 00000000B
        DB 01111110B                   ; F
        DB 01100000B
        DB 01100000B
        DB 01111100B
        DB 01100000B
        DB 01100000B
        DB 01100000B
        DB 00000000B
        DB 00111100B                   ; G
        DB 01100110B
        DB 01100000B
        DB 01101110B
        DB 01100110B
        DB 01100110B
        DB 00111110B
        DB 00000000B
        DB 01100110B                   ; H
        DB 01100110B
        DB 01100110B
        DB 01111110B
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 00000000B
        DB 01111110B                   ; I
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 01111110B
        DB 00000000B
        DB 00011110B                   ; J
        DB 00001100B
        DB 00001100B
        DB 00001100B
        DB 00001100B
        DB 01101100B
        DB 00111000B
        DB 00000000B
        DB 01100110B                   ; K
        DB 01101100B
        DB 01111000B
        DB 01110000B
        DB 01111000B
        DB 01101100B
        DB 01100110B
        DB 00000000B
        DB 01100000B                   ; L
        DB 01100000B
        DB 01100000B
        DB 01100000B
        DB 01100000B
        DB 01100000B
        DB 01111110B
        DB 00000000B
        DB 01100011B                   ; M
        DB 01110111B
        DB 01111111B
        DB 01101011B
        DB 01100011B
        DB 01100011B
        DB 01100011B
        DB 00000000B
        DB 01100110B                   ; N
        DB 01110110B
        DB 01111110B
        DB 01111110B
        DB 01101110B
        DB 01100110B
        DB 01100110B
        DB 00000000B
        DB 00111100B                   ; O
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 00111100B
        DB 00000000B
        DB 01111100B                   ; P
        DB 01100110B
        DB 01100110B
        DB 01111100B
        DB 01100000B
        DB 01100000B
        DB 01100000B
        DB 00000000B
        DB 00111100B                   ; Q
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 01101110B
        DB 01100110B
        DB 00111010B
        DB 00000000B
        DB 01111100B                   ; R
        DB 01100110B
        DB 01100110B
        DB 01111100B
        DB 01111000B
        DB 01101100B
        DB 01100110B
        DB 00000000B
        DB 00111100B                   ; S
        DB 01100110B
        DB 01100000B
        DB 00111100B
        DB 00000110B
        DB 01100110B
        DB 00111100B
        DB 00000000B
        DB 01111110B                   ; T
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00000000B
        DB 01100110B                   ; U
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 00111100B
        DB 00000000B
        DB 01100110B                   ; V
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 01100110B
        DB 00111100B
        DB 00011000B
        DB 00000000B
        DB 01100011B                   ; W
        DB 01100011B
        DB 01100011B
        DB 01101011B
        DB 01111111B
        DB 01110111B
        DB 01100011B
        DB 00000000B
        DB 01100110B                   ; X
        DB 01100110B
        DB 00111100B
        DB 00011000B
        DB 00111100B
        DB 01100110B
        DB 01100110B
        DB 00000000B
        DB 01100110B                   ; Y
        DB 01100110B
        DB 01100110B
        DB 00111100B
        DB 00011000B
        DB 00011000B
        DB 00011000B
        DB 00000000B
        DB 01111110B                   ; Z
        DB 00000110B
        DB 00001100B
        DB 00011000B
        DB 00110000B
        DB 01100000B
        DB 01111110B
        DB 00000000B
