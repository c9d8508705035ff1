#pragma once

#include "providers/oauth-provider.h"

namespace kestrel {

// OneDrive over Microsoft Graph: items are addressed by path below the drive's root, and the
// sign-in uses PKCE, so there is no client secret.
class OneDriveProvider final : public OAuthProvider {
public:
	explicit OneDriveProvider(CloudServices services = {}) : OAuthProvider(false, std::move(services)) {}

	std::string name() const override { return "OneDrive"; }
	bool authenticate() override { return false; }
	bool verifySignIn() override { return false; }
	bool createFolder(const std::string &) override { return false; }
	bool uploadFile(const std::string &, const std::string &, ProgressCallback) override { return false; }
	bool downloadFile(const std::string &, const std::string &, ProgressCallback) override
	{
		return false;
	}
	bool listFolder(const std::string &, std::vector<RemoteEntry> &) override { return false; }
	bool deleteItem(const std::string &) override { return false; }

private:
	bool refreshAccessToken() override { return false; }
};

} // namespace kestrel
