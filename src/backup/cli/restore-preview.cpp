#include "restore-preview.h"

#include "backup/utf8-text.h"

namespace kestrel::cli {

namespace {

const char *kindName(EntryKind kind)
{
	switch (kind) {
	case EntryKind::SceneCollection:
		return "scene";
	case EntryKind::Profile:
		return "profile";
	default:
		return "media";
	}
}

} // namespace

size_t printRestorePlan(std::FILE *stream, const std::vector<RestoreStep> &plan)
{
	size_t restored = 0;
	std::fprintf(stream, "%-8s %s\n", "KIND", "DESTINATION");
	for (const auto &step : plan) {
		if (step.refusal.empty()) {
			++restored;
			std::fprintf(stream, "%-8s %s\n", kindName(step.kind),
				     printable(step.destination).c_str());
		} else {
			std::fprintf(stream, "%-8s %s\n", "skip", printable(refusalText(step)).c_str());
		}
	}
	std::fprintf(stream, "\n%zu file(s) to restore, %zu skipped\n", restored, plan.size() - restored);
	return restored;
}

} // namespace kestrel::cli
