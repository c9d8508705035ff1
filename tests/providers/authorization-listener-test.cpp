#include "providers/authorization-listener.h"

#include "platform/loopback-socket.h"
#include "spare-port.h"

#include <gtest/gtest.h>

#include <thread>

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using platform::LoopbackSocket;

// Sends `pieces` with `pause` between them and returns the whole answer.
std::string browse(uint16_t port, const std::vector<std::string> &pieces,
		   std::chrono::milliseconds pause = 0ms,
		   LoopbackSocket::Family family = LoopbackSocket::Family::IPv4)
{
	LoopbackSocket connection = LoopbackSocket::connect(port, family);
	for (const auto &piece : pieces) {
		connection.sendAll(piece);
		std::this_thread::sleep_for(pause);
	}
	std::string answer;
	while (connection.receive(answer, 65536, 3s) == LoopbackSocket::Received::Data) {
	}
	return answer;
}

std::string get(const std::string &target)
{
	return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\nAccept: text/html\r\n\r\n";
}

// A browser double: once the listener opens it, it makes the requests `visits` describes.
class SignIn : public ::testing::Test {
protected:
	SignInOptions options;
	std::vector<std::string> answers;
	std::vector<std::string> statuses;
	std::string refusal;
	std::thread browser;
	int opened = 0;

	SignIn()
	{
		options.port = test::sparePort();
		options.timeout = 5s;
		options.status = [this](const std::string &text) { statuses.push_back(text); };
	}
	std::string signIn(std::function<void(uint16_t port)> visits)
	{
		options.openBrowser = [this, visits](const std::string &url) {
			EXPECT_EQ(url, "https://auth.example/authorize");
			++opened;
			browser = std::thread([this, visits] { visits(options.port); });
			return true;
		};
		const AuthorizationAnswer answer =
		    waitForAuthorizationCode("https://auth.example/authorize", "S1", options);
		if (browser.joinable())
			browser.join();
		refusal = answer.refusal;
		return answer.code;
	}

	void visit(uint16_t port, const std::string &target)
	{
		answers.push_back(browse(port, {get(target)}));
	}
};

TEST_F(SignIn, AcceptsTheCodeWithItsStateOnAnyPath)
{
	EXPECT_EQ(signIn([this](uint16_t port) { visit(port, "/callback?code=abc&state=S1"); }), "abc");
	ASSERT_EQ(answers.size(), 1u);
	EXPECT_EQ(
	    answers[0].rfind("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n", 0),
	    0u);
	EXPECT_NE(answers[0].find("&#10003; Authorization successful"), std::string::npos);
	EXPECT_NE(answers[0].find("#f0fdf4"), std::string::npos);
	EXPECT_EQ(answers[0].substr(answers[0].size() - 9), "</html>\r\n");
	EXPECT_EQ(statuses, (std::vector<std::string>{"Waiting for browser authorization\u2026",
						      "Authorization code received."}));

	EXPECT_EQ(signIn([this](uint16_t port) { visit(port, "/elsewhere?state=S1&code=4%2Fa+b%2f"); }),
		  "4/a b/");
}

