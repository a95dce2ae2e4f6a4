// Variable catalogue: every named calibration parameter and signal-page
// variable with its measurement address, type and element count, so that a
// name resolves to a measaddr_t (display, telemetry, XCP slave, shell).
#pragma once

#include <cstdint>

#include "measurement/types.h"

struct CatEntry {
    char name[48];
    measaddr_t addr;     // virtual address in the calibration memory (PID 0)
    TypeEnum_t type;
    uint16_t count;      // elements of an array, 1 for a scalar
};

// Fills the catalogue with the calibration page and signal page layouts.
// Idempotent; 1 on success.
int catalogue_init();
// Adds a variable published by another module; 1 on success, 0 when the name
// is taken by a variable of another type or count, too long, the type unknown
// or the catalogue full (logged). Adding a name again with the same type and
// count moves it to the new address.
int catalogue_add(const char* name, measaddr_t addr, TypeEnum_t type, uint16_t count = 1);
// Entry of a name; "name[i]" selects element i of an array (the entry returned
// then describes that one element). nullptr when unknown.
const CatEntry* catalogue_find(const char* name, CatEntry* elementOut = nullptr);
// Address of a name, 0 when unknown.
measaddr_t catalogue_addr(const char* name);
int catalogue_count();
const CatEntry* catalogue_at(int index);

// Current value of an entry's first element, read at its address; calibration
// parameters at reference address + active offset. false when unreadable.
bool catalogue_read(const CatEntry* e, double* out);
// True when value can be stored in the entry's type unchanged (integers
// whole and in range, floats within the float range).
bool catalogue_valueFits(const CatEntry* e, double value);
// Writes a value into a signal-page variable or into the working page of a
// calibration parameter (through seramDownload); false when refused.
bool catalogue_write(const CatEntry* e, double value);
// Prints "name = value" into buf; the shell commands use it.
int catalogue_format(const CatEntry* e, char* buf, unsigned size);
// The same for a given value, as the entry's type holds it (one that
// catalogue_valueFits).
int catalogue_formatValue(const CatEntry* e, double value, char* buf, unsigned size);

// Registers the shell commands "getvar <name>" and "setvar <name> <value>";
// they print "name = value" and give 0, or print the error and give -1.
int catalogue_shell_init();
int shell_getvar(int argc, char** argv);
int shell_setvar(int argc, char** argv);
