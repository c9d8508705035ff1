#pragma once

#include <QString>

#include <string>

namespace kestrel {

// A restore's "Skipped (reason): file" log line in the dialog's language; a reason the table
// does not know stays as the engine gave it.
QString skippedLineText(const std::string &reason, const std::string &file);

} // namespace kestrel
