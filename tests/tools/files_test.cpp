// vldtool's files as a user meets them: where outputs go, how much is read,
// how numbers and text are taken, and JSON read back by a real parser (jq).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/example_picture.h"
#include "tests/tools/run_tool.h"

namespace {


std::string BigEndian(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string PngChunk(const std::string& kind, const std::string& data) {
  const std::string body = kind + data;
  return BigEndian(static_cast<uint32_t>(data.size())) + body +
         BigEndian(static_cast<uint32_t>(
             crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// A PNG that declares its size and holds almost no pixels.
std::string RgbPngHeaderOnly(uint32_t width, uint32_t height) {
  const std::string zeros(64, '\0');
  uLongf size = compressBound(zeros.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(&packed[0]), &size,
           reinterpret_cast<const Bytef*>(zeros.data()), zeros.size());
  packed.resize(size);
  return kPngSignature +
         PngChunk("IHDR", BigEndian(width) + BigEndian(height) + std::string("\x08\x02\0\0\0", 5)) +
         PngChunk("IDAT", packed) + PngChunk("IEND", "");
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vldtool_files_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    Write("ex.vld", kExample);
  }
  void TearDown() override { RunProgram({"/bin/rm", "-rf", dir_}); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::string& data) const { WriteFile(Path(name), data); }
  std::string Read(const std::string& name) const { return ReadFile(Path(name)); }
  bool Exists(const std::string& name) const { return PathExists(Path(name)); }
  std::vector<std::string> List(const std::string& name = ".") const {
    std::vector<std::string> names;
    DIR* folder = opendir(Path(name).c_str());
    while (folder != nullptr)
      if (dirent* entry = readdir(folder)) {
        const std::string entry_name = entry->d_name;
        if (entry_name != "." && entry_name != "..") names.push_back(entry_name);
      } else {
        closedir(folder);
        folder = nullptr;
      }
    std::sort(names.begin(), names.end());
    return names;
  }
  // vldtool with `args`, in the test's folder.
  ToolRun Tool(const std::vector<std::string>& args, RunOptions options = RunOptions()) const {
    std::vector<std::string> argv = {VLDTOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    if (options.cwd.empty()) options.cwd = dir_;
    return RunProgram(argv, options);
  }
  static void ExpectFailsInOneLine(const ToolRun& run, const std::string& words) {
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
  }

  std::string dir_;
};

TEST_F(Files, LinksFifosAndStandardOutputAreWrittenNotReplaced) {
  ASSERT_EQ(symlink("real.png", Path("link.png").c_str()), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = Read("fifo"); });
  for (const char* target : {"link.png", "fifo"})
    EXPECT_EQ(Tool({"decode", "ex.vld", "-o", target}).status, 0) << target;
  reader.join();
  const ToolRun piped = Tool({"decode", "ex.vld", "-o", "-"});
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out.compare(0, 8, kPngSignature), 0);
  struct stat info;
  ASSERT_EQ(lstat(Path("link.png").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(Read("real.png"), piped.out);
  ASSERT_EQ(stat(Path("fifo").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(received, piped.out);
  EXPECT_FALSE(Exists("-"));
}

TEST_F(Files, DevicesInAPrivateMountNamespace) {
  const char* script = R"sh(
      mount -t tmpfs none "$1" || exit 99
      mknod "$1/null" c 1 3 && mknod "$1/full" c 1 7 || exit 99
      for d in null full; do
        "$2" decode "$3" -o "$1/$d"; echo "$d $? $(stat -c %F "$1/$d")"
      done)sh";
  ASSERT_EQ(mkdir(Path("dev").c_str(), 0700), 0);
  const ToolRun run = RunProgram({"/usr/bin/unshare", "-m", "sh", "-c", script, "sh", Path("dev"),
                                  VLDTOOL_PATH, Path("ex.vld")});
  if (run.status == 99 || run.err.find("unshare") != std::string::npos)
    GTEST_SKIP() << "no private mount namespace here: " << run.err;
  EXPECT_EQ(Lines(run.out),
            std::vector<std::string>({"null 0 character special file", "full 1 character special file"}));
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
}

TEST_F(Files, ARegularFileIsReplacedSafely) {
  // A symbolic link planted where the temporary file used to be predictable.
  Write("victim", "keep");
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(go[1]);
    char byte;
    if (read(go[0], &byte, 1) != 1 || chdir(dir_.c_str()) != 0) _exit(127);
    dup2(open("/dev/null", O_WRONLY), 2);
    execl(VLDTOOL_PATH, VLDTOOL_PATH, "decode", "ex.vld", "-o", "out.png", nullptr);
    _exit(127);
  }
  close(go[0]);
  ASSERT_EQ(symlink(Path("victim").c_str(), Path("out.png.tmp" + std::to_string(pid)).c_str()), 0);
  ASSERT_EQ(write(go[1], "x", 1), 1);
  close(go[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Read("victim"), "keep");
  struct stat info;
  ASSERT_EQ(lstat(Path("out.png").c_str(), &info), 0);
  EXPECT_FALSE(S_ISLNK(info.st_mode));

  Write("kept.png", "old");
  chmod(Path("kept.png").c_str(), 0640);
  const std::string long_name = std::string(250, 'n') + ".png";
  std::vector<std::string> expected = List();
  expected.push_back(long_name);
  std::sort(expected.begin(), expected.end());
  for (const std::string& target : {std::string("kept.png"), long_name}) {
    const ToolRun run = Tool({"decode", "ex.vld", "-o", target});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read(target).compare(0, 8, kPngSignature), 0);
  }
  ASSERT_EQ(stat(Path("kept.png").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(List(), expected);
}

TEST_F(Files, AnOutputThatIsAnInputIsRefused) {
  Tool({"decode", "ex.vld", "-o", "x.png"});
  ASSERT_EQ(symlink("ex.vld", Path("alias.vld").c_str()), 0);
  const struct {
    std::vector<std::string> args;
    const char* stdin_name;
  } cases[] = {
      {{"decode", "ex.vld", "-o", "ex.vld"}, "ex.vld"},
      {{"decode", "ex.vld", "-o", "alias.vld"}, "ex.vld"},
      {{"decode", "-", "-o", "ex.vld"}, "ex.vld"},
      {{"encode", "x.png", "-o", "x.png"}, "ex.vld"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[3]);
    const std::string before = Read("ex.vld") + Read("x.png");
    RunOptions options;
    options.stdin_path = Path(c.stdin_name);
    ExpectFailsInOneLine(Tool(c.args, options), "is the input file");
    EXPECT_EQ(Read("ex.vld") + Read("x.png"), before);
  }
}

TEST_F(Files, InfoRefusesWhatTheViewerWouldNotRead) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  const struct {
    const char* name;
    off_t size;
  } sparse[] = {{"300mb.vld", 300000000}, {"256mib.vld", off_t{256} << 20},
                {"4gib.vld", off_t{4} << 30}, {"under.vld", (off_t{256} << 20) - 1}};
  for (const auto& s : sparse) {
    Write(s.name, kExample);
    ASSERT_EQ(truncate(Path(s.name).c_str(), s.size), 0);
  }
  const struct {
    const char* name;
    const char* words;
  } cases[] = {{"fifo", "regular file"},     {".", "directory"},
               {"/dev/zero", "regular file"}, {"300mb.vld", "too large"},
               {"256mib.vld", "too large"},  {"4gib.vld", "too large"}};
  RunOptions quick;
  quick.timeout_seconds = 10;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailsInOneLine(Tool({"info", c.name}, quick), c.words);
  }
  EXPECT_EQ(Tool({"info", "under.vld"}).status, 0);
}

TEST_F(Files, StandardInputIsRead) {
  RunOptions options;
  options.stdin_path = Path("ex.vld");
  const ToolRun run = Tool({"info", "-"}, options);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("size: 8x2"), std::string::npos);
}

TEST_F(Files, RunningOutOfMemoryIsOneLine) {
  Write("big.png", RgbPngHeaderOnly(16000, 16000));
  RunOptions options;
  options.memory = 400ull << 20;
  ExpectFailsInOneLine(Tool({"encode", "big.png", "-o", "out.vld"}, options), "out of memory");
  EXPECT_FALSE(Exists("out.vld"));
}

TEST_F(Files, OutputErrorsAreErrors) {
  const std::vector<std::string> cases[] = {{"info", "ex.vld"},
                                            {"info", "--json", "ex.vld"},
                                            {"explain", "x"},
                                            {"decode", "ex.vld", "-o", "-"},
                                            {"--version"}};
  RunOptions full;
  full.stdout_path = "/dev/full";
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + args.back());
    ExpectFailsInOneLine(Tool(args, full), "No space left");
  }
}

// Every option that takes numbers, as the user types them: decimal or 0x hex,
// never octal, and nothing else.
TEST_F(Files, OptionNumbersAreDecimalOrHexNeverOctal) {
  Tool({"decode", "ex.vld", "-o", "x.png"});
  const struct {
    const char* option;
    const char* value;
    const char* shown;  // what info then shows; null when refused
  } cases[] = {
      {"--anchor", "010,020", "anchor: 10,20"},
      {"--anchor", "08,09", "anchor: 8,9"},
      {"--anchor", "0x10,0X1f", "anchor: 16,31"},
      {"--anchor", "65535,0", "anchor: 65535,0"},
      {"--anchor", "65536,0", nullptr},
      {"--anchor", "-1,2", nullptr},
      {"--anchor", "+1,2", nullptr},
      {"--anchor", "0x,1", nullptr},
      {"--anchor", "1,,2", nullptr},
      {"--anchor", " 1,2", nullptr},
      {"--anchor", "1,2,", nullptr},
      {"--palette", "010,0xF800,0x07C0,0x003E", "palette 0: 0x000A"},
      {"--palette", "08,0xF800,0x07C0,0x003E", "palette 0: 0x0008"},
      {"--palette", "0x010,0xF800,0x07C0,0x003E", "palette 0: 0x0010"},
      {"--palette", "0,0xF800,0x07C0,010", "palette 3: 0x000A"},
      {"--palette", "0,0xF800,0x07C0,0x10000", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.value);
    std::remove(Path("out.vld").c_str());
    const ToolRun run = Tool({"encode", "x.png", "-o", "out.vld", c.option, c.value});
    EXPECT_EQ(run.status, c.shown != nullptr ? 0 : 2) << run.err;
    if (c.shown == nullptr) continue;
    const ToolRun info = Tool({"info", "out.vld"});
    const size_t at = info.out.find(std::string("  ") + c.shown);
    ASSERT_NE(at, std::string::npos) << info.out;
    EXPECT_TRUE(std::isspace(info.out[at + 2 + std::strlen(c.shown)])) << info.out;
  }
  const ToolRun octal = Tool({"explain", "--seed", "010", "--", "ex.vld x.vld"});
  const ToolRun decimal = Tool({"explain", "--seed", "10", "--", "ex.vld x.vld"});
  EXPECT_EQ(octal.status, 0) << octal.err;
  EXPECT_EQ(octal.out, decimal.out);
}

TEST_F(Files, CommentCharactersCodePage932CannotHoldAreRefused) {
  Tool({"decode", "ex.vld", "-o", "x.png"});
  // Every character is named once, in order, with the one to use instead
  // where there is one; the replacements themselves are stored.
  const struct {
    const char* comment;
    const char* named;  // nullptr: stored
  } cases[] = {
      {"a¥b", "\"¥\" (U+00A5; use \"￥\" U+FFE5)"},
      {"〜¢😀¥〜", "\"〜\" (U+301C; use \"～\" U+FF5E), \"¢\" (U+00A2; use \"￠\" U+FFE0), "
                 "\"😀\" (U+1F600), \"¥\" (U+00A5; use \"￥\" U+FFE5)"},
      {"‖−—£¬‾¦", "\"‖\" (U+2016; use \"∥\" U+2225), \"−\" (U+2212; use \"－\" U+FF0D), "
                   "\"—\" (U+2014; use \"―\" U+2015), \"£\" (U+00A3; use \"￡\" U+FFE1), "
                   "\"¬\" (U+00AC; use \"￢\" U+FFE2), \"‾\" (U+203E; use \"￣\" U+FFE3), "
                   "\"¦\" (U+00A6; use \"￤\" U+FFE4)"},
      {"￥～∥－―￠￡￢￣￤", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.comment);
    std::remove(Path("out.vld").c_str());
    const ToolRun run = Tool({"encode", "x.png", "-o", "out.vld", "--comment", c.comment});
    if (c.named == nullptr) {
      EXPECT_EQ(run.status, 0) << run.err;
      continue;
    }
    ExpectFailsInOneLine(run, std::string("cannot hold: ") + c.named + "\n");
    EXPECT_FALSE(Exists("out.vld"));
  }
}

TEST_F(Files, AnyNameAndCommentMakeValidJson) {
  const std::string odd_name = "\xff\xfe name \x01.vld";
  Write(odd_name, kExample);
  Write("quotes.vld", PictureWithComment("say \"\\hi\"\t\x01"));
  Write("bytes.vld", PictureWithComment("\x81\x22\x83\x65\xff"));
  RunOptions options;
  options.stdout_path = Path("info.json");
  const ToolRun run = Tool({"info", "--json", odd_name, "quotes.vld", "bytes.vld"}, options);
  ASSERT_EQ(run.status, 0) << run.err;
  // jq parses the output and prints each field back as JSON in ASCII.
  const ToolRun fields =
      RunProgram({"/usr/bin/jq", "-a", "-c", ".[] | [.file, .file_bytes, .comment, .comment_bytes]",
                  Path("info.json")});
  ASSERT_EQ(fields.status, 0) << fields.err;
  std::string hex;
  for (unsigned char c : odd_name) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  EXPECT_EQ(Lines(fields.out),
            std::vector<std::string>({
                "[\"\\ufffd\\ufffd name \\u0001.vld\",\"" + hex + "\",\"abc\",null]",
                R"(["quotes.vld",null,"say \"\\hi\"\t\u0001",null])",
                R"(["bytes.vld",null,"\ufffd\"\u30c6\ufffd","81228365ff"])",
            }));
}

