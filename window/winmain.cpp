#include "app/options.h"
#include "window/window.h"

// The C runtime's own idea of the command line is not used: the viewer
// removes the program name by its own rule, which the options and the
// picture choice both rely on.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int) {
  return RunViewer(instance, previous, SkipProgramName(GetCommandLineA()));
}
