// Runs a program as a user's shell would, without a shell: its own working
// folder, standard input and output, and a memory ceiling.
#pragma once

#include <string>
#include <vector>

struct RunOptions {
  std::string cwd;          // empty: the test's own
  std::string stdin_path;   // empty: /dev/null
  std::string stdout_path;  // empty: captured
  unsigned long long memory = 2ull << 30;  // address space, so a runaway read fails fast
  int timeout_seconds = 60;
};

struct ToolRun {
  int status;  // the exit status; -1 when killed or not run
  std::string out, err;
};

ToolRun RunProgram(const std::vector<std::string>& argv, const RunOptions& options = RunOptions());

// Each line of `text` without its newline.
std::vector<std::string> Lines(const std::string& text);

// A file's whole content, or "" when it cannot be read; writing replaces it.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// Whether the name exists, a dangling link included.
bool PathExists(const std::string& path);
