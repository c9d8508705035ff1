#pragma once

#include "providers/oauth-provider.h"

namespace kestrel {

// Google Drive v3: remote paths are walked by name one folder at a time from the Drive's root;
// small files go up in one multipart request, larger ones through a resumable session, and
// files come down as raw content.
class GoogleDriveProvider final : public OAuthProvider {
public:
	explicit GoogleDriveProvider(CloudServices services = {}) : OAuthProvider(true, std::move(services))
	{
	}

	std::string name() const override { return "Google Drive"; }
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
	HttpHeaders authHeaders() const;
	std::string findChild(const std::string &parentId, const std::string &name, bool foldersOnly);
	std::string createChildFolder(const std::string &parentId, const std::string &name);
	// The id of the item at `remotePath` ("root" for an empty path); empty when missing.
	std::string resolvePath(const std::string &remotePath);
	// As resolvePath for folders, creating each missing one on the way.
	std::string ensureFolderPath(const std::string &remotePath);
	HttpResponse uploadMultipart(const std::string &url, const std::string &metadata,
				     const std::string &bytes, const std::string &fileName,
				     const ProgressCallback &progress);
	class ResumableSession;

	const GoogleEndpoints &endpoints() const { return services_.google; }
};

// A Drive query string literal: "\" and "'" escaped, so any name stays one value.
std::string driveQueryLiteral(const std::string &text);

} // namespace kestrel
