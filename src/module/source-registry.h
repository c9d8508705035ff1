#pragma once

namespace kestrel {

// Registers every delay source type with OBS, in the fixed order of the registration table.
void registerDelaySources();

} // namespace kestrel
