#pragma once

#include "platform/secret-store.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace kestrel {

// The secret half of the settings: the client secret and the token text.
struct SignInSecrets {
	std::string clientSecret;
	std::string tokens;
};

// Where the settings keep a sign-in: in the system keyring when one is reachable, with only a
// reference ("secret_ref") in the file; otherwise in the file itself, readable by this user
// only, which the log says once. Older files that hold their secrets inline still load.
class SettingsSecrets {
public:
	explicit SettingsSecrets(std::shared_ptr<platform::SecretStore> keyring)
	    : keyring_(std::move(keyring))
	{
	}

	// The secrets that `settings` holds or refers to. `shouldMove` tells that they lie in the
	// file while a keyring is reachable: rewriting the file moves them there.
	SignInSecrets read(const nlohmann::json &settings, bool &shouldMove);
	// The members of the new settings that keep `secrets`, reusing the reference of the file
	// being replaced (`previous`, an object or null).
	nlohmann::json members(const SignInSecrets &secrets, const nlohmann::json &previous);

private:
	bool keyringReachable();

	std::shared_ptr<platform::SecretStore> keyring_;
};

} // namespace kestrel
