#pragma once

#include <util/base.h>

// Every line this plug-in writes to the OBS log carries the same prefix; a macro keeps the
// format string a literal so the compiler checks it against the arguments.
#define KESTREL_LOG(level, format, ...) blog(level, "[Kestrel] " format __VA_OPT__(, ) __VA_ARGS__)
