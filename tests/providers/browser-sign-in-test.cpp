#include "providers/google-drive-provider.h"
#include "providers/onedrive-provider.h"

#include "browser-double.h"
#include "spare-port.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace kestrel {
namespace {

using nlohmann::json;

// oauth2-mock-server from npm, run by node; its events arrive as JSON lines.
class MockAuthorizationServer {
public:
	MockAuthorizationServer()
	{
		const std::string script = std::string(KESTREL_OAUTH_MOCK_DIR) + "/serve.mjs";
		int output[2], input[2];
		if (pipe(output) != 0 || pipe(input) != 0)
			return;
		child_ = fork();
		if (child_ == 0) {
			dup2(output[1], STDOUT_FILENO);
			dup2(input[0], STDIN_FILENO);
			close(output[0]);
			close(input[1]);
			execlp("node", "node", script.c_str(), static_cast<char *>(nullptr));
			_exit(127);
		}
		close(output[1]);
		close(input[0]);
		output_ = output[0];
		input_ = input[1];
		const json ready = next("ready");
		if (ready.is_object())
			url = ready["url"].get<std::string>();
		// It binds 127.0.0.1 but names itself "localhost".
		if (url.rfind("http://localhost:", 0) == 0)
			url.replace(7, 9, "127.0.0.1");
	}
	~MockAuthorizationServer()
	{
		if (input_ >= 0)
			close(input_);
		if (child_ > 0) {
			kill(child_, SIGTERM);
			waitpid(child_, nullptr, 0);
		}
		if (output_ >= 0)
			close(output_);
	}

	// The next event of that kind, skipping others; null after 10 s without one.
	json next(const std::string &kind)
	{
		while (true) {
			size_t end;
			while ((end = pending_.find('\n')) == std::string::npos) {
				pollfd entry{output_, POLLIN, 0};
				char buffer[4096];
				const ssize_t count =
				    poll(&entry, 1, 10000) > 0 ? read(output_, buffer, sizeof(buffer)) : 0;
				if (count <= 0)
					return nullptr;
				pending_.append(buffer, static_cast<size_t>(count));
			}
			const json event = json::parse(pending_.substr(0, end), nullptr, false);
			pending_.erase(0, end + 1);
			if (event.is_object() && event.value("event", "") == kind)
				return event;
		}
	}

	std::string url;

private:
	pid_t child_ = -1;
	int output_ = -1;
	int input_ = -1;
	std::string pending_;
};

class BrowserSignIn : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (!std::filesystem::exists(std::string(KESTREL_OAUTH_MOCK_DIR) +
					     "/node_modules/oauth2-mock-server/package.json"))
			GTEST_SKIP() << "oauth2-mock-server is not installed (npm could not fetch it)";
		server = std::make_unique<MockAuthorizationServer>();
		if (server->url.empty())
			GTEST_SKIP() << "node could not start oauth2-mock-server";
	}

	CloudServices services()
	{
		CloudServices services;
		services.google.authorization = server->url + "/authorize";
		services.google.token = server->url + "/token";
		services.onedrive.authority = server->url;
		services.signIn.port = test::sparePort();
		services.signIn.timeout = std::chrono::seconds(20);
		services.signIn.openBrowser = [this](const std::string &url) { return browser.open(url); };
		return services;
	}

	std::unique_ptr<MockAuthorizationServer> server;
	test::BrowserDouble browser;
};

TEST_F(BrowserSignIn, GoogleDriveReceivesExchangesAndStoresTokens)
{
	GoogleDriveProvider drive(services());
	drive.setClientId("kestrel-test-client");
	drive.setClientSecret("not+so&secret");
	ASSERT_TRUE(drive.authenticate()) << drive.lastError();
	EXPECT_EQ(browser.lastAnswer().status, 200);
	EXPECT_NE(browser.lastAnswer().body.find("Authorization successful"), std::string::npos);

	const json authorize = server->next("authorize");
	ASSERT_TRUE(authorize.is_object());
	EXPECT_NE(authorize["request"].get<std::string>().find("&state="), std::string::npos);
	const json token = server->next("token");
	ASSERT_TRUE(token.is_object());
	EXPECT_EQ(token["status"], 200);
	EXPECT_EQ(token["form"]["grant_type"], "authorization_code");
	EXPECT_EQ(token["form"]["client_secret"], "not+so&secret");

	const json stored = json::parse(drive.serializeTokens());
	EXPECT_FALSE(stored["access_token"].get<std::string>().empty());
	EXPECT_FALSE(stored["refresh_token"].get<std::string>().empty());
	EXPECT_EQ(stored["client_id"], "kestrel-test-client");
}

TEST_F(BrowserSignIn, OneDriveProvesItsPkceVerifier)
{
	OneDriveProvider onedrive(services());
	onedrive.setClientId("kestrel-test-client");
	ASSERT_TRUE(onedrive.authenticate()) << onedrive.lastError();

	const json authorize = server->next("authorize");
	ASSERT_TRUE(authorize.is_object());
	const std::string request = authorize["request"];
	EXPECT_NE(request.find("&code_challenge_method=S256"), std::string::npos);
	// The server checked the verifier against the challenge before it answered.
	const json token = server->next("token");
	ASSERT_TRUE(token.is_object());
	EXPECT_EQ(token["status"], 200);
	const std::string verifier = token["form"]["code_verifier"];
	EXPECT_NE(request.find("code_challenge=" + pkceChallenge(verifier)), std::string::npos);
	EXPECT_EQ(verifier.size(), 64u);
	EXPECT_TRUE(onedrive.isAuthenticated());
	EXPECT_FALSE(onedrive.credentials().refreshToken.empty());
}

} // namespace
} // namespace kestrel
