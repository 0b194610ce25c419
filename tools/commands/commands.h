// The sub-commands of vldtool. Each takes the arguments after its own name
// and returns the process exit status.
#pragma once

int RunExplain(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunEncode(int argc, char** argv);
