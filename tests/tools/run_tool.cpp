#include "tests/tools/run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string TakeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::remove(path.c_str());
  return text.str();
}

}  // namespace

ToolRun RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  char out_name[] = "/tmp/run_tool_out_XXXXXX";
  char err_name[] = "/tmp/run_tool_err_XXXXXX";
  const int out_fd = mkstemp(out_name);
  const int err_fd = mkstemp(err_name);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(127);
    const std::string in = options.stdin_path.empty() ? "/dev/null" : options.stdin_path;
    const int in_fd = open(in.c_str(), O_RDONLY);
    const int to =
        options.stdout_path.empty() ? out_fd : open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in_fd < 0 || to < 0) _exit(127);
    dup2(in_fd, 0);
    dup2(to, 1);
    dup2(err_fd, 2);
    const rlimit limit = {options.memory, options.memory};
    setrlimit(RLIMIT_AS, &limit);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out_fd);
  close(err_fd);
  int raw = 0;
  bool done = false;
  for (int waited = 0; pid > 0 && waited < options.timeout_seconds * 100 && !done; ++waited) {
    done = waitpid(pid, &raw, WNOHANG) == pid;
    if (!done) usleep(10000);
  }
  if (pid > 0 && !done) {
    kill(pid, SIGKILL);
    waitpid(pid, &raw, 0);
  }
  return {done && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, TakeFile(out_name), TakeFile(err_name)};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

bool PathExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}
