#pragma once

#include "providers/authorization-listener.h"
#include "providers/http-transport.h"
#include "providers/retry-policy.h"

#include <string>

namespace kestrel {

// Google's published OAuth 2.0 and Drive v3 endpoints.
struct GoogleEndpoints {
	std::string authorization = "https://accounts.google.com/o/oauth2/v2/auth";
	std::string token = "https://oauth2.googleapis.com/token";
	std::string files = "https://www.googleapis.com/drive/v3/files";
	std::string upload = "https://www.googleapis.com/upload/drive/v3/files";
	std::string scope = "https://www.googleapis.com/auth/drive.file";
};

// Microsoft's identity platform for personal accounts and Graph v1.0.
struct OneDriveEndpoints {
	std::string authority = "https://login.microsoftonline.com/consumers/oauth2/v2.0";
	std::string graph = "https://graph.microsoft.com/v1.0";
};

// When a file goes up in chunks through a resumable session instead of in one request.
struct UploadLimits {
	uint64_t resumableFrom = 4 << 20;
	// Rounded down to the service's unit (256 KiB for Drive, 320 KiB for Graph), at least one.
	uint64_t chunkBytes = 8 << 20;
};

// Where the cloud back-ends connect and how they sign in; tests point them at loopback.
struct CloudServices {
	GoogleEndpoints google;
	OneDriveEndpoints onedrive;
	HttpLimits http;
	RetryLimits retry;
	UploadLimits uploads;
	SignInOptions signIn;
	// A folder on this computer for the lock that keeps two runs off one account at once;
	// empty = runs are not kept apart.
	std::string runLockFolder;
};

} // namespace kestrel
