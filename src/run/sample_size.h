#pragma once

#include <cstdint>
#include <string_view>

#include "run/result.h"

namespace lotrix {

// Reads the sample-size field as a number in the user's locale: white space around it (any that
// Unicode counts, in UTF-8) is ignored, the digits are ASCII, a sign is optional, a fractional
// part after `decimalSeparator` is rounded half to even, and the rounded value must fit a
// signed 16-bit integer. Text that is not such a number gives
// error 13 "Type mismatch"; a number out of range gives error 6 "Overflow".
Result<std::int16_t> ConvertSampleSize(std::string_view text, std::string_view decimalSeparator);

}  // namespace lotrix
