// A command's own arguments: its options, its help and the one way a
// usage error is told.
#pragma once

#include <string>

// "-h" or "--help".
bool IsHelp(const char* arg);

// Prints "vldtool: COMMAND: MESSAGE (see 'vldtool COMMAND --help')" on one
// line (without COMMAND when it is null) and returns 2, the exit status of a
// usage error.
int UsageError(const char* command, const std::string& message);

// Whether argv[*i] is the option `long_name` (or `short_name`, may be null)
// with a value, as "-o V", "--output V" or "--output=V". Sets *value and
// moves *i past it; *missing is set when the option is there without a value.
bool TakeValue(int argc, char** argv, int* i, const char* long_name, const char* short_name,
               const char** value, bool* missing);
