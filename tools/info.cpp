// placeholder
#include <cstdio>
#include "tools/commands.h"
int RunInfo(int, char**) { std::fputs("vldtool: info: not built yet\n", stderr); return 2; }
