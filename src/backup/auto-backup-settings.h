#pragma once

#include <cstdint>

namespace kestrel {

// Which events make a backup by themselves, and how many backups the history keeps.
struct AutoBackupSettings {
	static constexpr int32_t kMinKept = 1;
	static constexpr int32_t kMaxKept = 50;

	bool afterStream = false;
	bool afterRecording = false;
	bool onExit = false;
	bool dailyAtStart = false;
	int32_t kept = 5;
};

} // namespace kestrel
