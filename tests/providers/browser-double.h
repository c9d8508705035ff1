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
		thread_ = std::thread([this, url] { answer_ = HttpClient().get(url, {}); });
		return true;
	}
	void finish()
	{
		if (thread_.joinable())
			thread_.join();
	}

	// What the sign-in page answered; waits for the browser to have read all of it.
	const HttpResponse &lastAnswer()
	{
		finish();
		return answer_;
	}

	int opened = 0;
	std::string lastUrl;

private:
	std::thread thread_;
	HttpResponse answer_;
};

} // namespace kestrel::test
