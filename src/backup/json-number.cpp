#include "backup/json-number.h"

#include <cmath>

namespace kestrel {

std::optional<int64_t> integerInRange(const nlohmann::json &value, int64_t min, int64_t max)
{
	int64_t number = 0;
	if (value.is_number_unsigned()) {
		const uint64_t unsignedNumber = value.get<uint64_t>();
		if (unsignedNumber > static_cast<uint64_t>(INT64_MAX))
			return std::nullopt;
		number = static_cast<int64_t>(unsignedNumber);
	} else if (value.is_number_float()) {
		// Converting a double outside int64_t's range is undefined; 2^63 itself is outside.
		const double real = value.get<double>();
		if (!std::isfinite(real) || std::trunc(real) != real || real < -0x1p63 || real >= 0x1p63)
			return std::nullopt;
		number = static_cast<int64_t>(real);
	} else {
		number = value.get<int64_t>();
	}
	if (number < min || number > max)
		return std::nullopt;
	return number;
}

} // namespace kestrel
