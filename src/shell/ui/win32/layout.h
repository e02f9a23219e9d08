// Where every control of the window and of the retry dialog goes, in design units
// of 96 dots per inch. The back end scales each edge to the window's DPI, so what
// lines up here lines up at every scale. The main window was designed at 120 dots
// per inch (client 554 x 338, font 14, titles 23); its values are those, taken to
// 96. The retry dialog was designed at 96.
#pragma once

#include <vector>

#include "shell/form_main.h"

namespace layout {

struct TBox {
  int X = 0, Y = 0, W = 0, H = 0;
  constexpr int Right() const { return X + W; }
  constexpr int Bottom() const { return Y + H; }
  bool operator==(const TBox&) const = default;
};

// A length at the DPI, rounded to the nearest pixel.
constexpr int Scale(int v, int dpi) { return (v * dpi + (v < 0 ? -48 : 48)) / 96; }

// A box at the DPI: its edges scaled, so neighbours stay neighbours.
constexpr TBox Scale(const TBox& b, int dpi) {
  const int x = Scale(b.X, dpi), y = Scale(b.Y, dpi);
  return {x, y, Scale(b.Right(), dpi) - x, Scale(b.Bottom(), dpi) - y};
}

// What a control is, which decides how it is made and painted.
enum class TRole {
  Title,    // the view's heading, navy on white, in the title font
  Text,     // a label on the view's face, word-wrapped
  Message,  // a word-wrapped label on white
  Edit,
  Button,
  DefaultButton,  // the one Enter presses
  CheckBox,       // on white
  Bar,            // a progress bar
  Picture,        // a brand picture, resampled to its box
};

struct TPlace {
  TControl& (*Control)(TFMain&);
  TRole Role;
  TBox Box;
};

struct TView {
  TControl& (*Panel)(TFMain&);
  // The finish view: a dark band on the left and white on the right, in place of
  // the header and the bottom band of the other views.
  bool Finish;
  std::vector<TPlace> Places;  // in tab order
};

template <auto Member>
TControl& Of(TFMain& form) {
  return form.*Member;
}

constexpr TBox kClient{0, 0, 443, 270};
constexpr int kHeaderHeight = 50;  // white, with a line under it
constexpr int kBottomHeight = 40;  // the buttons' band, with a line over it
constexpr int kFinishBand = 120;   // the finish view's dark band
constexpr int kFontHeight = 11;
// A long title (some languages) takes a smaller font, down to the smallest, rather
// than being cut off.
constexpr int kTitleFontHeight = 18, kTitleSmallestFontHeight = 10;

// Shared by every view with a header, and by the buttons at the right of the
// bottom band (wide enough for the longest caption, the French Uninstall).
constexpr TBox kTitle{13, 13, 275, 27};
constexpr TBox kHeaderPicture{301, 9, 136, 40};
constexpr TBox kRightButton{346, 239, 85, 23};
constexpr TBox kSecondButton{253, 239, 85, 23};

inline const std::vector<TView> kViews = {
    {Of<&TFMain::PanelSelectFolder>,
     false,
     {
         {Of<&TFMain::SFLabelTop>, TRole::Title, kTitle},
         {Of<&TFMain::SFImageDRV>, TRole::Picture, kHeaderPicture},
         {Of<&TFMain::SFImageLV>, TRole::Picture, kHeaderPicture},
         {Of<&TFMain::SFLabelFolder>, TRole::Text, {19, 77, 400, 14}},
         {Of<&TFMain::EFolder>, TRole::Edit, {19, 94, 320, 20}},
         {Of<&TFMain::BChangeFolder>, TRole::Button, {347, 93, 84, 22}},
         {Of<&TFMain::BInstall>, TRole::DefaultButton, kRightButton},
     }},
    {Of<&TFMain::PanelSetup>,
     false,
     {
         {Of<&TFMain::LabelTop>, TRole::Title, kTitle},
         {Of<&TFMain::DRVImageTopRight>, TRole::Picture, kHeaderPicture},
         {Of<&TFMain::LVImageTopRight>, TRole::Picture, kHeaderPicture},
         {Of<&TFMain::LabelOverall>, TRole::Text, {19, 70, 400, 14}},
         {Of<&TFMain::PBOverall>, TRole::Bar, {19, 88, 405, 16}},
         {Of<&TFMain::LabelPending>, TRole::Text, {19, 125, 400, 14}},
         {Of<&TFMain::PBPending>, TRole::Bar, {19, 142, 405, 16}},
     }},
    {Of<&TFMain::PanelFinish>,
     true,
     {
         {Of<&TFMain::FDRVImageLeft>, TRole::Picture, {0, 0, kFinishBand, 96}},
         {Of<&TFMain::FLVImageLeft>, TRole::Picture, {0, 0, kFinishBand, 96}},
         {Of<&TFMain::FLabelTop>, TRole::Title, {136, 13, 294, 27}},
         {Of<&TFMain::FLabelMessage>, TRole::Message, {136, 51, 291, 136}},
         {Of<&TFMain::CBCreateDesktop>, TRole::CheckBox, {136, 195, 288, 18}},
         {Of<&TFMain::CBRestart>, TRole::CheckBox, {136, 195, 288, 18}},
         {Of<&TFMain::FBOk>, TRole::DefaultButton, kRightButton},
     }},
    {Of<&TFMain::PanelUninstall>,
     false,
     {
         {Of<&TFMain::UninstallLabelTop>, TRole::Title, kTitle},
         {Of<&TFMain::PUDRVImage>, TRole::Picture, kHeaderPicture},
         {Of<&TFMain::PULVImage>, TRole::Picture, kHeaderPicture},
         {Of<&TFMain::LabelUninstall>, TRole::Text, {19, 74, 405, 96}},
         {Of<&TFMain::BUninstall>, TRole::Button, kSecondButton},
         {Of<&TFMain::BCancel>, TRole::DefaultButton, kRightButton},
     }},
};

// The retry dialog: the message over the list, the two buttons under it. A message
// longer than its place (some languages) makes the dialog taller by the difference;
// what lies under the message moves down with it.
struct TRetryLayout {
  TBox Client{0, 0, 456, 279};
  TBox Message{2, 2, 452, 29};  // inside a 33-high band with a border of 2
  TBox List{0, 33, 456, 205};
  TBox Retry{280, 246, 75, 25};  // in the bottom band, 41 high
  TBox Cancel{368, 246, 75, 25};
  int FontHeight = 11;
};
inline constexpr TRetryLayout kRetry{};

}  // namespace layout
