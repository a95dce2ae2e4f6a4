// Entry of the device process: the application number is the one argument.
#include "signals.h"

int appStart(int argc, char** argv);

int main(int argc, char** argv) {
    // First of all: a termination signal sent while the process starts then
    // waits, pending, until the device can end in order, instead of killing
    // it half made; every thread made later inherits the mask.
    signals_blockTermination();
    return appStart(argc, argv);
}
