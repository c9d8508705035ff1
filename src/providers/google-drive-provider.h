#pragma once

#include "providers/oauth-provider.h"

namespace kestrel {

class GoogleDriveProvider final : public OAuthProvider {
public:
	GoogleDriveProvider() : OAuthProvider(true) {}

	std::string name() const override { return "Google Drive"; }
};

} // namespace kestrel
