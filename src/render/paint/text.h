// Text on the map with Pango: labels placed at a point by one of the nine
// compass positions, rotated, in a font family, size, weight and style, with
// an optional halo (backlight) that keeps them readable over tiles and
// regions; text split into lines at split characters and a width; and
// measuring.
//
// Fonts are sized in points at 96 pixels per inch; hinting is off so that
// a drawing looks the same at any position and on any machine with the same
// fonts.
#pragma once

#include <pango/pango.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "render/geo/viewport.h"
#include "render/graph/style.h"
#include "render/paint/painter.h"

namespace qv::render {

// Where a label goes relative to its point: Top puts the text above the
// point, TopRight above and to the right, Center on it.
enum class TextPosition { Center, Top, Bottom, Left, Right, TopLeft, TopRight, BottomLeft, BottomRight };

struct TextPositionName {
  TextPosition pos;
  std::string_view name;
};

// The positions by name, spelt as the template spells them, in the order
// the compiler's message lists them.
inline constexpr TextPositionName kTextPositions[] = {
    {TextPosition::Top, "Top"},               {TextPosition::TopRight, "TopRight"},
    {TextPosition::Right, "Right"},           {TextPosition::BottomRight, "BottomRight"},
    {TextPosition::Bottom, "Bottom"},         {TextPosition::BottomLeft, "BottomLeft"},
    {TextPosition::Left, "Left"},             {TextPosition::TopLeft, "TopLeft"},
    {TextPosition::Center, "Center"},
};

// The position of a name (any letter case: "center", "Top", "TOPRIGHT", ...);
// false when the name is not a position.
bool textPositionFromName(std::string_view name, TextPosition& out);
std::string_view textPositionName(TextPosition p);

enum class Justify { Left, Center, Right };
enum class SplitPolicy { None, Split, SplitAlways };

struct TextSplit {
  SplitPolicy policy = SplitPolicy::None;
  // Every character of this text (UTF-8) is a split character.
  std::string splitChars = " ";
  bool dropSplitChar = true;  // false keeps it at the end of its line
  // Split: lines are filled up to this many characters, breaking only at
  // split characters (a longer word keeps its own line); 0: no limit, which
  // leaves the text whole.
  int maxChars = 0;
};

// The lines of a text under a split rule. SplitAlways breaks at every split
// character; Split only where a line would pass maxChars; None keeps one
// line. Characters are counted as UTF-8 code points.
std::vector<std::string> splitText(std::string_view text, const TextSplit& split);

// A label's turn in degrees as drawn: reduced modulo 360 (so that a huge
// angle stays exact enough to draw), 0 for a non-finite one.
double labelTurn(double rotateDeg);

struct LabelStyle {
  FontStyle font;
  TextPosition position = TextPosition::Center;
  double rotateDeg = 0;  // counterclockwise, about the label's point
  double pad = 3;        // pixels between the point and the text (not for Center)
  Justify justify = Justify::Center;  // of the lines within the block
  TextSplit split;
  // Halo: 0 none; otherwise its opacity (0..1), drawn in `backlightColor`,
  // or, when that is fully transparent, white behind dark text and black
  // behind light text.
  double backlight = 0;
  Rgba backlightColor{0, 0, 0, 0};
};

// Makes the calling thread's font map now. Pango reads the font
// configuration for it on a thread of its own, so started early that
// reading overlaps what the run does before its first text (the program,
// the data) instead of delaying the first map.
void startFontSetup();

// Sets up the calling thread's text as its first map would: its font map,
// the default font matched and some of its glyphs drawn. For a thread made
// to draw maps, before it is given one.
void warmUpText();

// The size of a laid-out text block in pixels, before rotation.
struct TextExtent {
  double width = 0, height = 0;
  double baseline = 0;  // from the top to the first line's baseline
  int lines = 0;
};

// Measures a text as drawLabel would lay it out.
TextExtent measureText(std::string_view text, const FontStyle& font, const TextSplit& split = {},
                       Justify justify = Justify::Center);

// Draws a label inside its own saved painter state and returns the
// axis-aligned box it covers (in the caller's user space). Invalid UTF-8 is
// shown with replacement characters; an empty text or a non-finite point
// draws nothing and gives an empty box.
Rect drawLabel(Painter& p, Point at, std::string_view text, const LabelStyle& style);

// The corners of a label's block as drawn, turned with it, in the caller's
// space and in order around the block.
struct LabelBox {
  std::array<Point, 4> corner;
  // The axis-aligned rectangle around the corners.
  Rect bounds() const;
  // True when the two blocks share some area; blocks that only touch, or
  // overlap by less than a hundredth of a pixel, do not.
  bool overlaps(const LabelBox& other) const;
};

// Room kept around a label's block (a box drawn behind it), in pixels.
struct LabelMargins {
  double left = 0, right = 0, top = 0, bottom = 0;
};

// The box of a w x h block placed at `at` in `position` with `pad`, turned by
// rotateDeg (counterclockwise) about `at`, grown by `grow` before turning.
LabelBox labelBox(Point at, double w, double h, TextPosition position, double pad,
                  double rotateDeg, const LabelMargins& grow = {});

// A text block laid out by Pango in a font, at 96 pixels per inch without
// hinting: the same block whatever it is drawn on.
class TextLayout {
 public:
  TextLayout(std::string_view text, const FontStyle& font, Justify justify);
  ~TextLayout();
  TextLayout(const TextLayout&) = delete;
  TextLayout& operator=(const TextLayout&) = delete;

  TextExtent extent() const;
  PangoLayout* pango() const { return layout_; }
  const FontStyle& font() const { return font_; }
  double sizePx() const { return sizePx_; }
  // The family the text is drawn in, as the system's fonts resolve it
  // ("DejaVu Sans" for "Sans").
  std::string family() const;

  // One line of the block: its text, where its left end and baseline lie
  // relative to the block's top-left corner, and its width.
  struct Line {
    std::string text;
    double x = 0, baseline = 0, width = 0;
  };
  std::vector<Line> lines() const;

 private:
  PangoLayout* layout_ = nullptr;
  FontStyle font_;
  double sizePx_ = 12;
};

// A label laid out once, so that its box can be asked for at several
// positions before it is drawn at one of them. Drawing it in the style's
// position is the same as drawLabel.
class LaidOutLabel {
 public:
  LaidOutLabel(std::string_view text, const LabelStyle& style);
  ~LaidOutLabel();
  LaidOutLabel(const LaidOutLabel&) = delete;
  LaidOutLabel& operator=(const LaidOutLabel&) = delete;

  // Nothing to draw: an empty text.
  bool empty() const { return !layout_; }
  const TextExtent& extent() const { return extent_; }
  // Its box at `at` in `position` (with the style's pad and rotation).
  LabelBox box(Point at, TextPosition position, const LabelMargins& grow = {}) const;
  // Draws it at `at` in `position`; the axis-aligned box it covers (empty
  // for an empty text or a non-finite point).
  Rect draw(Painter& p, Point at, TextPosition position) const;

 private:
  std::unique_ptr<TextLayout> layout_;
  LabelStyle style_;
  TextExtent extent_;
};

// The offset of a text block's top-left corner from its point, for a block
// of the given size, position and pad (before rotation).
Point labelOffset(TextPosition position, double width, double height, double pad);

}  // namespace qv::render
