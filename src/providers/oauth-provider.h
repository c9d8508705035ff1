#pragma once

#include "providers/cloud-credentials.h"
#include "providers/cloud-provider.h"
#include "providers/cloud-services.h"

#include <optional>

namespace kestrel {

// What the two cloud back-ends share: an OAuth client, saved tokens and the token text the
// settings file keeps, the browser sign-in and the refresh of an expired access token.
// Signed in means an access token is present.
class OAuthProvider : public ICloudProvider {
public:
	bool isAuthenticated() const override { return !credentials_.accessToken.empty(); }
	void logout() override;
	void setClientId(const std::string &clientId) override { credentials_.clientId = clientId; }
	void setClientSecret(const std::string &clientSecret) override;
	std::string serializeTokens() const override { return credentials_.serialize(hasClientSecret_); }
	void loadTokens(const std::string &json) override { credentials_.load(json, hasClientSecret_); }
	std::string lastError() const override { return lastError_; }
	std::shared_ptr<void> holdBackup(std::chrono::milliseconds patience) override;

	// One authorised request to the service (refreshing an expired token): false with a reason
	// when the saved sign-in no longer works or the service cannot be reached.
	virtual bool verifySignIn() = 0;

	const CloudCredentials &credentials() const { return credentials_; }

protected:
	OAuthProvider(bool hasClientSecret, CloudServices services);

	// Runs the browser sign-in on `authorizationUrl` with a fresh state; the code or empty.
	std::string requestAuthorizationCode(const std::string &authorizationUrl);
	// Takes the tokens from a token endpoint's answer; false with a reason when it has none.
	bool storeTokenAnswer(const HttpResponse &answer);
	// Posts `form` to the token endpoint; a new refresh token replaces the old one only when
	// the answer carries one.
	bool refreshWith(const std::string &tokenUrl, const std::string &form, const HttpHeaders &headers);
	// Sends `request` and, on 401, refreshes once and sends it again.
	template <typename Request> HttpResponse withRefresh(Request request)
	{
		HttpResponse answer = request();
		if (answer.status == 401 && refreshAccessToken())
			answer = request();
		return answer;
	}
	virtual bool refreshAccessToken() = 0;

	// The reason a request failed, for the user: the service's status and answer, with a hint
	// for the usual causes.
	std::string failureText(const std::string &what, const HttpResponse &answer) const;
	// The whole local file, or nothing with the last error set; never an empty stand-in.
	std::optional<std::string> readUploadSource(const std::string &localPath);
	// Downloads `url` into a new local file (and its folders); on any failure removes what was
	// written and sets the last error.
	bool receiveFile(const std::string &url, const HttpHeaders &headers, const std::string &localPath,
			 const ProgressCallback &progress);
	// Per-file percentages of a transfer, passed on as (file, percent, first, second).
	static TransferProgress percentOf(const ProgressCallback &progress, const std::string &fileName,
					  int32_t first, int32_t second);

	CloudCredentials credentials_;
	std::string lastError_;
	const CloudServices services_;
	const HttpClient http_;

private:
	const bool hasClientSecret_;
};

// The last component of a local path, as progress reports name files.
std::string localFileName(const std::string &localPath);

} // namespace kestrel
