#include "platform/terminal.h"

#include "platform/win/wide-text.h"

#include <shellapi.h>

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

std::vector<std::string> utf8Arguments(int argc, char **argv)
{
	SetConsoleOutputCP(CP_UTF8);
	int count = 0;
	LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
	if (!wide)
		return std::vector<std::string>(argv, argv + argc);
	std::vector<std::string> arguments;
	for (int i = 0; i < count; ++i)
		arguments.push_back(toUtf8(wide[i]));
	LocalFree(wide);
	return arguments;
}

} // namespace kestrel::platform
