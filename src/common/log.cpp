#include "common/log.h"

#include <mutex>

namespace kestrel {
namespace {

std::mutex sinkMutex;
LogSink currentSink = nullptr;
void *currentContext = nullptr;

} // namespace

void setLogSink(LogSink sink, void *context)
{
	const std::lock_guard lock(sinkMutex);
	currentSink = sink;
	currentContext = context;
}

void currentLogSink(LogSink *sink, void **context)
{
	const std::lock_guard lock(sinkMutex);
	*sink = currentSink;
	*context = currentContext;
}

void writeLog(LogLevel level, const char *format, ...)
{
	LogSink sink = nullptr;
	void *context = nullptr;
	currentLogSink(&sink, &context);
	if (!sink)
		return;
	va_list args;
	va_start(args, format);
	sink(static_cast<int>(level), format, args, context);
	va_end(args);
}

} // namespace kestrel
