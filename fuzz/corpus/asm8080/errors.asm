 FROB A
 JMP nowhere
Start: NOP
start: NOP
 DB 'abc
 MVI A,1/(2-2)
 MOV M,M
 DB 300
 ORG later
later: DS 100H
 ORG 0FFF0H
 DS 100H
 INCLUDE "absent.asm"
x EQU y
y EQU x+1
