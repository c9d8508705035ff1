#pragma once

#include "providers/cloud-credentials.h"
#include "providers/cloud-provider.h"

namespace kestrel {

// What the two cloud back-ends share: an OAuth client, saved tokens and the token text the
// settings file keeps. Signed in means an access token is present.
class OAuthProvider : public ICloudProvider {
public:
	bool isAuthenticated() const override { return !credentials_.accessToken.empty(); }
	void logout() override;
	void setClientId(const std::string &clientId) override { credentials_.clientId = clientId; }
	void setClientSecret(const std::string &clientSecret) override;
	std::string serializeTokens() const override { return credentials_.serialize(hasClientSecret_); }
	void loadTokens(const std::string &json) override { credentials_.load(json, hasClientSecret_); }
	std::string lastError() const override { return lastError_; }

	// Sign-in and transfers over the service's HTTP interface; until a back-end provides them
	// they fail with a clear reason.
	bool authenticate() override;
	bool createFolder(const std::string &remotePath) override;
	bool uploadFile(const std::string &localPath, const std::string &remotePath,
			ProgressCallback progress) override;
	bool downloadFile(const std::string &remotePath, const std::string &localPath,
			  ProgressCallback progress) override;
	bool listFolder(const std::string &remotePath, std::vector<RemoteEntry> &entries) override;
	bool deleteItem(const std::string &remotePath) override;

	const CloudCredentials &credentials() const { return credentials_; }

protected:
	explicit OAuthProvider(bool hasClientSecret);

	CloudCredentials credentials_;
	std::string lastError_;

private:
	bool unavailable();

	const bool hasClientSecret_;
};

} // namespace kestrel
