// placeholder
#include <cstdio>
#include "tools/commands.h"
int RunDecode(int, char**) { std::fputs("vldtool: decode: not built yet\n", stderr); return 2; }
int RunEncode(int, char**) { std::fputs("vldtool: encode: not built yet\n", stderr); return 2; }
