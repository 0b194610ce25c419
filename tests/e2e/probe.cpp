// Looks at the viewer from outside, the way the desktop sees it: launches it,
// finds its window, reports the window's rectangle and styles, times how long
// it lives and when its picture first reaches the screen. Also serves as the
// minimal one-window program that start-up times are compared with.
//
//   probe launch RESULT DIRECTORY PROGRAM [ARGUMENTS...]
//   probe info RESULT
//   probe find RESULT CLASS
//   probe firstpaint RESULT X Y RGBHEX PROGRAM [ARGUMENTS...]
//   probe window RGBHEX
//   probe resources RESULT PROGRAM
//
// Results are lines of text appended to RESULT; nothing goes to the console,
// since programs started inside a Wine desktop have none to speak of.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

FILE* g_result = nullptr;

void Report(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vfprintf(g_result, format, arguments);
  va_end(arguments);
  fflush(g_result);
}

double Now() {
  static LARGE_INTEGER frequency = {};
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The command line as a user's shell would build it: the program in quotes,
// then the arguments as given.
std::string CommandLine(int argc, char** argv, int first) {
  std::string line = "\"";
  line += argv[first];
  line += "\"";
  for (int i = first + 1; i < argc; ++i) {
    line += " ";
    line += argv[i];
  }
  return line;
}

int Start(const std::string& line, const char* directory, PROCESS_INFORMATION* process) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string writable = line;
  return CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &startup, process)
             ? 1
             : 0;
}

HWND FindViewer() {
  return FindWindowA("VLDW", nullptr);
}

void ReportWindow(const char* tag, HWND window, double t) {
  RECT outer = {}, client = {};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  char title[128] = {};
  GetWindowTextA(window, title, sizeof title);
  Report(
      "%s t=%.1f rect=%ld,%ld,%ld,%ld client=%ld,%ld,%ld,%ld style=%08lx exstyle=%08lx "
      "visible=%d foreground=%d title=%s\n",
      tag, t, outer.left, outer.top, outer.right, outer.bottom, origin.x, origin.y, client.right,
      client.bottom, static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
      static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)),
      IsWindowVisible(window) ? 1 : 0, GetForegroundWindow() == window ? 1 : 0, title);
}

