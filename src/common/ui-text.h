#pragma once

#include "common/ui-text-table.h"

#include <QString>

#include <atomic>

namespace kestrel {

// The row in the current language; an id outside the table shows nothing.
QString uiText(TextId id);

// Process-wide language 0..uiLanguageCount - 1, initialised once (thread-safe) from QSettings("Orvane",
// "WrenfieldBackups") key "language" (default 1, out of range -> 1); not rewritten until the user picks.
std::atomic<int> &currentLanguage();

// The user's pick: stores it in currentLanguage() and writes "language" to the store at once.
void chooseLanguage(int language);

// "English", "Español", "Français", "中文", "日本語"
QString languageName(int language);

} // namespace kestrel
