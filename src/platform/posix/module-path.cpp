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

bool keepOwnLibraryLoaded()
{
	Dl_info info{};
	if (dladdr(reinterpret_cast<void *>(&keepOwnLibraryLoaded), &info) == 0 || !info.dli_fname)
		return false;
	// The reference taken here is never dropped, and NODELETE survives the loader's dlclose.
	return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

} // namespace kestrel::platform
