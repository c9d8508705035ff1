#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// 64-bit FNV-1a of the bytes.
uint64_t fnv1a64(const std::string &bytes);

// "obs-cloud-backup/media/<hash of the local path>_<file name>": files of the same name in
// different folders get different names, and one local path always the same.
std::string mediaRemotePath(const std::string &localPath);

} // namespace kestrel
