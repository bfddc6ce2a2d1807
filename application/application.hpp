#pragma once

// Builds the window and the machine, runs the main loop and shuts down. Shared by `main` and
// `WinMain`, which say whether the program was given arguments: it takes none, and says so on
// standard error before it runs as usual. Returns the program's exit code: 0 after a close and
// after an error shown in the error box, 1 after an error that no box could show (no display).
int run_application(bool given_arguments);
