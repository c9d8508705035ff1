#pragma once

#include "platform/secret-store.h"

#include <map>

namespace kestrel::test {

// A keyring that lives in memory and can be made unreachable, as on a headless machine.
class MemoryKeyring final : public platform::SecretStore {
public:
	bool reachable(std::string &why) override
	{
		if (!reachableNow)
			why = "no D-Bus session bus";
		return reachableNow;
	}
	bool store(const std::string &key, const std::string &secret, std::string &) override
	{
		secrets[key] = secret;
		return true;
	}
	std::optional<std::string> load(const std::string &key, std::string &) override
	{
		const auto it = secrets.find(key);
		return it == secrets.end() ? std::nullopt : std::optional<std::string>(it->second);
	}
	bool erase(const std::string &key, std::string &) override
	{
		secrets.erase(key);
		return true;
	}

	bool reachableNow = true;
	std::map<std::string, std::string> secrets;
};

} // namespace kestrel::test
