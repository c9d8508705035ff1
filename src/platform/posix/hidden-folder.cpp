#include "platform/hidden-folder.h"

namespace kestrel::platform {

std::string markedHiddenFolderAbove(const std::string &)
{
	return {};
}

} // namespace kestrel::platform
