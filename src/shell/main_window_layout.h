#pragma once

// The main window as both shells build it: controls in tab order, positions in twips (1/1440
// inch; 15 to a pixel at 96 dpi), measured in the client area from its top-left corner. A "&"
// marks the letter that, with Alt, presses a button or moves to the field a caption names.
namespace lotrix::main_window {

enum class Kind { TextField, Button, Label };

struct Control {
  const char* name;
  Kind kind;
  const char* text;
  int left, top, width, height;
};

inline constexpr const char* kCaption = "Lotrix";
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kClientWidth = 7200;
inline constexpr int kClientHeight = 3105;
inline constexpr const char* kFontFamily = "Times New Roman";
inline constexpr int kFontTenthsOfPoint = 105;

// Indexes into kControls.
enum Index {
  kPathField,
  kBrowseButton,
  kSizeField,
  kSizeLabel,
  kPathLabel,
  kUnitLabel,
  kRunButton,
  kControlCount
};

inline constexpr Control kControls[kControlCount] = {
    {"Text1", Kind::TextField, "", 1320, 840, 3975, 495},
    {"Command1", Kind::Button, "&Browse", 5520, 960, 855, 375},
    {"Text2", Kind::TextField, "30", 1320, 1560, 1095, 375},
    {"Label1", Kind::Label, "&Sample", 360, 1560, 615, 240},
    {"Label2", Kind::Label, "&Input File", 360, 960, 810, 240},
    {"Label3", Kind::Label, "lines", 2520, 1560, 375, 255},
    {"Command2", Kind::Button, "&Run", 5520, 1440, 855, 375},
};

// What the labels say of the fields, for screen readers: each field is named by the caption in
// front of it, and the sample size has its unit after it.
struct Caption {
  Index field;
  Index label;
};
inline constexpr Caption kCaptions[] = {{kPathField, kPathLabel}, {kSizeField, kSizeLabel}};
inline constexpr Caption kUnit = {kSizeField, kUnitLabel};

// Twips to pixels at `dpi` dots per inch.
constexpr int Pixels(int twips, int dpi) { return twips * dpi / kTwipsPerInch; }

}  // namespace lotrix::main_window
