; Names shared by the build-time fixture, pulled in with INCLUDE.
answer  EQU 42
