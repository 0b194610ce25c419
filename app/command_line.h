// The viewer's command line made from the words a POSIX program is handed.
#pragma once

#include <string>

// Joins `words` into the text the options and the picture choice read (the
// part after the program name). A word that names an existing file or folder
// (`exists` says so) is a name even when it starts with '/' or '-', and goes
// in quotes, so blanks in it stay part of it; any other word starting with
// '/' or '-' is an option; every other word is a name, which may name
// nothing. A name holding '"' cannot be quoted and is left out: no picture
// file the viewer could open is called so on Windows either.
std::string CommandLineFromWords(int count, const char* const* words,
                                 bool (*exists)(const char* name));
