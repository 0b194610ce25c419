// What decode and encode share: the files a run converts, where the results
// go, and going on past a file that fails.
#pragma once

#include <string>
#include <vector>

// One input to `output`, or any number into `directory`.
struct Targets {
  std::vector<const char*> inputs;
  const char* output = nullptr;
  const char* directory = nullptr;
};

// Takes the arguments every converter shares: -o, -d, "--" and the inputs.
// Returns 1 when argv[*i] was one of them, 0 when it is not, 2 on a usage
// error (already reported).
int TakeTarget(const char* command, int argc, char** argv, int* i, bool* options_done,
               Targets* targets);

// One line for a file that could not be converted; returns 0 for the caller
// to pass on.
int Fail(const char* command, const char* name, const std::string& reason);

// Converts one input to `output`; 1 when done, else 0 after saying why.
using ConvertOne = int (*)(const char* input, const char* output, const void* options);

// Converts every input to its output (DIR/NAME`extension` with -d); one line
// per failure, and the run goes on past it. Returns the exit status.
int ConvertAll(const char* command, const Targets& targets, const char* extension,
               ConvertOne convert, const void* options);
