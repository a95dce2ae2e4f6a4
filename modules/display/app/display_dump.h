// Screen dumps into BMP files. A dump creates a new file: it never replaces
// one (the NVRAM, the start parameters, a measurement) and never writes
// through a symbolic link. DumpReal and display_bmpwrite are declared with
// the other request functions.
#pragma once

// The shell's "display bmpdump FILE": FILE is a new file of the device
// folder or of a folder below it, reached through no symbolic link. Prints
// what went wrong; 0 when the dump was written, else -1.
int display_bmpdump(const char* path);
