#pragma once

#include "platform/obs-restart.h"

#include <vector>

namespace kestrel::test {

// A launcher that only records what it was asked to start, installed while it lives.
class RecordingLauncher final : public platform::ProcessLauncher {
public:
	RecordingLauncher() { platform::setProcessLauncher(this); }
	~RecordingLauncher() override { platform::setProcessLauncher(nullptr); }
	RecordingLauncher(const RecordingLauncher &) = delete;
	RecordingLauncher &operator=(const RecordingLauncher &) = delete;

	bool startDetached(const platform::DetachedCommand &command) const override
	{
		started.push_back(command);
		return true;
	}

	mutable std::vector<platform::DetachedCommand> started;
};

} // namespace kestrel::test
