#pragma once

#include <cstdarg>

namespace kestrel {

// Same values as libobs' LOG_ERROR .. LOG_DEBUG, so a sink can hand them on unchanged.
enum class LogLevel : int { Error = 100, Warning = 200, Info = 300, Debug = 400 };

// Where the lines go: the plug-in hands them to the OBS log, the command line to its console.
// Without a sink, lines are dropped.
using LogSink = void (*)(int level, const char *format, va_list args, void *context);
void setLogSink(LogSink sink, void *context);
void currentLogSink(LogSink *sink, void **context);

#if defined(__GNUC__) && !defined(__clang__)
__attribute__((format(gnu_printf, 2, 3)))
#elif defined(__clang__)
__attribute__((format(printf, 2, 3)))
#endif
void writeLog(LogLevel level, const char *format, ...);

} // namespace kestrel

// Every line this plug-in writes carries the same prefix; a macro keeps the format string a
// literal so the compiler checks it against the arguments.
#define KESTREL_LOG(level, format, ...)                                                                      \
	::kestrel::writeLog(::kestrel::LogLevel::level, "[Kestrel] " format __VA_OPT__(, ) __VA_ARGS__)
