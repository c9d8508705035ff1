#pragma once

#include "obs-harness.h"

#include <cstdint>
#include <functional>

namespace kestrel::test {

// Where the push-to-delay filter put a held span of voice in OBS's mix, in samples from the
// first packet sent with the key held.
struct HeldKeySpan {
	int64_t liveSilentFrom = -1;
	int64_t liveSilentTo = -1;
	int64_t delayedFrom = -1;
	int64_t delayedTo = -1;
};

// Packets of 1024 samples held, fewer than the 0.5 s delay of pushToDelaySettings, so the
// delayed voice comes out after the live one is back.
inline constexpr int kHeldPackets = 15;
inline constexpr double kHeldDelaySeconds = 0.5;

// Plays a voice at 0.2 through `mic` (the filter's source, alone in the mix) with the key up,
// then kHeldPackets packets at 0.5 with the key held, then 0.2 again. `setKey` holds or lets
// go of the key between packets and returns once the filter will see the change.
HeldKeySpan measureHeldKeySpan(obs_source_t *mic, const std::function<void(bool)> &setKey);

// The held span is silent live and comes out kHeldDelaySeconds later, exactly as long.
void expectHeldSpanDelayedExactly(const HeldKeySpan &span);

OBSDataAutoRelease pushToDelaySettings(int key);

} // namespace kestrel::test
