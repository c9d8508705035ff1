#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

// Both write the new content into a file no other process can reach (created exclusively, or
// unnamed where the system allows) and only then put it in the target's place, so an
// interrupted write never leaves a truncated file where a good one stood; the old file stays as
// it was on failure. They return the system's error text, empty on success.

// A link at the target is replaced by the copy, never written through. `progress` hears the
// bytes copied so far while the copy goes on.
std::string
copyFileAtomically(const std::filesystem::path &source, const std::filesystem::path &target,
		   const std::function<void(uint64_t copied, uint64_t total)> &progress = nullptr);

// For a target under a name nothing relies on yet: written in place, created exclusively; a
// copy cut short there may stay behind after a crash. An existing target is replaced whole.
std::string
copyFileToFreshName(const std::filesystem::path &source, const std::filesystem::path &target,
		    const std::function<void(uint64_t copied, uint64_t total)> &progress = nullptr);

// A link at the target is followed (a user's ini kept with their dotfiles stays linked).
// `privateToUser` gives the new file owner-only permissions (credentials); otherwise an existing
// target's permissions are kept.
std::string writeFileAtomically(const std::filesystem::path &target, std::string_view bytes,
				bool privateToUser = false);

// Where a new file for `target` is written before it takes its place: beside it, hidden on POSIX,
// named after it with a mark, so a leftover of a run that was killed is recognisable. The
// unique-file call appends random letters and digits.
std::string temporarySiblingPrefix(const std::filesystem::path &target);
// True for a name made from such a prefix (a leftover when no run is writing it).
bool isTemporarySibling(const std::string &name);

// Line breaks as a text-mode stream of this system writes them (CR LF on Windows).
std::string withNativeLineEnds(std::string_view text);

} // namespace kestrel
