#pragma once

#include <string>

namespace lotrix {

// The open-file dialog as the Browse action uses it. Left at the platform's defaults: no
// filter, no title, no options.
class OpenFileDialog {
 public:
  virtual ~OpenFileDialog() = default;

  virtual void SetFileName(const std::string& name) = 0;
  // The folder it opens in; empty for the platform's choice.
  virtual void SetFolder(const std::string& folder) = 0;
  // Shows the dialog modally. Choosing a file makes its full path the file name; cancelling
  // leaves the file name as it was.
  virtual void ShowOpen() = 0;
  virtual std::string FileName() const = 0;
};

// The Browse button's action: the text for the path field, which is the chosen file's full
// path, or empty when the user cancelled. The dialog opens in the folder of the path that
// `field` holds, where there is one.
std::string Browse(OpenFileDialog& dialog, const std::string& field = {});

// The folder a path field's text points into: the folder it names, or the one holding the file
// it names; empty where it names neither.
std::string FolderOfField(const std::string& field);

}  // namespace lotrix
