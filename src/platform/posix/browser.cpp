#include "platform/browser.h"

#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char **environ;

namespace kestrel::platform {

bool openInBrowser(const std::string &url)
{
	std::string program = "xdg-open";
	std::string argument = url;
	char *argv[] = {program.data(), argument.data(), nullptr};
	pid_t child = 0;
	if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, argv, environ) != 0)
		return false;
	// Some browsers keep xdg-open running until they close; reap it whenever it ends.
	std::thread([child] { waitpid(child, nullptr, 0); }).detach();
	return true;
}

} // namespace kestrel::platform
