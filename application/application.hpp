#pragma once

// Builds the window and the machine, runs the main loop and shuts down. Shared by `main` and
// `WinMain`; returns the program's exit code (0 after a close and after a reported error).
int run_application();
