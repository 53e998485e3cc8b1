#pragma once

#include <functional>
#include <string>

namespace lotrix {

// Whether a file or folder of that name exists.
bool PathExists(const std::string& path);
// Whether a folder of that name exists.
bool IsFolder(const std::string& path);

// Whether the path names a device (/dev/zero, which never ends), a socket, or a file whose text
// the system makes as it is read (the files of /proc and /sys): none has a folder of the user's
// beside it for a sample. Pipes, which end, are not among them.
bool IsDeviceOrMadeAsRead(const std::string& path);

// The input path the path field's text means. The text itself where it names something that
// exists (a name may hold any character); otherwise the first of the readings people's slips
// call for that does: without white space and line breaks at either end, without the quotes a
// copied path comes in, a file:// address from a file manager decoded, a leading "~/" put for
// the home folder (`home`, not on Windows). Where none does, the text as typed, so that the
// sampler's message names what is missing; on Windows without the double quotes around it, which
// no Windows name can hold.
std::string PathFromField(const std::string& text,
                          const std::function<bool(const std::string&)>& exists = PathExists,
                          const std::string& home = {});

// The home folder that "~/" stands for; empty where there is none or the platform has no such
// reading.
std::string HomeFolder();

}  // namespace lotrix
