#include "platform/pkce-crypto.h"

#include <openssl/evp.h>

namespace kestrel::platform {

std::string sha256Digest(std::string_view bytes)
{
	unsigned char digest[EVP_MAX_MD_SIZE];
	unsigned int length = 0;
	if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
		return {};
	return std::string(reinterpret_cast<const char *>(digest), length);
}

std::string base64Encode(std::string_view bytes)
{
	std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
	const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()),
					   reinterpret_cast<const unsigned char *>(bytes.data()),
					   static_cast<int>(bytes.size()));
	text.resize(length < 0 ? 0 : static_cast<size_t>(length));
	return text;
}

} // namespace kestrel::platform
