#pragma once

#include <array>

namespace kestrel {

// Columns: English, Spanish, French, Chinese, Japanese (UTF-8).
inline constexpr int uiLanguageCount = 5;
inline constexpr int uiTextRowCount = 110;
using UiTextRow = std::array<const char *, uiLanguageCount>;

extern const std::array<UiTextRow, uiTextRowCount> uiTextTable;

} // namespace kestrel
