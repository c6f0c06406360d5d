#include "svg_renderer.h"

#include <gtest/gtest.h>

#include "test_books.h"
#include "xml_check.h"

namespace {

RenderOptions Rows(int rows) {
    RenderOptions options;
    options.rows = rows;
    return options;
}

TEST(SvgRenderer, IsWellFormedWithOneBarPerBucketShownPerSide) {
    BookSnapshot positions = MakeBook(100, 97);
    positions.kind = BookKind::Position;
    const std::string svg = SvgRenderer(Rows(21)).Render({MakeBook(100, 50), positions});
    EXPECT_EQ(XmlProblem(svg), "");
    // 21 rows for the first book; the second is cut off at its end, 87 to 99.
    EXPECT_EQ(CountOf(svg, "class=\"long\""), 21u + 13u);
    EXPECT_EQ(CountOf(svg, "class=\"short\""), 21u + 13u);
    EXPECT_EQ(CountOf(svg, "class=\"price\""), 2u);
    EXPECT_EQ(CountOf(svg, "class=\"current\""), 2u);
    EXPECT_NE(svg.find("EUR_USD position book"), std::string::npos);
}

TEST(SvgRenderer, TheLargestBarShownSpansTheBarSpace) {
    BookSnapshot book = MakeBook(10, 5);
    book.longs[5] = 50;
    book.shorts[5] = 25;
    const std::string svg = SvgRenderer(Rows(1)).Render({book});
    EXPECT_NE(svg.find("width=\"230.00\" height=\"12.00\" class=\"long\""), std::string::npos)
        << svg;
    EXPECT_NE(svg.find("width=\"115.00\" height=\"12.00\" class=\"short\""), std::string::npos)
        << svg;
}

TEST(SvgRenderer, EscapesLabels) {
    BookSnapshot book = MakeBook(10, 5);
    book.instrument = "A<&\"B'";
    const std::string svg = SvgRenderer(Rows(3)).Render({book});
    EXPECT_EQ(XmlProblem(svg), "");
    EXPECT_NE(svg.find("A&lt;&amp;&quot;B&apos; order book"), std::string::npos);
    EXPECT_EQ(svg.find("A<&"), std::string::npos);
}

TEST(SvgRenderer, NoBooksStillMakeAnImage) {
    EXPECT_EQ(XmlProblem(SvgRenderer(Rows(3)).Render({})), "");
}

// The check above must be able to fail.
TEST(XmlProblem, FindsWhatIsNotWellFormed) {
    EXPECT_EQ(XmlProblem("<a><b x=\"1\"/>t &amp; &#60;</a>"), "");
    EXPECT_NE(XmlProblem("<a><b></a>"), "");
    EXPECT_NE(XmlProblem("<a x=1/>"), "");
    EXPECT_NE(XmlProblem("<a x=\"1\" x=\"2\"/>"), "");
    EXPECT_NE(XmlProblem("<a>&nbsp;</a>"), "");
    EXPECT_NE(XmlProblem("<a x=\"<\"/>"), "");
    EXPECT_NE(XmlProblem("<a>"), "");
}

}  // namespace
