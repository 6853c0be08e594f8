#include "preview/image/legend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace preview {
namespace {

// A 5 x 7 pixel font of what numbers need: digits, '-', '.', 'e', and the
// letters of "nan" and "inf". Each row is five bits, the leftmost highest.
struct Glyph {
    char c;
    unsigned char rows[7];
};
constexpr Glyph font[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}},
    {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}},
    {'f', {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}},
};
constexpr int glyph_width = 5, glyph_height = 7, advance = 6;

const Glyph* find_glyph(char c) {
    for (const Glyph& glyph : font) {
        if (glyph.c == c) {
            return &glyph;
        }
    }
    return nullptr;
}

// The 8-bit RGBA image being drawn on; every write is kept inside it.
struct Canvas {
    std::vector<unsigned char>& rgba;
    int width, height;

    void fill(int x0, int y0, int w, int h, const unsigned char colour[3]) {
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y) {
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x) {
                unsigned char* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
                std::memcpy(p, colour, 3);
                p[3] = 255;
            }
        }
    }
    void text(const std::string& s, int x0, int y0, int scale, const unsigned char colour[3]) {
        for (size_t i = 0; i < s.size(); ++i) {
            const Glyph* glyph = find_glyph(s[i]);
            for (int row = 0; glyph != nullptr && row < glyph_height; ++row) {
                for (int column = 0; column < glyph_width; ++column) {
                    if (glyph->rows[row] & (0x10 >> column)) {
                        fill(x0 + (int(i) * advance + column) * scale, y0 + row * scale, scale,
                             scale, colour);
                    }
                }
            }
        }
    }
};

int text_width(const std::string& s, int scale) {
    return s.empty() ? 0 : (int(s.size()) * advance - 1) * scale;
}

unsigned char byte(float value) {
    return static_cast<unsigned char>(
        std::lround(std::fmin(std::fmax(value, 0.0f), 1.0f) * 255.0f));
}

} // namespace

std::vector<LegendLabel> legend_labels(const BendlensParameters& p) {
    const double max = p.range_max, lo = -double(p.range_min);
    // The dead zone's edge as the shader uses it.
    double threshold = p.threshold;
    if (threshold > max || lo > threshold) {
        threshold = 0.0;
    }
    switch (p.mapping) {
    case 1:
        return {{threshold, 0.0f}, {max, 1.0f}};
    case 2:
        return {{-threshold, 0.0f}, {lo, 1.0f}};
    default:
        return {{lo, 0.0f}, {0.0, 0.5f}, {max, 1.0f}};
    }
}

std::string legend_number(double value) {
    if (value == 0.0) {
        return "0";
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3g", value);
    // "1e+06" -> "1e6", "2.5e-05" -> "2.5e-5".
    std::string text;
    for (const char* c = buffer; *c != '\0'; ++c) {
        text += *c;
        if (*c == 'e') {
            if (c[1] == '+') {
                ++c;
            } else if (c[1] == '-') {
                text += *++c;
            }
            while (c[1] == '0' && c[2] != '\0') {
                ++c;
            }
        }
    }
    return text;
}

void draw_legend(std::vector<unsigned char>& rgba, int width, int height,
                 const BendlensParameters& parameters, Colormap colormap,
                 const float background[3]) {
    Canvas canvas{rgba, width, height};
    // One font pixel per 240 rows (and 320 columns): 7 pixels tall at
    // 320 x 240, 14 at 640 x 480.
    const int scale = std::max(1, std::min(height / 240, width / 320));
    const int pad = 4 * scale, bar_height = 8 * scale, gap = 3 * scale;
    const int bar_width = std::max(width / 2, 16);

    const std::vector<LegendLabel> labels = legend_labels(parameters);
    std::vector<std::string> texts;
    int overhang = 0; // half the widest end label, which centres on a bar end
    for (const LegendLabel& label : labels) {
        texts.push_back(legend_number(label.value));
        overhang = std::max(overhang, (text_width(texts.back(), scale) + 1) / 2);
    }
    const int panel_width = bar_width + 2 * (pad + overhang);
    const int panel_height = pad + bar_height + gap + glyph_height * scale + pad;
    const int panel_x = (width - panel_width) / 2;
    const int panel_y = height - panel_height - pad;
    const int bar_x = panel_x + pad + overhang, bar_y = panel_y + pad;

    const unsigned char panel[3] = {byte(background[0]), byte(background[1]), byte(background[2])};
    const float luminance =
        0.2126f * background[0] + 0.7152f * background[1] + 0.0722f * background[2];
    const unsigned char ink_value = luminance < 0.5f ? 255 : 0;
    const unsigned char ink[3] = {ink_value, ink_value, ink_value};
    canvas.fill(panel_x, panel_y, panel_width, panel_height, panel);

    // The bar, framed in the text's colour so that its white end shows on a
    // white panel.
    canvas.fill(bar_x - 1, bar_y - 1, bar_width + 2, bar_height + 2, ink);
    for (int i = 0; i < bar_width; ++i) {
        float rgb[3];
        map_colour((float(i) + 0.5f) / float(bar_width), colormap, parameters.mapping, rgb);
        const unsigned char colour[3] = {byte(rgb[0]), byte(rgb[1]), byte(rgb[2])};
        canvas.fill(bar_x + i, bar_y, 1, bar_height, colour);
    }
    for (size_t k = 0; k < labels.size(); ++k) {
        const int centre = bar_x + int(std::lround(labels[k].place * float(bar_width)));
        canvas.text(texts[k], centre - text_width(texts[k], scale) / 2, bar_y + bar_height + gap,
                    scale, ink);
    }
}

} // namespace preview
