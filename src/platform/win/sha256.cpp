#include "platform/sha256.h"

#include "platform/win/wide-text.h"

#include <wincrypt.h>

#include <vector>

namespace kestrel::platform {

namespace {

// A CryptoAPI hash object with the provider that owns it.
class Sha256 {
public:
	Sha256()
	{
		if (!CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
			provider_ = 0;
		else if (!CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_))
			hash_ = 0;
	}
	~Sha256()
	{
		if (hash_)
			CryptDestroyHash(hash_);
		if (provider_)
			CryptReleaseContext(provider_, 0);
	}
	Sha256(const Sha256 &) = delete;
	Sha256 &operator=(const Sha256 &) = delete;

	bool add(const void *bytes, size_t size)
	{
		const auto *next = static_cast<const BYTE *>(bytes);
		while (hash_ && size > 0) {
			const DWORD piece = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
			if (!CryptHashData(hash_, next, piece, 0))
				return false;
			next += piece;
			size -= piece;
		}
		return hash_ != 0;
	}

	std::string hex()
	{
		BYTE digest[32];
		DWORD length = sizeof digest;
		if (!hash_ || !CryptGetHashParam(hash_, HP_HASHVAL, digest, &length, 0))
			return {};
		static constexpr char kHex[] = "0123456789abcdef";
		std::string text;
		for (DWORD i = 0; i < length; ++i) {
			text += kHex[digest[i] >> 4];
			text += kHex[digest[i] & 15];
		}
		return text;
	}

private:
	HCRYPTPROV provider_ = 0;
	HCRYPTHASH hash_ = 0;
};

} // namespace

std::string sha256Hex(std::string_view bytes)
{
	Sha256 hash;
	return hash.add(bytes.data(), bytes.size()) ? hash.hex() : std::string();
}

std::optional<std::string> sha256HexOfFile(const std::string &path)
{
	HANDLE file = CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
				  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return std::nullopt;
	if (GetFileType(file) != FILE_TYPE_DISK) {
		CloseHandle(file);
		return std::nullopt;
	}
	Sha256 hash;
	std::vector<char> buffer(1 << 20);
	bool ok = true;
	for (;;) {
		DWORD got = 0;
		if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
			ok = false;
			break;
		}
		if (got == 0)
			break;
		if (!hash.add(buffer.data(), got)) {
			ok = false;
			break;
		}
	}
	CloseHandle(file);
	std::string hex = ok ? hash.hex() : std::string();
	return hex.empty() ? std::nullopt : std::optional<std::string>(std::move(hex));
}

} // namespace kestrel::platform
