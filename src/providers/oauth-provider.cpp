#include "providers/oauth-provider.h"

namespace kestrel {

OAuthProvider::OAuthProvider(bool hasClientSecret) : hasClientSecret_(hasClientSecret)
{
	initCurlOnce();
}

void OAuthProvider::logout()
{
	credentials_.accessToken.clear();
	credentials_.refreshToken.clear();
}

void OAuthProvider::setClientSecret(const std::string &clientSecret)
{
	if (hasClientSecret_)
		credentials_.clientSecret = clientSecret;
}

bool OAuthProvider::unavailable()
{
	lastError_ = name() + " is not available in this build; choose a local folder.";
	return false;
}

bool OAuthProvider::authenticate()
{
	return unavailable();
}

bool OAuthProvider::createFolder(const std::string &)
{
	return unavailable();
}

bool OAuthProvider::uploadFile(const std::string &, const std::string &, ProgressCallback)
{
	return unavailable();
}

bool OAuthProvider::downloadFile(const std::string &, const std::string &, ProgressCallback)
{
	return unavailable();
}

bool OAuthProvider::listFolder(const std::string &, std::vector<RemoteEntry> &)
{
	return unavailable();
}

bool OAuthProvider::deleteItem(const std::string &)
{
	return unavailable();
}

} // namespace kestrel
