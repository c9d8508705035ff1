#include "platform/module-path.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

namespace kestrel::platform {

std::string ownLibraryPath()
{
	Dl_info info{};
	if (dladdr(reinterpret_cast<void *>(&ownLibraryPath), &info) == 0 || !info.dli_fname)
		return {};
	char resolved[PATH_MAX];
	if (realpath(info.dli_fname, resolved))
		return resolved;
	return info.dli_fname;
}

} // namespace kestrel::platform
