// measdump [--csv] FILE: checks a measurement file and lists its content.
#include <cstdio>

#include "logging/format/meas_dump.h"

int main(int argc, char** argv) { return measdump_main(argc, argv, stdout, stderr); }
