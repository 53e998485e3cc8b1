#pragma once

#include <string>

namespace lotrix {

// The open-file dialog as the Browse action uses it. Left at the platform's defaults: no
// filter, no title, no starting folder, no options.
class OpenFileDialog {
 public:
  virtual ~OpenFileDialog() = default;

  virtual void SetFileName(const std::string& name) = 0;
  // Shows the dialog modally. Choosing a file makes its full path the file name; cancelling
  // leaves the file name as it was.
  virtual void ShowOpen() = 0;
  virtual std::string FileName() const = 0;
};

// The Browse button's action: the text for the path field, which is the chosen file's full
// path, or empty when the user cancelled. Nothing of the field's earlier text is offered to the
// dialog.
std::string Browse(OpenFileDialog& dialog);

}  // namespace lotrix
