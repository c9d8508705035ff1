#include "loopback-http-server.h"

#include "providers/authorization-listener.h"

#include <cstdlib>
#include <stdexcept>
#include <strings.h>

namespace kestrel::test {

using namespace std::chrono_literals;

namespace {

std::string percentDecode(const std::string &text)
{
	std::string out;
	for (size_t i = 0; i < text.size(); ++i) {
		if (text[i] == '%' && i + 2 < text.size()) {
			out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
			i += 2;
		} else {
			out += text[i];
		}
	}
	return out;
}

} // namespace

std::string ReceivedRequest::header(const std::string &name) const
{
	for (const auto &[key, value] : headers)
		if (strcasecmp(key.c_str(), name.c_str()) == 0)
			return value;
	return {};
}

std::string ReceivedRequest::parameter(const std::string &name) const
{
	return queryParameter(query, name);
}

std::string ReceivedRequest::formField(const std::string &name) const
{
	return queryParameter(body, name);
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler)
    : handler_(std::move(handler)), listener_(platform::LoopbackSocket::listen(0))
{
	if (!listener_.valid())
		throw std::runtime_error("cannot listen on loopback");
	port_ = listener_.port();
	thread_ = std::thread([this] { serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
	stopping_ = true;
	thread_.join();
}

std::string LoopbackHttpServer::url(const std::string &path) const
{
	return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> LoopbackHttpServer::requests() const
{
	std::lock_guard lock(mutex_);
	return requests_;
}

void LoopbackHttpServer::addFault(Fault fault)
{
	std::lock_guard lock(mutex_);
	faults_.push_back(std::move(fault));
}

std::optional<Fault> LoopbackHttpServer::takeFault(const ReceivedRequest &request)
{
	std::lock_guard lock(mutex_);
	for (auto it = faults_.begin(); it != faults_.end(); ++it) {
		if (it->method != request.method || request.target.find(it->target) == std::string::npos)
			continue;
		Fault fault = *it;
		if (--it->times <= 0)
			faults_.erase(it);
		return fault;
	}
	return std::nullopt;
}

void LoopbackHttpServer::serve()
{
	while (!stopping_) {
		platform::LoopbackSocket connection = listener_.accept(20ms);
		if (connection.valid())
			answer(connection);
	}
}

void LoopbackHttpServer::answer(platform::LoopbackSocket &connection)
{
	std::string data;
	size_t headEnd;
	while ((headEnd = data.find("\r\n\r\n")) == std::string::npos)
		if (connection.receive(data, 65536, 2s) != platform::LoopbackSocket::Received::Data)
			return;
	ReceivedRequest request;
	const std::string head = data.substr(0, headEnd);
	size_t lineEnd = head.find("\r\n");
	const std::string requestLine = head.substr(0, lineEnd);
	const size_t space1 = requestLine.find(' ');
	const size_t space2 = requestLine.find(' ', space1 + 1);
	request.method = requestLine.substr(0, space1);
	request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
	const size_t question = request.target.find('?');
	request.path = percentDecode(request.target.substr(0, question));
	request.query = question == std::string::npos ? std::string() : request.target.substr(question + 1);
	while (lineEnd != std::string::npos) {
		const size_t next = head.find("\r\n", lineEnd + 2);
		const std::string line = head.substr(lineEnd + 2, next - lineEnd - 2);
		const size_t colon = line.find(':');
		if (colon != std::string::npos)
			request.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
		lineEnd = next;
	}
	if (strcasecmp(request.header("Expect").c_str(), "100-continue") == 0)
		connection.sendAll("HTTP/1.1 100 Continue\r\n\r\n");
	const size_t length = std::strtoull(request.header("Content-Length").c_str(), nullptr, 10);
	request.body = data.substr(headEnd + 4);
	while (request.body.size() < length)
		if (connection.receive(request.body, length - request.body.size(), 2s) !=
		    platform::LoopbackSocket::Received::Data)
			break;
	// Large bodies are not kept for the tests to look at.
	{
		std::lock_guard lock(mutex_);
		ReceivedRequest &kept = requests_.emplace_back();
		kept = {request.method, request.target, request.path, request.query, request.headers, {}};
		if (request.body.size() <= 65536)
			kept.body = request.body;
	}
	const std::optional<Fault> fault = takeFault(request);
	if (fault && fault->reply) {
		send(connection, *fault->reply, std::nullopt);
		return;
	}
	if (fault && fault->keepBytes) {
		request.body.resize(std::min(request.body.size(), *fault->keepBytes));
		handler_(request);
		return; // the connection drops before any answer
	}
	send(connection, handler_(request), fault ? fault->cutBodyAfter : std::nullopt);
}

void LoopbackHttpServer::send(platform::LoopbackSocket &connection, const Reply &reply,
			      std::optional<uint64_t> cutBodyAfter)
{
	const uint64_t length = reply.bodyPart ? reply.bodyLength : reply.body.size();
	std::string response = "HTTP/1.1 " + std::to_string(reply.status) +
			       " Answer\r\nContent-Length: " + std::to_string(length) +
			       "\r\nConnection: close\r\n";
	for (const auto &line : reply.headers)
		response += line + "\r\n";
	response += "\r\n";
	connection.sendAll(response);
	if (reply.stallBeforeBody > 0ms)
		std::this_thread::sleep_for(reply.stallBeforeBody);
	const uint64_t end = std::min(length, cutBodyAfter.value_or(length));
	constexpr uint64_t kPiece = 1 << 20;
	for (uint64_t offset = 0; offset < end; offset += kPiece) {
		const uint64_t piece = std::min(kPiece, end - offset);
		if (!connection.sendAll(reply.bodyPart ? reply.bodyPart(offset, piece)
						       : std::string_view(reply.body).substr(offset, piece)))
			return;
	}
}

} // namespace kestrel::test
