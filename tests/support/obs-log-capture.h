#pragma once

#include "log-capture.h"

#include <util/base.h>

namespace kestrel::test {

// Also records what reaches the OBS log: the lines of the loaded module.
class ObsLogCapture : public LogCapture {
public:
	ObsLogCapture()
	{
		base_get_log_handler(&previous_, &previousParam_);
		base_set_log_handler(&LogCapture::record, static_cast<LogCapture *>(this));
	}
	~ObsLogCapture() { base_set_log_handler(previous_, previousParam_); }

private:
	log_handler_t previous_ = nullptr;
	void *previousParam_ = nullptr;
};

} // namespace kestrel::test
