// The Updater's command line: its option table and the parse into Parameters.
#ifndef UPDATER_COMMANDLINE_H
#define UPDATER_COMMANDLINE_H

#include <cstdint>

#include "CLI_Display.h"
#include "Parameters.h"
#include "SimpleOpt.h"

// Option ids of g_rgOptions.
enum {
    OPT_HELP = 0,
    OPT_COMMAND = 1,
    OPT_OPTION = 2,
};

// 30 options and the end marker; the order decides abbreviation matches.
extern const SOption g_rgOptions[31];

// Fills the record from the argument vector, which it reorders in place. Errors
// of single options are shown at once at level 1. Returns 0 on success or after
// a help option, 1 when some option was refused.
int _get_params(CLI_Display& display, int argc, char** argv, Parameters* params);

// Holds no checks of its own; returns 0.
int _validate_params(Parameters* params);

// Unsigned 32-bit value of a hexadecimal or decimal argument. When a character
// falls outside the digits, 0 with end at it; when the value does not fit 32
// bits, 0 with end at the start of the text. Otherwise end is at the terminator.
// 0 at once when end is null.
uint32_t _get_hex_arg(const char* text, char** end);
uint32_t _get_int_arg(const char* text, char** end);

#endif
