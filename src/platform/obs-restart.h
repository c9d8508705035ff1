#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::platform {

// A program that must outlive this process, such as the script that restarts OBS.
struct DetachedCommand {
	std::string program;
	std::vector<std::string> arguments;
};

class ProcessLauncher {
public:
	virtual ~ProcessLauncher() = default;
	// Starts the command in the background, detached from this process; false when it cannot.
	virtual bool startDetached(const DetachedCommand &command) const = 0;
};

// Starts the command for real.
const ProcessLauncher &systemProcessLauncher();

namespace detail {
inline std::atomic<const ProcessLauncher *> installedLauncher{nullptr};
} // namespace detail

// Replaces the launcher, e.g. with one that only records the command in tests; nullptr goes
// back to the system's. The caller keeps ownership and must outlive its use.
inline void setProcessLauncher(const ProcessLauncher *replacement)
{
	detail::installedLauncher.store(replacement, std::memory_order_release);
}

inline const ProcessLauncher &processLauncher()
{
	if (const ProcessLauncher *installed = detail::installedLauncher.load(std::memory_order_acquire))
		return *installed;
	return systemProcessLauncher();
}

// The script that restarts OBS after a restore: it waits a second, ends OBS by force (a clean
// exit would save the old scene collection over the restored one), starts `executable` again
// from `folder` and deletes itself. On Windows it ends every obs64.exe; elsewhere only process
// `processId`, and only while that process still runs `executable`.
std::string obsRestartScript(const std::string &executable, const std::string &folder, int64_t processId);

// Writes the restart script for this OBS process into `tempFolder` and starts it through the
// launcher; false when the script cannot be written or started.
bool restartObsLater(const std::string &executable, const std::string &folder, const std::string &tempFolder);

} // namespace kestrel::platform
