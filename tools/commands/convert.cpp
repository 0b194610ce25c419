#include "tools/commands/convert.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <set>

#include "tools/system/files.h"
#include "tools/system/terminal.h"
#include "tools/commands/usage.h"

namespace {

// DIR/NAME.ext for the input DIR/.../NAME.old.
std::string OutputInDirectory(const char* directory, const char* input, const char* extension) {
  std::string name = input;
  name.erase(0, FileNameStart(name));
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  std::string path = directory;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + name + extension;
}

}  // namespace

int TakeTarget(const char* command, int argc, char** argv, int* i, bool* options_done,
               Targets* targets) {
  const char* arg = argv[*i];
  bool missing = false;
  if (*options_done || arg[0] != '-' || arg[1] == 0) {
    targets->inputs.push_back(arg);
  } else if (std::strcmp(arg, "--") == 0) {
    *options_done = true;
  } else if (TakeValue(argc, argv, i, "--output", "-o", &targets->output, &missing) ||
             TakeValue(argc, argv, i, "--directory", "-d", &targets->directory, &missing)) {
  } else if (missing) {
    return UsageError(command, std::string(arg) + " needs a value");
  } else {
    return 0;
  }
  return 1;
}

int Fail(const char* command, const char* name, const std::string& reason) {
  std::fprintf(stderr, "vldtool: %s: %s: %s\n", command, name, reason.c_str());
  return 0;
}

int ConvertAll(const char* command, const Targets& targets, const char* extension,
               ConvertOne convert, const void* options) {
  if (targets.inputs.empty())
    return UsageError(command, "no input file given");
  if (targets.output != nullptr && targets.directory != nullptr)
    return UsageError(command, "give either -o or -d, not both");
  std::string reason;
  if (targets.directory == nullptr) {
    if (targets.output == nullptr) return UsageError(command, "-o OUT or -d DIR is missing");
    if (targets.inputs.size() > 1)
      return UsageError(command, "-o takes one input file; use -d DIR for more");
  } else if (!IsFolder(targets.directory, &reason)) {
    Fail(command, targets.directory, reason);
    return 1;
  }
  const bool progress = targets.inputs.size() > 1 && StderrIsTerminal();
  std::set<std::string> written;
  int failures = 0;
  for (size_t k = 0; k < targets.inputs.size(); ++k) {
    const char* input = targets.inputs[k];
    if (progress) std::fprintf(stderr, "[%zu/%zu] %s\n", k + 1, targets.inputs.size(), input);
    std::string output = targets.output != nullptr ? targets.output : "";
    int ok = 1;
    if (targets.directory != nullptr) {
      output = OutputInDirectory(targets.directory, input, extension);
      if (std::strcmp(input, "-") == 0)
        ok = Fail(command, input, "standard input has no name to make an output name from");
      else if (!written.insert(OutputKey(output)).second)
        ok = Fail(command, input, "another input of this run already wrote " + output);
    }
    const int same = ok ? SameFile(input, output.c_str()) : 0;
    if (same > 0)
      ok = Fail(command, output.c_str(), "is the input file; choose another output");
    else if (same < 0)
      ok = Fail(command, output.c_str(),
                "the system cannot tell whether it is the input file; choose another output");
    // Running out of memory on one file is that file's failure; the next
    // may well fit.
    try {
      if (ok) ok = convert(input, output.c_str(), options);
    } catch (const std::bad_alloc&) {
      ok = Fail(command, input, "out of memory");
    }
    if (!ok) ++failures;
  }
  return failures != 0 ? 1 : 0;
}
