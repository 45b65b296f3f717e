#include "render/marks/label_space.h"

#include "render/graph/data.h"

#include <algorithm>
#include <cmath>

namespace qv::render {

namespace {

// The positions MOVE tries after a label's own, clockwise from the top.
constexpr TextPosition kAround[] = {
    TextPosition::Top,    TextPosition::TopRight,   TextPosition::Right,
    TextPosition::BottomRight, TextPosition::Bottom, TextPosition::BottomLeft,
    TextPosition::Left,   TextPosition::TopLeft,
};

// At most this many cells a side: a huge image gets larger cells.
constexpr int kMaxCells = 256;

}  // namespace

LabelSpace::LabelSpace(LabelOverlap mode, const Rect& area) : mode_(mode), area_(area) {
  const double w = std::max(1.0, area.width), h = std::max(1.0, area.height);
  cell_ = std::max({32.0, w / kMaxCells, h / kMaxCells});
  cols_ = std::max(1, static_cast<int>(std::ceil(w / cell_)));
  rows_ = std::max(1, static_cast<int>(std::ceil(h / cell_)));
  if (mode_ != LabelOverlap::Show) cells_.resize(static_cast<size_t>(cols_) * rows_);
}

bool LabelSpace::visible(const Rect& r) const {
  return r.right() > area_.x && r.x < area_.right() && r.bottom() > area_.y &&
         r.y < area_.bottom();
}

void LabelSpace::cellRange(const Rect& r, int& cx0, int& cy0, int& cx1, int& cy1) const {
  auto cell = [&](double v, double origin, int count) {
    const double c = std::floor((v - origin) / cell_);
    return static_cast<int>(std::clamp(c, 0.0, static_cast<double>(count - 1)));
  };
  cx0 = cell(r.x, area_.x, cols_);
  cx1 = cell(r.right(), area_.x, cols_);
  cy0 = cell(r.y, area_.y, rows_);
  cy1 = cell(r.bottom(), area_.y, rows_);
}

bool LabelSpace::isFree(const LabelBox& box, const Rect& b) const {
  int cx0, cy0, cx1, cy1;
  cellRange(b, cx0, cy0, cx1, cy1);
  for (int cy = cy0; cy <= cy1; ++cy)
    for (int cx = cx0; cx <= cx1; ++cx)
      for (unsigned i : cells_[static_cast<size_t>(cy) * cols_ + cx]) {
        const Rect& o = bounds_[i];
        if (o.right() <= b.x || b.right() <= o.x || o.bottom() <= b.y || b.bottom() <= o.y)
          continue;
        if (box.overlaps(boxes_[i])) return false;
      }
  return true;
}

void LabelSpace::add(const LabelBox& box, const Rect& b) {
  const auto index = static_cast<unsigned>(boxes_.size());
  boxes_.push_back(box);
  if (mode_ == LabelOverlap::Show) return;  // nothing is checked against them
  bounds_.push_back(b);
  int cx0, cy0, cx1, cy1;
  cellRange(b, cx0, cy0, cx1, cy1);
  for (int cy = cy0; cy <= cy1; ++cy)
    for (int cx = cx0; cx <= cx1; ++cx) cells_[static_cast<size_t>(cy) * cols_ + cx].push_back(index);
}

bool LabelSpace::tryAt(TextPosition p, bool own, const std::function<LabelBox(TextPosition)>& boxAt) {
  const LabelBox box = boxAt(p);
  const Rect b = box.bounds();
  // Unseen (off the map area, or nowhere): blocks nothing, nothing blocks it.
  if (!std::isfinite(b.x) || !std::isfinite(b.y) || !std::isfinite(b.width) ||
      !std::isfinite(b.height) || !visible(b))
    return own;
  // The frame is fitted to the labels' own positions: a label is moved
  // only where it is seen whole.
  if (!own && (b.x < area_.x || b.right() > area_.right() || b.y < area_.y ||
               b.bottom() > area_.bottom()))
    return false;
  if (mode_ != LabelOverlap::Show && !isFree(box, b)) return false;
  add(box, b);
  return true;
}

std::optional<TextPosition> LabelSpace::place(
    TextPosition own, const std::function<LabelBox(TextPosition)>& boxAt) {
  if (tryAt(own, true, boxAt)) return own;
  if (mode_ == LabelOverlap::Move)
    for (TextPosition p : kAround)
      if (p != own && tryAt(p, false, boxAt)) return p;
  ++leftOut_;
  return std::nullopt;
}

std::optional<TextPosition> LabelSpace::placeAround(
    Point from, const std::function<LabelBox(TextPosition)>& boxAt) {
  if (mode_ == LabelOverlap::Move) {
    // Nearest first: the distance from `from` to each box.
    std::vector<std::pair<double, TextPosition>> order;
    for (TextPosition p : kAround) {
      const Rect b = boxAt(p).bounds();
      const double dx = std::max({b.x - from.x, 0.0, from.x - b.right()}),
                   dy = std::max({b.y - from.y, 0.0, from.y - b.bottom()});
      order.emplace_back(std::isfinite(dx + dy) ? dx * dx + dy * dy : INFINITY, p);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [distance, p] : order)
      if (tryAt(p, false, boxAt)) return p;
  }
  ++leftOut_;
  return std::nullopt;
}

}  // namespace qv::render
