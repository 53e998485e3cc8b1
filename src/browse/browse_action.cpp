#include "browse/browse_action.h"

namespace lotrix {

std::string Browse(OpenFileDialog& dialog) {
  dialog.SetFileName(std::string());
  dialog.ShowOpen();
  return dialog.FileName();
}

}  // namespace lotrix
