#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>

namespace kestrel::test {

// A profile with a subfolder nobody may read. While it lives, the creating thread and threads it
// starts obey file permissions even when run by root (capabilities are per thread and inherited
// by new threads).
class UnreadableProfile {
public:
	explicit UnreadableProfile(const std::filesystem::path &profiles) : locked_(profiles / "Locked/sub")
	{
		std::filesystem::create_directories(locked_);
		std::filesystem::permissions(locked_, std::filesystem::perms::none);
		syscall(SYS_capget, &header_, saved_);
		__user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
		reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
		syscall(SYS_capset, &header_, reduced);
	}
	~UnreadableProfile()
	{
		syscall(SYS_capset, &header_, saved_);
		std::filesystem::permissions(locked_, std::filesystem::perms::owner_all);
	}
	UnreadableProfile(const UnreadableProfile &) = delete;
	UnreadableProfile &operator=(const UnreadableProfile &) = delete;

private:
	std::filesystem::path locked_;
	__user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
	__user_cap_data_struct saved_[2]{};
};

} // namespace kestrel::test
