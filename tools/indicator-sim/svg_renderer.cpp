#include "svg_renderer.h"

#include <algorithm>

namespace {

constexpr double kWidth = 640;
constexpr double kMargin = 10;
constexpr double kLabelRight = 90;  // price labels end here
constexpr double kAxis = 340;       // short bars grow left of it, long bars right
constexpr double kBarSpace = 230;   // the longest bar shown
constexpr double kRowHeight = 14;
constexpr double kHeaderHeight = 72;
constexpr double kGap = 24;

std::string Number(double value) {
    return FormatFixed(value, 2);
}

std::string Text(double x, double y, const std::string& cssClass, const std::string& text,
                 const char* anchor = "start") {
    return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" class=\"" + cssClass +
           "\" text-anchor=\"" + anchor + "\">" + EscapeXml(text) + "</text>\n";
}

std::string Rect(double x, double y, double width, double height, const std::string& cssClass,
                 const std::string& tip = {}) {
    std::string rect = "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" +
                       Number(width) + "\" height=\"" + Number(height) + "\" class=\"" + cssClass +
                       "\"";
    if (tip.empty()) {
        return rect + "/>\n";
    }
    return rect + "><title>" + EscapeXml(tip) + "</title></rect>\n";
}

}  // namespace

std::string EscapeXml(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                // Control characters other than tab and line breaks are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    escaped += '?';
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

SvgRenderer::SvgRenderer(RenderOptions options) : options_(options) {}

double SvgRenderer::Panel(const BookSnapshot& book, double top, std::string& out) const {
    const BookWindow window(book, options_.rows);
    const int decimals = PriceDecimals(book.bucketWidth);
    out += "<g class=\"book\">\n";
    out += Text(kMargin, top + 16, "title", book.instrument + " " + KindName(book.kind));
    out += Text(kMargin, top + 34, "info",
                FormatTimestamp(book.unixTime) + " UTC, " + FormatTimestamp(book.serverTime) +
                    " server time");
    out += Text(kMargin, top + 50, "info",
                "price " + FormatFixed(book.price, decimals + 1) + ", bucket width " +
                    FormatFixed(book.bucketWidth, decimals) + ", " +
                    std::to_string(book.prices.size()) + " buckets, long " +
                    FormatFixed(book.LongTotal(), 2) + " %, short " +
                    FormatFixed(book.ShortTotal(), 2) + " %");
    out += Text(kAxis - 4, top + kHeaderHeight - 6, "axis", "short %", "end");
    out += Text(kAxis + 4, top + kHeaderHeight - 6, "axis", "long %");

    const double rowsTop = top + kHeaderHeight;
    const auto barPixels = [&](double percent) {
        return kBarSpace * window.BarLength(percent, 10000) / 10000.0;
    };
    for (std::size_t row = 0; row < window.count(); ++row) {
        const std::size_t i = window.first() + window.count() - 1 - row;
        const double y = rowsTop + static_cast<double>(row) * kRowHeight;
        if (i == window.marked()) {
            out += Rect(kMargin, y, kWidth - 2 * kMargin, kRowHeight, "current");
        }
        out += Text(kLabelRight, y + kRowHeight - 3, "label", FormatFixed(book.prices[i], decimals),
                    "end");
        const double shortWidth = barPixels(book.shorts[i]);
        out += Rect(kAxis - shortWidth, y + 1, shortWidth, kRowHeight - 2, "short",
                    FormatFixed(book.shorts[i], 2) + " % short");
        out += Rect(kAxis, y + 1, barPixels(book.longs[i]), kRowHeight - 2, "long",
                    FormatFixed(book.longs[i], 2) + " % long");
    }
    if (!window.empty()) {
        // Rows run from the highest price down; within its bucket the price sits in proportion.
        const std::size_t row = window.first() + window.count() - 1 - window.marked();
        double within = book.bucketWidth > 0
                            ? (book.price - book.prices[window.marked()]) / book.bucketWidth
                            : 0.5;
        within = std::clamp(within, 0.0, 1.0);
        const double y = rowsTop + (static_cast<double>(row) + 1 - within) * kRowHeight;
        out += "<line x1=\"" + Number(kLabelRight + 4) + "\" y1=\"" + Number(y) + "\" x2=\"" +
               Number(kAxis + kBarSpace + 4) + "\" y2=\"" + Number(y) + "\" class=\"price\"/>\n";
        out += Text(kAxis + kBarSpace + 8, y + 4, "price-label",
                    FormatFixed(book.price, decimals + 1));
    }
    out += "</g>\n";
    return kHeaderHeight + static_cast<double>(window.count()) * kRowHeight;
}

std::string SvgRenderer::Render(const std::vector<BookSnapshot>& books) const {
    std::string panels;
    double height = kMargin;
    for (const BookSnapshot& book : books) {
        height += Panel(book, height, panels) + kGap;
    }
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) + "\" height=\"" +
           Number(height) + "\" viewBox=\"0 0 " + Number(kWidth) + " " + Number(height) + "\">\n";
    svg +=
        "<style>\n"
        "text { font-family: monospace; font-size: 11px; fill: #222; }\n"
        ".title { font-size: 14px; font-weight: bold; }\n"
        ".long { fill: #2e7d32; }\n"
        ".short { fill: #c62828; }\n"
        ".background { fill: #fff; }\n"
        ".current { fill: #fff3c4; }\n"
        ".price { stroke: #1565c0; stroke-width: 1.5; }\n"
        ".price-label { fill: #1565c0; }\n"
        "</style>\n";
    svg += Rect(0, 0, kWidth, height, "background");
    svg += panels;
    svg += "</svg>\n";
    return svg;
}
