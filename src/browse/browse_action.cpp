#include "browse/browse_action.h"

#include "run/path_field.h"

namespace lotrix {

std::string FolderOfField(const std::string& field) {
  const std::string path = PathFromField(field, PathExists, HomeFolder());
  if (IsFolder(path)) return path;
#ifdef _WIN32
  const std::size_t separator = path.find_last_of("\\/");
#else
  const std::size_t separator = path.find_last_of('/');
#endif
  if (separator == std::string::npos) return {};
  // The root keeps its separator: / and C:\, not nothing and C:.
  const bool root = separator == 0 || (separator == 2 && path[1] == ':');
  const std::string folder = path.substr(0, root ? separator + 1 : separator);
  return IsFolder(folder) ? folder : std::string();
}

std::string Browse(OpenFileDialog& dialog, const std::string& field) {
  dialog.SetFileName(std::string());
  dialog.SetFolder(FolderOfField(field));
  dialog.ShowOpen();
  return dialog.FileName();
}

}  // namespace lotrix
