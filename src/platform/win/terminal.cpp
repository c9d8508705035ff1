#include "platform/terminal.h"

#include <io.h>
#include <stdio.h>

namespace kestrel::platform {

bool stderrIsTerminal()
{
	return _isatty(_fileno(stderr)) != 0;
}

bool stdinIsTerminal()
{
	return _isatty(_fileno(stdin)) != 0;
}

} // namespace kestrel::platform
