#include "providers/http-transport.h"
#include "providers/retry-policy.h"

#include "loopback-http-server.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using test::LoopbackHttpServer;
using test::ReceivedRequest;
using test::Reply;

Reply redirectingService(const ReceivedRequest &request)
{
	if (request.path == "/moved")
		return {302, "moved", {"Location: /target"}, {}};
	if (request.path == "/target")
		return {200, "arrived", {}, {}};
	if (request.path == "/slow")
		return {200, std::string(64, 'x'), {}, 2500ms};
	if (request.path == "/file") {
		const std::string content = "0123456789";
		const std::string range = request.header("Range");
		if (range.empty() || request.parameter("whole") == "1")
			return {200, content, {"X-Answer: file"}};
		return range == "bytes=4-" ? Reply{206, content.substr(4), {"Content-Range: bytes 4-9/10"}}
					   : Reply{416};
	}
	if (request.path == "/busy")
		return {503, "try later", {"Retry-After: 7"}};
	return {200, request.method + " " + request.body, {}, {}};
}

class HttpTransport : public ::testing::Test {
protected:
	LoopbackHttpServer server{redirectingService};
	HttpClient http;

	size_t requestsFor(const std::string &path) const
	{
		size_t count = 0;
		for (const auto &request : server.requests())
			count += request.path == path;
		return count;
	}
};

TEST_F(HttpTransport, OnlyGetFollowsRedirects)
{
	const HttpResponse got = http.get(server.url("/moved"), {});
	EXPECT_EQ(got.status, 200);
	EXPECT_EQ(got.body, "arrived");
	EXPECT_EQ(requestsFor("/target"), 1u);

	for (const HttpResponse &answer :
	     {http.post(server.url("/moved"), "a=1", {}), http.put(server.url("/moved"), "bytes", {}),
	      http.remove(server.url("/moved"), {})}) {
		EXPECT_EQ(answer.status, 302);
		EXPECT_EQ(answer.body, "moved");
	}
	EXPECT_EQ(requestsFor("/target"), 1u);

	std::stringstream file;
	EXPECT_TRUE(http.downloadToFile(server.url("/moved"), {}, file).transferred);
	EXPECT_EQ(file.str(), "arrived");
}

TEST_F(HttpTransport, MethodsCarryTheirBodiesWhole)
{
	const std::string binary("a\0b\xff\r\n", 6);
	EXPECT_EQ(http.post(server.url("/echo"), binary, {}).body, "POST " + binary);
	EXPECT_EQ(http.put(server.url("/echo"), binary, {}).body, "PUT " + binary);
	EXPECT_EQ(http.remove(server.url("/echo"), {}).body, "DELETE ");
	// Large enough that the client asks the server to continue before sending.
	const std::string large(3 << 20, 'z');
	EXPECT_EQ(http.put(server.url("/echo"), large, {}).body.size(), 4 + large.size());
}

TEST_F(HttpTransport, HeadersGoOutInOrderAndNoneWhenNoneAreGiven)
{
	http.get(server.url("/echo"), {"X-First: 1", "X-Second: two", bearerHeader("tok")});
	http.get(server.url("/echo"), {});
	const auto requests = server.requests();
	ASSERT_EQ(requests.size(), 2u);
	std::vector<std::string> named;
	for (const auto &[name, value] : requests[0].headers)
		if (name.rfind("X-", 0) == 0 || name == "Authorization")
			named.push_back(name + ": " + value);
	EXPECT_EQ(named,
		  (std::vector<std::string>{"X-First: 1", "X-Second: two", "Authorization: Bearer tok"}));
	for (const auto &[name, value] : requests[1].headers)
		EXPECT_TRUE(name.rfind("X-", 0) != 0 && name != "Authorization") << name;
}

TEST_F(HttpTransport, UnreachableOrStalledServersGiveStatusZero)
{
	uint16_t closedPort;
	{
		const auto probe = platform::LoopbackSocket::listen(0);
		closedPort = probe.port();
	}
	const std::string nowhere = "http://127.0.0.1:" + std::to_string(closedPort) + "/x";
	const HttpResponse answer = http.get(nowhere, {});
	EXPECT_EQ(answer.status, 0);
	EXPECT_TRUE(answer.body.empty());
	EXPECT_EQ(http.post(nowhere, "x", {}).status, 0);
	std::stringstream file;
	EXPECT_FALSE(http.downloadToFile(nowhere, {}, file).transferred);

	// The status line has come, the body never does: a stall, not an answer.
	const HttpClient impatient(HttpLimits{2, 1});
	const auto started = std::chrono::steady_clock::now();
	EXPECT_EQ(impatient.get(server.url("/slow"), {}).status, 0);
	EXPECT_LT(std::chrono::steady_clock::now() - started, 2400ms);
}

TEST_F(HttpTransport, DownloadStopsWhenTheFileCannotBeWritten)
{
	std::stringstream broken;
	broken.setstate(std::ios::badbit);
	const DownloadResult result = http.downloadToFile(server.url("/target"), {}, broken);
	EXPECT_FALSE(result.transferred);
	EXPECT_FALSE(result.error.empty());
}

