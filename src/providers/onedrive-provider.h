#pragma once

#include "providers/oauth-provider.h"

namespace kestrel {

// OneDrive signs in with PKCE, so it has no client secret.
class OneDriveProvider final : public OAuthProvider {
public:
	OneDriveProvider() : OAuthProvider(false) {}

	std::string name() const override { return "OneDrive"; }
};

} // namespace kestrel
