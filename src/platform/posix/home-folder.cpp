#include "platform/home-folder.h"

#include <cstdlib>

namespace kestrel::platform {

std::string homeFolder()
{
	const char *home = std::getenv("HOME");
	return home ? home : "";
}

} // namespace kestrel::platform
