#pragma once

// Runs the program: window mode without an argument, batch mode with one.
// Returns the process's exit status.
int Main(int argc, char *argv[]);
