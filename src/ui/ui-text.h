#pragma once

#include <QString>

#include <atomic>

namespace kestrel {

// Row ids 0..94 of the five-language table; callers pass only ids from the table.
QString uiText(int id);

// Process-wide language 0..4, initialised once (thread-safe) from QSettings("Orvane",
// "WrenfieldBackups") key "language" (default 1, out of range -> 1); not rewritten until the user picks.
std::atomic<int> &currentLanguage();

// The user's pick: stores it in currentLanguage() and writes "language" to the store at once.
void chooseLanguage(int language);

// "English", "Español", "Français", "中文", "日本語"
QString languageName(int language);

} // namespace kestrel
