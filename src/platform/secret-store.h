#pragma once

#include <memory>
#include <optional>
#include <string>

namespace kestrel::platform {

// The system's keeper of secrets: the Secret Service (GNOME Keyring, KWallet) on Linux, files
// protected with the user's DPAPI key on Windows. Secrets are UTF-8 texts under a key.
class SecretStore {
public:
	virtual ~SecretStore() = default;

	// False with `why` when no keyring can be reached now (a headless machine, no session bus).
	virtual bool reachable(std::string &why) = 0;
	virtual bool store(const std::string &key, const std::string &secret, std::string &error) = 0;
	// Nothing when the key is unknown, or on failure with `error` set.
	virtual std::optional<std::string> load(const std::string &key, std::string &error) = 0;
	// True also when the key was unknown.
	virtual bool erase(const std::string &key, std::string &error) = 0;
};

// The system's store for this user; Windows keeps its protected files in `folder`.
std::shared_ptr<SecretStore> systemSecretStore(const std::string &folder);

} // namespace kestrel::platform
