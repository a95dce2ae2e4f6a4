// Screen dumps into BMP files. A dump creates a new file: it never replaces
// one (the NVRAM, the start parameters, a measurement) and never writes
// through a symbolic link; one that fails leaves no file. DumpReal is
// declared with the other request functions.
#pragma once

// The shell's "display bmpdump FILE": FILE is a new file of the device
// folder or of a folder below it, reached through no symbolic link. Prints
// what went wrong; 0 when the dump was written whole, else -1 (and the new
// file is removed again).
int display_bmpdump(const char* path);
