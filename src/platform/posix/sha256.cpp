#include "platform/sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace kestrel::platform {

namespace {

using Digest = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Digest startDigest()
{
	Digest context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
	if (context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
		context.reset();
	return context;
}

std::string finishHex(EVP_MD_CTX *context)
{
	unsigned char digest[EVP_MAX_MD_SIZE];
	unsigned int length = 0;
	if (EVP_DigestFinal_ex(context, digest, &length) != 1)
		return {};
	static constexpr char kHex[] = "0123456789abcdef";
	std::string hex;
	for (unsigned int i = 0; i < length; ++i) {
		hex += kHex[digest[i] >> 4];
		hex += kHex[digest[i] & 15];
	}
	return hex;
}

} // namespace

std::string sha256Hex(std::string_view bytes)
{
	const Digest context = startDigest();
	if (!context || EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1)
		return {};
	return finishHex(context.get());
}

std::optional<std::string> sha256HexOfFile(const std::string &path)
{
	const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return std::nullopt;
	// Checked on the open file: a file swapped for a link to /dev/zero would be read forever.
	struct stat info {};
	if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
		close(fd);
		return std::nullopt;
	}
	// A small file gets a buffer of its size: thousands of them are hashed in a run.
	constexpr size_t kPiece = 1 << 20;
	const size_t piece = info.st_size >= 0 && static_cast<size_t>(info.st_size) < kPiece
				 ? static_cast<size_t>(info.st_size) + 1
				 : kPiece;
	const auto buffer = std::make_unique_for_overwrite<char[]>(piece);
	const Digest context = startDigest();
	bool ok = context != nullptr;
	while (ok) {
		const ssize_t got = read(fd, buffer.get(), piece);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0) {
			ok = got == 0;
			break;
		}
		ok = EVP_DigestUpdate(context.get(), buffer.get(), static_cast<size_t>(got)) == 1;
	}
	close(fd);
	if (!ok)
		return std::nullopt;
	std::string hex = finishHex(context.get());
	return hex.empty() ? std::nullopt : std::optional<std::string>(std::move(hex));
}

} // namespace kestrel::platform
