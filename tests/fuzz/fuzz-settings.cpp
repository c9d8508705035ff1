#include "backup/auto-backup-state.h"
#include "backup/backup-manager.h"

#include "fuzz-support.h"

using namespace kestrel;

// Any settings file (and the token text inside it) loads without a fault into a known back-end
// and a kept count the history can use; the automatic backups' state file, read from the same
// bytes, reads back as it was written.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz::writeScratch(std::string(reinterpret_cast<const char *>(data), size));
	BackupEnvironment environment;
	environment.settingsPath = fuzz::scratchFile();
	BackupManager manager(environment);
	manager.loadSettings();
	const auto kind = static_cast<int32_t>(manager.providerKind());
	fuzz::require(kind >= 0 && kind <= 2, "a known back-end");
	fuzz::require(manager.autoBackup.kept >= AutoBackupSettings::kMinKept &&
			  manager.autoBackup.kept <= AutoBackupSettings::kMaxKept,
		      "a kept count in range");

	const AutoBackupState state =
	    readAutoBackupState(std::string(reinterpret_cast<const char *>(data), size));
	const std::string text = autoBackupStateText(state);
	fuzz::require(autoBackupStateText(readAutoBackupState(text)) == text, "the state reads back");
	return 0;
}
