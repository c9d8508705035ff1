#pragma once

#include <string>
#include <vector>

namespace kestrel::platform {

// True when the standard error stream is an interactive terminal (progress bars go there).
bool stderrIsTerminal();

// True when the standard input is an interactive terminal (questions can be asked).
bool stdinIsTerminal();

// The program's arguments in UTF-8, the program name first. Windows hands `argv` over in the
// ANSI code page, which cannot spell every folder or collection name, so there they are read
// again in UTF-16; the console is also told to show UTF-8 output.
std::vector<std::string> utf8Arguments(int argc, char **argv);

} // namespace kestrel::platform
