#pragma once

#include <filesystem>
#include <string>

namespace kestrel {

// Texts are UTF-8 everywhere; file-system paths are decoded only where a file is touched
// (wide characters on Windows).
inline std::filesystem::path pathFromUtf8(const std::string &text)
{
	return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8FromPath(const std::filesystem::path &path)
{
	const std::u8string text = path.u8string();
	return std::string(text.begin(), text.end());
}

} // namespace kestrel
