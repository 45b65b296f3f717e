// Where labels may go without covering one another (LABELOVERLAP=).
//
// The TEXT labels and data labels of an image pass through one LabelSpace
// in the order they are drawn (layers in template order, rows in data
// order). SHOW draws every label where it asks to go; HIDE leaves out a
// label whose box would overlap one already drawn; MOVE tries the label's
// own position, then the eight positions around its point that lie wholly
// inside the map area, and leaves it out when none is free. Labels wholly
// outside the map area are not seen and never block another.
//
// The boxes drawn are kept in a grid of buckets, so a label is checked only
// against the boxes near it: thousands of labels cost milliseconds.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "common/global_options.h"
#include "render/paint/text.h"

namespace qv::render {

// In the order of LABELOVERLAP='s words.
enum class LabelOverlap { Show, Hide, Move };
static_assert(optionWord(GlobalOpt::LabelOverlap, static_cast<int>(LabelOverlap::Show)) == "SHOW" &&
              optionWord(GlobalOpt::LabelOverlap, static_cast<int>(LabelOverlap::Move)) == "MOVE");

class LabelSpace {
 public:
  // `area` is the map area in pixels; labels are placed within it.
  LabelSpace(LabelOverlap mode, const Rect& area);

  // Where a label goes: its own position `own`, another one (MOVE), or none
  // (left out and counted). `boxAt` gives the label's box at a position.
  // The box of the position returned is taken as drawn.
  std::optional<TextPosition> place(TextPosition own,
                                    const std::function<LabelBox(TextPosition)>& boxAt);

  // Takes a label at its own position when it is free there, and says
  // whether it did; a label not taken is not counted (it may be placed
  // again later).
  bool takeOwn(TextPosition own, const std::function<LabelBox(TextPosition)>& boxAt) {
    return tryAt(own, true, boxAt);
  }

  // Where a label that may not stay at its own position goes (a region's
  // label wider than its region): under MOVE the first free one of the
  // eight positions around it, those nearest to `from` first; none (left
  // out and counted) under HIDE.
  std::optional<TextPosition> placeAround(Point from,
                                          const std::function<LabelBox(TextPosition)>& boxAt);

  LabelOverlap mode() const { return mode_; }
  // The labels left out so far.
  size_t leftOut() const { return leftOut_; }
  // The boxes of the labels drawn within the map area, in drawing order.
  const std::vector<LabelBox>& drawn() const { return boxes_; }
  // The boxes drawn, handed over once placing is done.
  std::vector<LabelBox> takeDrawn() { return std::move(boxes_); }

 private:
  bool visible(const Rect& r) const;
  // Takes the label's box at `p` when it may go there (`own`: its own
  // position, which need not be seen whole).
  bool tryAt(TextPosition p, bool own, const std::function<LabelBox(TextPosition)>& boxAt);
  bool isFree(const LabelBox& box, const Rect& bounds) const;
  void add(const LabelBox& box, const Rect& bounds);
  // The cells a rectangle covers (clamped to the grid).
  void cellRange(const Rect& r, int& cx0, int& cy0, int& cx1, int& cy1) const;

  LabelOverlap mode_;
  Rect area_;
  double cell_ = 32;  // pixels a side
  int cols_ = 1, rows_ = 1;
  std::vector<std::vector<unsigned>> cells_;  // indexes into boxes_
  std::vector<LabelBox> boxes_;
  std::vector<Rect> bounds_;
  size_t leftOut_ = 0;
};

}  // namespace qv::render
