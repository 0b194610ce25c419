// placeholder
#include <cstdio>
#include "tools/commands.h"
int RunExplain(int, char**) { std::fputs("vldtool: explain: not built yet\n", stderr); return 2; }
