#pragma once

#include "providers/http-transport.h"

#include <string>
#include <thread>

namespace kestrel::test {

// Stands in for the user's browser: follows the authorization URL and its redirects, so the
// service's answer lands on the sign-in listener as a real browser's would.
class BrowserDouble {
public:
	~BrowserDouble() { finish(); }

	bool open(const std::string &url)
	{
		finish();
		++opened;
		lastUrl = url;
		thread_ = std::thread([this, url] { lastAnswer = HttpClient().get(url, {}); });
		return true;
	}
	void finish()
	{
		if (thread_.joinable())
			thread_.join();
	}

	int opened = 0;
	std::string lastUrl;
	HttpResponse lastAnswer;

private:
	std::thread thread_;
};

} // namespace kestrel::test
