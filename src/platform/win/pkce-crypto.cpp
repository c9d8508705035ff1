#include "platform/pkce-crypto.h"

#include <windows.h>

#include <wincrypt.h>

namespace kestrel::platform {

std::string sha256Digest(std::string_view bytes)
{
	HCRYPTPROV provider = 0;
	if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
		return {};
	std::string digest;
	HCRYPTHASH hash = 0;
	if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
		BYTE value[32];
		DWORD length = sizeof(value);
		if (CryptHashData(hash, reinterpret_cast<const BYTE *>(bytes.data()),
				  static_cast<DWORD>(bytes.size()), 0) &&
		    CryptGetHashParam(hash, HP_HASHVAL, value, &length, 0))
			digest.assign(reinterpret_cast<const char *>(value), length);
		CryptDestroyHash(hash);
	}
	CryptReleaseContext(provider, 0);
	return digest;
}

std::string base64Encode(std::string_view bytes)
{
	if (bytes.empty())
		return {};
	const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
	DWORD length = 0;
	if (!CryptBinaryToStringA(reinterpret_cast<const BYTE *>(bytes.data()),
				  static_cast<DWORD>(bytes.size()), flags, nullptr, &length))
		return {};
	std::string text(length, '\0');
	if (!CryptBinaryToStringA(reinterpret_cast<const BYTE *>(bytes.data()),
				  static_cast<DWORD>(bytes.size()), flags, text.data(), &length))
		return {};
	text.resize(length); // without the terminating zero
	return text;
}

} // namespace kestrel::platform
