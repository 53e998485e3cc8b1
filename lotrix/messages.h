#pragma once

#include <string>
#include <string_view>

namespace lotrix {

// `name` as a message shows it. A name that reads plainly stays as it is. One that holds a line
// break or another control character (an escape sequence would act on the terminal), bytes that
// are no UTF-8, marks that reorder or hide text, or white space at either end would break the
// message or hide why a file was not found; it is shown in the shell's $'...' form instead,
// which a user can see through and paste back into a shell to get the same bytes.
std::string Quoted(std::string_view name);

}  // namespace lotrix