TEST_F(Files, VersionHelpAndOutputSpellings) {
  const ToolRun version = Tool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.rfind("vldtool ", 0) == 0 && version.out.back() == '\n' &&
              std::count(version.out.begin(), version.out.end(), '.') == 2)
      << version.out;
  for (const auto& args : {std::vector<std::string>{"help", "decode"},
                           std::vector<std::string>{"decode", "--help"}})
    EXPECT_EQ(Tool(args).out.rfind("usage: vldtool decode", 0), 0u) << args[0];
  EXPECT_EQ(Tool({"decode", "ex.vld", "--output=o.png"}).status, 0);
  EXPECT_EQ(Read("o.png").compare(0, 8, kPngSignature), 0);
}

TEST_F(Files, ManyFilesIntoAFolder) {
  mkdir(Path("a").c_str(), 0700);
  mkdir(Path("b").c_str(), 0700);
  Write("a/one.vld", kExample);
  Write("bad.vld", "nope");
  ToolRun run = Tool({"decode", "ex.vld", "bad.vld", "missing.vld", "a/one.vld", "-d", "a"});
  EXPECT_EQ(run.status, 1);
  std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 2u) << run.err;
  EXPECT_NE(lines[0].find("bad.vld: bad magic"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("missing.vld"), std::string::npos) << lines[1];
  EXPECT_EQ(List("a"), std::vector<std::string>({"ex.png", "one.png", "one.vld"}));
  run = Tool({"encode", "a/ex.png", "a/one.png", "-d", "b", "--anchor", "1,2"});
  EXPECT_EQ(run.status, 0);
  // One summary line for each picture written.
  lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 2u) << run.err;
  EXPECT_EQ(lines[0].rfind("vldtool: encode: b/ex.vld: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("vldtool: encode: b/one.vld: ", 0), 0u) << lines[1];
  EXPECT_EQ(List("b"), std::vector<std::string>({"ex.vld", "one.vld"}));
  for (const auto& c : {std::make_pair("nowhere", "no such folder"),
                        std::make_pair("ex.vld", "not a folder")}) {
    run = Tool({"decode", "ex.vld", "-d", c.first});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.second), std::string::npos) << run.err;
  }
}

