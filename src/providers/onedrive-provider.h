#pragma once

#include "providers/oauth-provider.h"

namespace kestrel {

// OneDrive over Microsoft Graph: items are addressed by path below the drive's root, and the
// sign-in uses PKCE, so there is no client secret. Larger files go up through an upload session.
class OneDriveProvider final : public OAuthProvider {
public:
	explicit OneDriveProvider(CloudServices services = {}) : OAuthProvider(false, std::move(services)) {}

	std::string name() const override { return "OneDrive"; }
	bool authenticate() override;
	bool verifySignIn() override;
	bool createFolder(const std::string &remotePath) override;
	bool uploadFile(const std::string &localPath, const std::string &remotePath,
			ProgressCallback progress) override;
	bool downloadFile(const std::string &remotePath, const std::string &localPath,
			  ProgressCallback progress) override;
	bool listFolder(const std::string &remotePath, std::vector<RemoteEntry> &entries) override;
	bool deleteItem(const std::string &remotePath) override;

private:
	bool refreshAccessToken() override;
	std::string itemUrl(const std::string &remotePath) const;
	// The bearer header while a token is held, then `contentType` when given.
	HttpHeaders headers(const std::string &contentType = {}) const;

	const OneDriveEndpoints &endpoints() const { return services_.onedrive; }
	class UploadSessionOfGraph;
};

} // namespace kestrel
