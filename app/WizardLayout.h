// The wizard window's geometry and font fitting: the client sizes of its pages, and the fitting
// of a word-wrapped label or of the memo into the box the layout gives them. The pages' controls
// themselves are made by TForm1's Create* functions in WizardLayout.cpp; this header holds what
// the page flow needs of the layout besides them.
#pragma once

class QLabel;
class QPlainTextEdit;

namespace wizard {

constexpr int kClientWidth = 537;
constexpr int kStartHeight = 511;  // the designed client area, until the first page switch
constexpr int kPage1Height = 146;
constexpr int kPage2Height = 300;
constexpr int kPage3Height = 129;

// The design's pixel geometry was made for a narrower dialog font than today's desktop sans. A
// word-wrapped label keeps its place and width and grows downwards as far as `maxHeight` allows
// (as a self-sizing label does); when its text still does not fit, its font steps down a pixel
// at a time, trying the family's condensed cut first at each size (not below
// kSmallestPixelSize), so no word is ever cut off.
constexpr int kSmallestPixelSize = 8;
void FitLabel(QLabel* label, int maxHeight);

// The memo's lines are kept as they are (no wrapping); the font steps down until the longest
// line and all lines fit the memo's box.
void FitMemo(QPlainTextEdit* memo);

}  // namespace wizard