TEST_F(Files, ProgressOnlyOnATerminal) {
  mkdir(Path("d").c_str(), 0700);
  int main_fd = -1, side_fd = -1;
  ASSERT_EQ(openpty(&main_fd, &side_fd, nullptr, nullptr, nullptr), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(127);
    dup2(side_fd, 2);
    dup2(open("/dev/null", O_WRONLY), 1);
    execl(VLDTOOL_PATH, VLDTOOL_PATH, "decode", "ex.vld", "ex.vld", "-d", "d", nullptr);
    _exit(127);
  }
  close(side_fd);
  waitpid(pid, nullptr, 0);
  std::string output;
  char chunk[4096];
  for (ssize_t got; (got = read(main_fd, chunk, sizeof chunk)) > 0;) output.append(chunk, got);
  close(main_fd);
  EXPECT_NE(output.find("[1/2] ex.vld"), std::string::npos) << output;
  EXPECT_NE(output.find("[2/2] ex.vld"), std::string::npos) << output;
  // And none when standard error is not one.
  const ToolRun piped = Tool({"decode", "ex.vld", "ex.vld", "-d", "d"});
  EXPECT_EQ(piped.err.find("[1/2]"), std::string::npos) << piped.err;
}

TEST_F(Files, ExplainWarnsAboutAnOptionThatNamesAFolder) {
  const ToolRun quiet = Tool({"explain", "--seed", "1", "--", "/tr"});
  const ToolRun warned = Tool({"explain", "--seed", "1", "--", "/tr " + dir_});
  EXPECT_EQ(warned.out, quiet.out);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(std::count(warned.err.begin(), warned.err.end(), '\n'), 1);
  EXPECT_NE(warned.err.find("\"" + dir_ + "\""), std::string::npos) << warned.err;
}

TEST_F(Files, ExplainNamesFoldersFromALongWorkingDirectory) {
  std::string deep = dir_;
  while (deep.size() <= 300) {
    deep += "/" + std::string(50, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  RunOptions options;
  options.cwd = deep;
  const ToolRun run = Tool({"explain", "--seed", "1", "--", "\"" + dir_ + "\""}, options);
  EXPECT_NE(run.out.find("candidate=" + Path("ex.vld") + "\n"), std::string::npos) << run.out;
}

}  // namespace
