#include "platform/secret-store.h"

#include "platform/win/wide-text.h"

#include <windows.h>

#include <dpapi.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrel::platform {

namespace {

// Each secret is a file of its own, readable only through this user's DPAPI key.
class ProtectedFileStore final : public SecretStore {
public:
	explicit ProtectedFileStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

	bool reachable(std::string &why) override
	{
		if (!folder_.empty())
			return true;
		why = "no folder for protected secrets";
		return false;
	}

	bool store(const std::string &key, const std::string &secret, std::string &error) override
	{
		if (!plainKey(key, error))
			return false;
		DATA_BLOB plain{static_cast<DWORD>(secret.size()),
				reinterpret_cast<BYTE *>(const_cast<char *>(secret.data()))};
		DATA_BLOB sealed{};
		if (!CryptProtectData(&plain, L"Kestrel cloud backup sign-in", nullptr, nullptr, nullptr,
				      CRYPTPROTECT_UI_FORBIDDEN, &sealed)) {
			error = "CryptProtectData failed (" + std::to_string(GetLastError()) + ")";
			return false;
		}
		std::error_code ec;
		std::filesystem::create_directories(folder_, ec);
		const std::filesystem::path file = fileFor(key);
		const std::filesystem::path partial = file.wstring() + L".new";
		bool written = false;
		{
			std::ofstream out(partial, std::ios::binary | std::ios::trunc);
			out.write(reinterpret_cast<const char *>(sealed.pbData), sealed.cbData);
			written = static_cast<bool>(out.flush());
		}
		LocalFree(sealed.pbData);
		if (written)
			std::filesystem::rename(partial, file, ec);
		if (!written || ec) {
			std::filesystem::remove(partial, ec);
			error = "cannot write " + toUtf8(file.c_str());
			return false;
		}
		return true;
	}

	std::optional<std::string> load(const std::string &key, std::string &error) override
	{
		if (!plainKey(key, error))
			return std::nullopt;
		std::ifstream in(fileFor(key), std::ios::binary);
		if (!in)
			return std::nullopt;
		std::string bytes(std::istreambuf_iterator<char>(in), {});
		DATA_BLOB sealed{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE *>(bytes.data())};
		DATA_BLOB plain{};
		if (!CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr,
					CRYPTPROTECT_UI_FORBIDDEN, &plain)) {
			error = "CryptUnprotectData failed (" + std::to_string(GetLastError()) + ")";
			return std::nullopt;
		}
		std::string secret(reinterpret_cast<const char *>(plain.pbData), plain.cbData);
		SecureZeroMemory(plain.pbData, plain.cbData);
		LocalFree(plain.pbData);
		return secret;
	}

	bool erase(const std::string &key, std::string &error) override
	{
		if (!plainKey(key, error))
			return false;
		std::error_code ec;
		std::filesystem::remove(fileFor(key), ec);
		if (ec)
			error = ec.message();
		return !ec;
	}

private:
	// A key names a file: nothing in it may lead out of the folder.
	static bool plainKey(const std::string &key, std::string &error)
	{
		const bool plain =
		    !key.empty() && key.size() <= 64 &&
		    key.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
					  "0123456789-_") == std::string::npos;
		if (!plain)
			error = "not a secret's name: " + key;
		return plain;
	}
	std::filesystem::path fileFor(const std::string &key) const
	{
		return folder_ / (toWide(key) + L".dpapi");
	}

	const std::filesystem::path folder_;
};

} // namespace

std::shared_ptr<SecretStore> systemSecretStore(const std::string &folder)
{
	return std::make_shared<ProtectedFileStore>(std::filesystem::path(toWide(folder)));
}

} // namespace kestrel::platform