TEST_F(HttpTransport, ReportsBytesWhileSending)
{
	uint64_t lastDone = 0, lastTotal = 0;
	http.put(server.url("/echo"), std::string(1 << 20, 'p'), {}, [&](uint64_t done, uint64_t total) {
		lastDone = done;
		lastTotal = total;
	});
	EXPECT_EQ(lastTotal, 1u << 20);
	EXPECT_EQ(lastDone, 1u << 20);
}

TEST_F(HttpTransport, DownloadsResumeFromAnOffsetAndKeepErrorPagesOut)
{
	std::stringstream file("0123XXXX");
	DownloadResult resumed = http.downloadToFile(server.url("/file"), {}, file, 4);
	EXPECT_EQ(resumed.status, 206);
	EXPECT_EQ(resumed.written, 10u);
	EXPECT_EQ(file.str(), "0123456789");

	// A service that sends everything again starts the file over.
	std::stringstream again("0123XXXX");
	const DownloadResult whole = http.downloadToFile(server.url("/file?whole=1"), {}, again, 4);
	EXPECT_EQ(whole.status, 200);
	EXPECT_EQ(whole.written, 10u);
	EXPECT_EQ(again.str(), "0123456789");

	std::stringstream untouched("kept");
	const DownloadResult busy = http.downloadToFile(server.url("/busy"), {}, untouched);
	EXPECT_EQ(busy.status, 503);
	EXPECT_EQ(busy.errorBody, "try later");
	EXPECT_EQ(busy.retryAfter, "7");
	EXPECT_EQ(untouched.str(), "kept");
}

TEST_F(HttpTransport, StreamedPutsSendJustTheirRangeAndAnswersKeepTheirHeaders)
{
	std::istringstream source("abcdefghij");
	source.seekg(3);
	const HttpResponse answer = http.putStream(server.url("/echo"), source, 4, {});
	EXPECT_EQ(answer.body, "PUT defg");
	EXPECT_EQ(http.get(server.url("/file"), {}).header("x-answer"), "file");

	// A source that ends before its announced length is not sent as if whole.
	std::istringstream shorter("abc");
	const HttpResponse cut = http.putStream(server.url("/echo"), shorter, 10, {});
	EXPECT_EQ(cut.status, 0);
	EXPECT_TRUE(cut.sent);
	EXPECT_EQ(urlOrigin("HTTPS://Graph.Example:443/v1.0/me?x=1"), "https://graph.example:443");
	EXPECT_EQ(urlOrigin("no-scheme/path"), "");
}

TEST(RetrySchedule, BacksOffWithinItsCountAndBudgetAndHonoursRetryAfter)
{
	const auto now = std::chrono::sys_days(std::chrono::year(2026) / 3 / 1) + 12h;
	EXPECT_EQ(parseRetryAfter("120", now), 120s);
	EXPECT_EQ(parseRetryAfter("Sun, 01 Mar 2026 12:00:30 GMT", now), 30s);
	EXPECT_EQ(parseRetryAfter("Sun, 01 Mar 2026 11:00:00 GMT", now), 0ms);
	for (const char *junk : {"", "-1", "soon", "99999999999", "Sun, 41 Mar 2026 12:00:30 GMT"})
		EXPECT_FALSE(parseRetryAfter(junk, now)) << junk;

	RetryLimits limits;
	limits.attempts = 4;
	RetrySchedule schedule(limits);
	EXPECT_FALSE(schedule.nextWait(404, ""));
	EXPECT_FALSE(schedule.nextWait(401, ""));
	std::chrono::milliseconds ceiling = limits.firstDelay;
	for (int32_t status : {503, 0, 429}) {
		const auto wait = schedule.nextWait(status, "");
		ASSERT_TRUE(wait) << status;
		EXPECT_GE(*wait, ceiling / 2);
		EXPECT_LE(*wait, ceiling);
		ceiling *= 2;
	}
	EXPECT_FALSE(schedule.nextWait(503, "")) << "four attempts in all";

	limits.attempts = 10;
	RetrySchedule patient(limits);
	EXPECT_EQ(patient.nextWait(429, "200"), 200s);
	EXPECT_FALSE(patient.nextWait(429, "200")) << "beyond the time budget";
	EXPECT_TRUE(patient.nextWait(502, "")) << "a shorter wait still fits";
}

TEST(PercentEncoding, KeepsOnlyUnreservedBytes)
{
	EXPECT_EQ(percentEncode("a b/c"), "a%20b%2Fc");
	EXPECT_EQ(percentEncodePath("a b/c"), "a%20b/c");
	EXPECT_EQ(percentEncode("\xC3\xA9"), "%C3%A9");
	EXPECT_EQ(percentEncode("AZaz09-._~"), "AZaz09-._~");
	EXPECT_EQ(percentEncode("'\\+&=%"), "%27%5C%2B%26%3D%25");
	// Form values keep "+", "&", "=" and "%" intact; a space becomes "+".
	EXPECT_EQ(formEncode({{"code", "4/a+b&c=d%e"}, {"scope", "Files.ReadWrite offline_access"}}),
		  "code=4%2Fa%2Bb%26c%3Dd%25e&scope=Files.ReadWrite+offline_access");
}

} // namespace
} // namespace kestrel
