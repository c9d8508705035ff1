#include "backup/backup-manager.h"

#include "fuzz-support.h"

using namespace kestrel;

// Any settings file (and the token text inside it) loads without a fault into a known back-end.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz::writeScratch(std::string(reinterpret_cast<const char *>(data), size));
	BackupEnvironment environment;
	environment.settingsPath = fuzz::scratchFile();
	BackupManager manager(environment);
	manager.loadSettings();
	const auto kind = static_cast<int32_t>(manager.providerKind());
	fuzz::require(kind >= 0 && kind <= 2, "a known back-end");
	return 0;
}
