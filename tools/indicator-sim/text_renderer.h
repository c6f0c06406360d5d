#pragma once

#include <string>

#include "book_snapshot.h"
#include "book_window.h"

// A book as the indicator draws it, in text: one row per bucket around the price, highest price
// first, short bars growing left and long bars growing right from the price column; the price's
// bucket marked with ">".
class TextRenderer {
  public:
    explicit TextRenderer(RenderOptions options);
    std::string Render(const BookSnapshot& book) const;

  private:
    std::string Bar(int length, const char* colour) const;
    RenderOptions options_;
};
