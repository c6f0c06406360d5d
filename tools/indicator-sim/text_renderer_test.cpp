#include "text_renderer.h"

#include <gtest/gtest.h>

#include "test_books.h"

namespace {

RenderOptions Plain(int rows = 21) {
    RenderOptions options;
    options.rows = rows;
    options.color = false;
    options.barLength = 30;
    return options;
}

// The rows of the histogram: the lines that hold the price column.
std::vector<std::string> Rows(const std::string& text) {
    std::vector<std::string> rows;
    for (const std::string& line : Lines(text)) {
        if (CountOf(line, " | ") == 2) {
            rows.push_back(line);
        }
    }
    return rows;
}

TEST(TextRenderer, ShowsTheWindowHighestPriceFirstAndMarksThePricesBucket) {
    BookSnapshot book = MakeBook(100, 50);
    book.price = 1.02504;
    const std::vector<std::string> rows = Rows(TextRenderer(Plain(5)).Render(book));
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_NE(rows.front().find("| 1.0260 |"), std::string::npos) << rows.front();  // bucket 52
    EXPECT_NE(rows.back().find("| 1.0240 |"), std::string::npos) << rows.back();    // bucket 48
    // One marked row per book: the demo smoke.
    EXPECT_EQ(rows[2].rfind("> ", 0), 0u);
    EXPECT_NE(rows[2].find("| 1.0250 |"), std::string::npos) << rows[2];
    EXPECT_NE(rows[2].find("<- 1.02504"), std::string::npos) << rows[2];
}

TEST(TextRenderer, BarLengthsScaleWithTheLargestPercentageShown) {
    BookSnapshot book = MakeBook(100, 50);
    book.longs[51] = 10;
    book.longs[50] = 5;
    book.shorts[49] = 2.5;
    book.longs[0] = 80;  // outside the window
    const std::vector<std::string> rows = Rows(TextRenderer(Plain(3)).Render(book));
    ASSERT_EQ(rows.size(), 3u);
    const auto longBar = [](const std::string& row) {
        const std::string right = row.substr(row.rfind(" | ") + 3);
        return CountOf(right, "#");
    };
    const auto shortBar = [](const std::string& row) {
        return CountOf(row.substr(0, row.find(" | ")), "#");
    };
    EXPECT_EQ(longBar(rows[0]), 30u);  // bucket 51: 10 % of the largest 10 %
    EXPECT_EQ(longBar(rows[1]), 15u);
    EXPECT_EQ(shortBar(rows[2]), 8u);  // 2.5 / 10 of 30, rounded
    EXPECT_NE(rows[0].find(" 10.00 "), std::string::npos) << rows[0];
}

// The title: the demo smoke.
TEST(TextRenderer, ShowsTotalsOfTheWholeBookAndBothClocks) {
    BookSnapshot book = MakeBook(3, 1);
    book.longs = {10, 20, 30};
    book.shorts = {15, 20, 5};
    book.kind = BookKind::Position;
    const std::string text = TextRenderer(Plain(1)).Render(book);
    EXPECT_NE(text.find("long 60.00 %, short 40.00 %"), std::string::npos) << text;
    EXPECT_NE(text.find("2024-07-15 09:00:00 UTC"), std::string::npos) << text;
    EXPECT_NE(text.find("2024-07-15 12:00:00 server time"), std::string::npos) << text;
    EXPECT_NE(text.find("bucket width 0.0005, 3 buckets"), std::string::npos) << text;
}

TEST(TextRenderer, ColoursOnlyWhenAsked) {
    const BookSnapshot book = MakeBook(40, 20);
    const std::string plain = TextRenderer(Plain()).Render(book);
    EXPECT_EQ(plain.find('\x1b'), std::string::npos);

    RenderOptions colour = Plain();
    colour.color = true;
    const std::string coloured = TextRenderer(colour).Render(book);
    EXPECT_EQ(CountOf(coloured, "\x1b[32m"), 21u);  // a green long bar in every row
    EXPECT_EQ(CountOf(coloured, "\x1b[31m"), 21u);
    EXPECT_EQ(CountOf(coloured, "\x1b[1;7m"), 1u);  // the price's bucket
    EXPECT_EQ(Rows(coloured).size(), Rows(plain).size());
}

}  // namespace
