#pragma once

namespace kestrel::platform {

// True when the standard error stream is an interactive terminal (progress bars go there).
bool stderrIsTerminal();

// True when the standard input is an interactive terminal (questions can be asked).
bool stdinIsTerminal();

} // namespace kestrel::platform
