// Arguments, names and the console on Windows, where text comes in the ANSI
// code page unless asked for as UTF-16.
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/text/cp932.h"
#include "tools/system/terminal.h"

namespace {

struct TypedArgument {
  const char* argument;
  std::string utf8;
};
std::vector<TypedArgument> s_typed_arguments;

std::string WideToUtf8(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], length, nullptr, nullptr);
  text.pop_back();
  return text;
}

}  // namespace

void RememberArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  // The two parsers agree but for odd quoting; then the ANSI text is used.
  if (count == argc)
    for (int i = 0; i < argc; ++i) s_typed_arguments.push_back({argv[i], WideToUtf8(wide[i])});
  LocalFree(wide);
}

std::string ArgumentText(const char* argument) {
  // The argument may be the value part of "--option=VALUE"; the ASCII name
  // before it is as long in both forms.
  for (const TypedArgument& typed : s_typed_arguments) {
    const size_t length = std::strlen(typed.argument);
    if (argument < typed.argument || argument > typed.argument + length) continue;
    const size_t offset = static_cast<size_t>(argument - typed.argument);
    bool ascii = offset <= typed.utf8.size();
    for (size_t i = 0; i < offset && ascii; ++i) ascii = static_cast<uint8_t>(typed.argument[i]) < 0x80;
    if (ascii) return typed.utf8.substr(offset);
  }
  std::string text;
  NameToUtf8(argument, &text);
  return text;
}

int NameToUtf8(const std::string& name, std::string* out) {
  // Names come in the system's ANSI code page.
  const int wide_length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(),
                                              static_cast<int>(name.size()), nullptr, 0);
  if (!name.empty() && wide_length > 0) {
    std::wstring wide(static_cast<size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                        &wide[0], wide_length);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    out->assign(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, &(*out)[0], length, nullptr, nullptr);
    return 1;
  }
  return ValidUtf8(name, out);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

void BeginUtf8Console(ConsoleState* state) {
  state->code_page = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
}

void EndUtf8Console(const ConsoleState& state) {
  std::fflush(stdout);
  if (state.code_page != 0) SetConsoleOutputCP(state.code_page);
}
