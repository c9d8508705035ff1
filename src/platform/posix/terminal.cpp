#include "platform/terminal.h"

#include <unistd.h>

namespace kestrel::platform {

bool stderrIsTerminal()
{
	return isatty(STDERR_FILENO) == 1;
}

bool stdinIsTerminal()
{
	return isatty(STDIN_FILENO) == 1;
}

} // namespace kestrel::platform