int Launch(int argc, char** argv) {
  if (argc < 5) return 2;
  PROCESS_INFORMATION process = {};
  double start = Now();
  if (!Start(CommandLine(argc, argv, 4), argv[3], &process)) {
    Report("failed %lu\n", GetLastError());
    return 1;
  }
  Report("started\n");
  HWND reported = nullptr;
  bool created = false;
  for (;;) {
    DWORD wait = WaitForSingleObject(process.hProcess, 2);
    HWND window = FindViewer();
    // The close timer starts as the window is made; under Wine showing it
    // may come a good while later.
    if (window != nullptr && !created) {
      Report("created t=%.1f\n", Now() - start);
      created = true;
    }
    if (window != nullptr && window != reported && IsWindowVisible(window)) {
      ReportWindow("window", window, Now() - start);
      reported = window;
    }
    if (wait == WAIT_OBJECT_0) break;
    if (Now() - start > 120000) {
      Report("timeout\n");
      TerminateProcess(process.hProcess, 99);
      return 1;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  Report("exit code=%lu t=%.1f\n", static_cast<unsigned long>(code), Now() - start);
  return 0;
}

int Info() {
  HWND window = FindViewer();
  if (window == nullptr) {
    Report("none\n");
  } else {
    ReportWindow("window", window, 0);
  }
  return 0;
}

// Any top-level window of the class, with its title and its first static text
// (a message box's), both as UTF-8.
int Find(const char* class_name) {
  HWND window = FindWindowA(class_name, nullptr);
  if (window == nullptr) {
    Report("none\n");
    return 0;
  }
  wchar_t title[256] = {}, text[256] = {};
  GetWindowTextW(window, title, 256);
  GetDlgItemTextW(window, 0xFFFF, text, 256);
  char title8[768] = {}, text8[768] = {};
  WideCharToMultiByte(CP_UTF8, 0, title, -1, title8, sizeof title8, nullptr, nullptr);
  WideCharToMultiByte(CP_UTF8, 0, text, -1, text8, sizeof text8, nullptr, nullptr);
  Report("found title=%s\ntext=%s\n", title8, text8);
  return 0;
}

// Time from process creation until the screen shows `colour` at (x, y).
int FirstPaint(int argc, char** argv) {
  if (argc < 7) return 2;
  int x = atoi(argv[3]);
  int y = atoi(argv[4]);
  COLORREF colour = static_cast<COLORREF>(strtoul(argv[5], nullptr, 16));
  COLORREF wanted = RGB(GetBValue(colour), GetGValue(colour), GetRValue(colour));
  HDC screen = GetDC(nullptr);
  PROCESS_INFORMATION process = {};
  double start = Now();
  if (!Start(CommandLine(argc, argv, 6), nullptr, &process)) return 1;
  double seen = -1;
  while (Now() - start < 30000) {
    if (GetPixel(screen, x, y) == wanted) {
      seen = Now() - start;
      break;
    }
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
  }
  ReleaseDC(nullptr, screen);
  Report("firstpaint t=%.1f\n", seen);
  WaitForSingleObject(process.hProcess, 30000);
  return 0;
}

LRESULT CALLBACK EmptyWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER || message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// The yardstick: one plain window that paints its background and goes away.
int EmptyWindow(const char* colour_text) {
  COLORREF colour = static_cast<COLORREF>(strtoul(colour_text, nullptr, 16));
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = EmptyWindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground =
      CreateSolidBrush(RGB(GetBValue(colour), GetGValue(colour), GetRValue(colour)));
  window_class.lpszClassName = "VLDPROBE";
  RegisterClassA(&window_class);
  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "VLDPROBE", "probe", WS_POPUP, 0,
                                0, 204, 124, nullptr, nullptr, window_class.hInstance, nullptr);
  ShowWindow(window, SW_SHOWNA);
  UpdateWindow(window);
  SetTimer(window, 1, 1000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}

std::string Utf8(const wchar_t* text) {
  char buffer[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return buffer;
}

// What Windows reads from a program file: its version information through
// the version API (the fixed part, the translations and each translation's
// strings), its icon, and the manifest the loader applies.
int Resources(const char* program) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(program, &ignored);
  std::vector<char> data(size);
  if (size == 0 || !GetFileVersionInfoA(program, 0, size, data.data())) {
    Report("noversion error=%lu\n", GetLastError());
  } else {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) &&
        length >= sizeof *fixed) {
      Report("fixed file=%lu.%lu.%lu.%lu product=%lu.%lu.%lu.%lu type=%lu\n",
             HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
             HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
             HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
             HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS),
             fixed->dwFileType);
    }
    WORD* translations = nullptr;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translations), &length)) {
      length = 0;
    }
    static const wchar_t* const kNames[] = {L"CompanyName",    L"FileDescription",
                                            L"FileVersion",    L"InternalName",
                                            L"LegalCopyright", L"OriginalFilename",
                                            L"ProductName",    L"ProductVersion"};
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
      Report("translation %04x %u\n", translations[i], translations[i + 1]);
      for (const wchar_t* name : kNames) {
        wchar_t path[128];
        swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations[i],
                 translations[i + 1], name);
        wchar_t* value = nullptr;
        UINT count = 0;
        if (VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &count)) {
          Report("string %04x %s=%s\n", translations[i], Utf8(name).c_str(), Utf8(value).c_str());
        }
      }
    }
  }
  HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    Report("noload error=%lu\n", GetLastError());
    return 1;
  }
  if (FindResourceA(module, MAKEINTRESOURCEA(103), RT_GROUP_ICON) != nullptr) Report("icon 103\n");
  HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST);
  const char* text = manifest ? static_cast<const char*>(LockResource(LoadResource(module, manifest)))
                              : nullptr;
  if (text != nullptr) {
    DWORD bytes = SizeofResource(module, manifest);
    Report("manifest bytes=%lu\n%.*s\n", static_cast<unsigned long>(bytes),
           static_cast<int>(bytes), text);
  }
  FreeLibrary(module);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "window") == 0) return EmptyWindow(argv[2]);
  if (argc < 3) return 2;
  g_result = fopen(argv[2], "a");
  if (g_result == nullptr) return 3;
  int rc = 2;
  if (strcmp(argv[1], "launch") == 0) rc = Launch(argc, argv);
  if (strcmp(argv[1], "info") == 0) rc = Info();
  if (strcmp(argv[1], "find") == 0 && argc >= 4) rc = Find(argv[3]);
  if (strcmp(argv[1], "firstpaint") == 0) rc = FirstPaint(argc, argv);
  if (strcmp(argv[1], "resources") == 0 && argc >= 4) rc = Resources(argv[3]);
  fclose(g_result);
  return rc;
}
