#pragma once

#include <string>
#include <vector>

#include "book_snapshot.h"
#include "book_window.h"

// The same picture as TextRenderer, as one SVG image with a panel per book, stacked. Each bucket
// shown has one <rect class="short"> and one <rect class="long">; the price is a
// <line class="price">.
class SvgRenderer {
  public:
    explicit SvgRenderer(RenderOptions options);
    std::string Render(const std::vector<BookSnapshot>& books) const;

  private:
    // One panel whose top is at `top`; returns its height.
    double Panel(const BookSnapshot& book, double top, std::string& out) const;
    RenderOptions options_;
};

// Text made safe for XML character data and attribute values.
std::string EscapeXml(const std::string& text);
