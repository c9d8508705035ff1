#pragma once

#include "providers/cloud-credentials.h"
#include "providers/cloud-provider.h"
#include "providers/cloud-services.h"

#include <functional>
#include <optional>

namespace kestrel {

class UploadSession;

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

	// Runs the browser sign-in on `authorizationUrl` with a fresh state; the code, or empty with
	// the last error set to the service's reason for a refusal, else to `failure`.
	std::string requestAuthorizationCode(const std::string &authorizationUrl, const std::string &failure);
	// Takes the tokens from a token endpoint's answer; false with a reason when it has none.
	bool storeTokenAnswer(const HttpResponse &answer);
	// Posts `form` to the token endpoint; a new refresh token replaces the old one only when
	// the answer carries one.
	bool refreshWith(const std::string &tokenUrl, const std::string &form, const HttpHeaders &headers);
	// Sends `request` (which must build its headers anew each time): on 401 it refreshes the
	// access token once and sends it again; a busy or unreachable service is given the retries
	// of services_.retry. A request that is not `idempotent` is repeated only when the service
	// surely did not act on it.
	HttpResponse send(const std::function<HttpResponse()> &request, bool idempotent = true,
			  bool refreshOn401 = true);
	virtual bool refreshAccessToken() = 0;

	// The reason a request failed, for the user: the service's status and answer, with a hint
	// for the usual causes.
	std::string failureText(const std::string &what, const HttpResponse &answer) const;
	// The whole local file, or nothing with the last error set; never an empty stand-in.
	std::optional<std::string> readUploadSource(const std::string &localPath);
	// Downloads `url` into a new local file (and its folders), resuming a broken transfer where
	// it stopped; `headers` is asked anew for each attempt. On any failure removes what was
	// written and sets the last error.
	bool receiveFile(const std::string &url, const std::function<HttpHeaders()> &headers,
			 const std::string &localPath, const ProgressCallback &progress);
	// Whether a file of this size goes up through a resumable session.
	bool resumable(const std::string &localPath) const;
	// Sends the file through `session` in chunks of the configured size, rounded down to the
	// service's `unit`; reports (file, 0, 0, 1) before and (file, 100, `lastFirst`, 1) after.
	bool uploadInSession(UploadSession &session, const std::string &localPath, uint64_t unit,
			     const ProgressCallback &progress, int32_t lastFirst);
	// Per-file percentages of a transfer, passed on as (file, percent, first, second).
	static TransferProgress percentOf(const ProgressCallback &progress, const std::string &fileName,
					  int32_t first, int32_t second);

	CloudCredentials credentials_;
	std::string lastError_;
	const CloudServices services_;
	const HttpClient http_;

private:
	const bool hasClientSecret_;
	// Set when a request found no service even after its retries; later requests then fail at
	// once instead of each waiting out the back-off, until one gets an answer.
	bool unreachable_ = false;
};

// A PKCE code verifier: 64 characters drawn from the 66 unreserved ones.
std::string pkceVerifier();
// Its S256 challenge: SHA-256, Base64 with "-" and "_" and no padding (43 characters).
std::string pkceChallenge(const std::string &verifier);

// The last component of a local path, as progress reports name files.
std::string localFileName(const std::string &localPath);

} // namespace kestrel