TEST_F(SignIn, KeepsWaitingAfterRequestsWithoutAValidCode)
{
	const std::string code = signIn([this](uint16_t port) {
		visit(port, "/favicon.ico");
		visit(port, "/callback");
		visit(port, "/callback?code=stolen&state=other");
		visit(port, "/callback?code=nostate");
		answers.push_back(browse(port, {"POST /callback?code=abc&state=S1 HTTP/1.1\r\n\r\n"}));
		visit(port, "/callback?error_code=x&state=S1");
		visit(port, "/callback?error=access_denied&state=forged");
		visit(port, "/callback?code=good&state=S1");
	});
	EXPECT_EQ(code, "good");
	ASSERT_EQ(answers.size(), 8u);
	for (size_t i = 0; i + 1 < answers.size(); ++i) {
		EXPECT_EQ(answers[i].rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << i;
		EXPECT_NE(answers[i].find("<h2>Authorization failed. Please try again from OBS.</h2>"),
			  std::string::npos);
	}
}

TEST_F(SignIn, ARefusalEndsTheWaitAtOnceWithTheServicesReason)
{
	options.timeout = 30s;
	const auto started = std::chrono::steady_clock::now();
	EXPECT_EQ(signIn([this](uint16_t port) {
			  visit(port,
				"/callback?error=access_denied&error_description=The+user+said+no&state=S1");
		  }),
		  "");
	EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
	EXPECT_EQ(refusal, "access_denied: The user said no");
	EXPECT_EQ(statuses.back(), "Authorization was denied: access_denied: The user said no");
	ASSERT_EQ(answers.size(), 1u);
	EXPECT_EQ(answers[0].rfind("HTTP/1.1 400", 0), 0u);
}

// A browser may resolve "localhost" to [::1]: the code must reach this listener there too,
// and a port another program holds on [::1] stops the sign-in before the browser opens.
TEST_F(SignIn, HoldsTheIPv6LoopbackToo)
{
	if (!LoopbackSocket::hasIPv6())
		GTEST_SKIP() << "this system has no IPv6 loopback";
	EXPECT_EQ(signIn([this](uint16_t port) {
			  answers.push_back(browse(port, {get("/callback?code=v6&state=S1")}, 0ms,
						   LoopbackSocket::Family::IPv6));
		  }),
		  "v6");
	const LoopbackSocket squatter = LoopbackSocket::listen(options.port, LoopbackSocket::Family::IPv6);
	ASSERT_TRUE(squatter.valid());
	statuses.clear();
	EXPECT_EQ(signIn([](uint16_t) {}), "");
	EXPECT_EQ(opened, 1);
	EXPECT_EQ(statuses, std::vector<std::string>{"Cannot bind to port " + std::to_string(options.port) +
						     " on [::1]"});
}

TEST_F(SignIn, ATakenPortEndsAtOnceWithoutABrowser)
{
	const LoopbackSocket holder = LoopbackSocket::listen(0);
	options.port = holder.port();
	const auto started = std::chrono::steady_clock::now();
	EXPECT_EQ(signIn([](uint16_t) {}), "");
	EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
	EXPECT_EQ(opened, 0);
	EXPECT_EQ(statuses, std::vector<std::string>{"Cannot bind to port " + std::to_string(options.port)});
}

TEST_F(SignIn, SlowSilentAndOversizedRequests)
{
	const std::string code = signIn([this](uint16_t port) {
		// Nothing ever arrives on this one; it must not hold up the others for long.
		LoopbackSocket silent = LoopbackSocket::connect(port);
		std::this_thread::sleep_for(50ms);
		answers.push_back(
		    browse(port, {"GET /callback?" + std::string(5000, 'x'), "&code=big&state=S1"}));
		answers.push_back(
		    browse(port, {"GET /callback?code=sl", "ow&state=S1 HTTP/1.1\r\n", "\r\n"}, 300ms));
	});
	EXPECT_EQ(code, "slow");
	ASSERT_EQ(answers.size(), 2u);
	EXPECT_EQ(answers[0].rfind("HTTP/1.1 400", 0), 0u);
	EXPECT_EQ(answers[1].rfind("HTTP/1.1 200", 0), 0u);
}

TEST(SignInRequest, QueryAndParameters)
{
	EXPECT_EQ(requestQuery("GET /callback?code=abc HTTP/1.1\r\n"), "code=abc");
	EXPECT_EQ(requestQuery("GET /callback HTTP/1.1\r\nX: ?code=abc\r\n"), "");
	EXPECT_EQ(requestQuery("POST /callback?code=abc HTTP/1.1\r\n"), "");
	EXPECT_EQ(queryParameter("error_code=1&code=2", "code"), "2");
	EXPECT_EQ(queryParameter("code=%2F%2f%zz%4", "code"), "//%zz%4");
	EXPECT_EQ(queryParameter("state=&code=", "code"), "");
	EXPECT_EQ(redirectUri(), "http://localhost:8765/callback");
	const std::string state = randomState();
	EXPECT_EQ(state.size(), 32u);
	EXPECT_NE(state, randomState());
	EXPECT_EQ(state.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
		  std::string::npos);
}

} // namespace
} // namespace kestrel
