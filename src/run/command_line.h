#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lotrix {

// The sampler's file name, without the platform's executable suffix.
inline constexpr std::string_view kToolName = "lotrix";

// The Windows command line that starts the sampler: the quoted tool path (folder, a backslash
// and "lotrix"), two spaces, the quoted input path, one space and the sample size in decimal.
// The input path is quoted so that Windows' argument parser reads it back exactly; for a path
// without quotes or a trailing backslash that is simply the path between two quotes.
std::string BuildCommandLine(std::string_view folder, std::string_view path, std::int16_t size);

// `argument` between double quotes, escaped as Windows' argument parser expects: a quote inside
// is preceded by a backslash, and the backslashes in front of a quote (the closing one
// included) are doubled.
std::string QuoteArgument(std::string_view argument);

// The argument vector that starts the sampler where programs take one: the tool's path in
// `folder`, the input path untouched, the sample size in decimal.
std::vector<std::string> BuildArgumentVector(std::string_view folder, std::string_view path,
                                             std::int16_t size);

// Where the sampler lives in `folder`, with this platform's separator.
std::string ToolPath(std::string_view folder);

}  // namespace lotrix
