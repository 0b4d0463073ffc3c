#include "ui/gfx/TextLayout.h"

#include "ui/gfx/FontCache.h"

#include <algorithm>
#include <climits>

namespace gfx {

namespace {
bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Byte length of the longest prefix of `text` whose width stays within maxWidth.
size_t fittingPrefix(std::string_view text, const lv_font_t* font, int32_t letterSpace, int32_t maxWidth) {
    FontCache& cache = FontCache::instance();
    int32_t width = 0;
    size_t fit = 0;
    for (size_t pos = 0; pos < text.size();) {
        const int32_t advance = cache.glyph(font, TextLayout::nextCodepoint(text, pos)).advance;
        width += (fit > 0 ? letterSpace : 0) + advance;
        if (width > maxWidth) break;
        fit = pos;
    }
    return fit;
}

// Greedy breaking of one paragraph (no "\n" inside) into lines no wider than maxWidth.
void wrapParagraph(std::string_view paragraph, const lv_font_t* font, int32_t letterSpace, int32_t maxWidth,
                   std::vector<std::string>& out) {
    while (!paragraph.empty()) {
        if (maxWidth <= 0) {
            out.emplace_back(paragraph);
            return;
        }
        const size_t fit = fittingPrefix(paragraph, font, letterSpace, maxWidth);
        if (fit == paragraph.size()) {
            out.emplace_back(paragraph);
            return;
        }
        // Break at the last space within what fits (or right after it); inside the word when there is none.
        size_t cut = fit;
        const size_t space = paragraph.substr(0, fit + 1).find_last_of(' ');
        if (space != std::string_view::npos && space > 0) cut = space;
        if (cut == 0) TextLayout::nextCodepoint(paragraph, cut); // not one character fits: take one anyway
        std::string_view line = paragraph.substr(0, cut);
        while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
        out.emplace_back(line);
        paragraph.remove_prefix(cut);
        while (!paragraph.empty() && paragraph.front() == ' ') paragraph.remove_prefix(1);
    }
}
}

uint32_t TextLayout::nextCodepoint(std::string_view text, size_t& pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    size_t length = 0;
    uint32_t codepoint = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, codepoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, codepoint = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;  // overlong
        if (lead == 0xED) high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, codepoint = lead & 0x07;
        if (lead == 0xF0) low = 0x90;  // overlong
        if (lead == 0xF4) high = 0x8F; // past U+10FFFF
    }
    bool valid = length > 0 && pos + length <= text.size();
    for (size_t i = 1; valid && i < length; ++i) {
        const unsigned char b = byte(pos + i);
        if (!continuation(b) || (i == 1 && (b < low || b > high))) valid = false;
        codepoint = codepoint << 6 | (b & 0x3F);
    }
    if (!valid) {
        ++pos;
        return lead;
    }
    pos += length;
    return codepoint;
}

int32_t TextLayout::width(std::string_view text, const lv_font_t* font, int32_t letterSpace) {
    FontCache& cache = FontCache::instance();
    int32_t total = 0;
    int32_t count = 0;
    for (size_t pos = 0; pos < text.size();) {
        total += cache.glyph(font, nextCodepoint(text, pos)).advance;
        ++count;
    }
    return count > 1 ? total + letterSpace * (count - 1) : total;
}

std::vector<std::string> TextLayout::lines(std::string_view text, const lv_font_t* font, int32_t letterSpace,
                                           int32_t lineSpace, Box box) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t end = text.find('\n', start);
        const std::string_view paragraph = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (paragraph.empty()) out.emplace_back();
        else wrapParagraph(paragraph, font, letterSpace, box.maxWidth, out);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (!box.dots || box.maxHeight < 0) return out;

    const int32_t lineHeight = FontCache::instance().metrics(font).lineHeight;
    const size_t visible =
        size_t(std::max<int32_t>(1, (box.maxHeight + lineSpace) / std::max(1, lineHeight + lineSpace)));
    if (out.size() <= visible) return out;

    // The last visible line takes what follows it too, then is cut back until it and the dots fit.
    std::string last = out[visible - 1];
    for (size_t i = visible; i < out.size(); ++i) last += " " + out[i];
    out.resize(visible);
    const std::string dots = "...";
    const int32_t room = box.maxWidth > 0 ? box.maxWidth - width(dots, font, letterSpace) - letterSpace : INT32_MAX;
    out.back() = last.substr(0, room > 0 ? fittingPrefix(last, font, letterSpace, room) : 0) + dots;
    return out;
}

}
