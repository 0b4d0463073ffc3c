#include "ui/glcd/Glcd.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

uint8_t glcd_buffer[GLCD_BUFFER_SIZE];

namespace {

// 8 means "no page flushed yet"; the first flush starts at page 0.
uint16_t pageCounter = 8;

uint8_t oppositeMode(uint8_t mode) { return mode ^ 1; }

// Float to int the way a C cast truncates, but defined for every input: NaN gives 0 and values beyond the
// int range saturate, so a degenerate scale cannot turn into undefined behaviour.
int truncSafe(float value) {
    if (!(value == value)) return 0;
    if (value >= 2147483520.0f) return 2147483520;
    if (value <= -2147483520.0f) return -2147483520;
    return static_cast<int>(value);
}

int clampInt(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

bool isFixedWidth(const uint8_t* font) { return font[0] == 0 && font[1] <= 1; }
int fontHeight(const uint8_t* font) { return font[3]; }
int fontBands(const uint8_t* font) { return (font[3] - 1) / 8 + 1; }

int degreeRadius(const uint8_t* font) {
    int height = fontHeight(font);
    return height < 8 ? height / 6 : height / 8;
}

constexpr uint8_t DEGREE_SIGN = 0xB0;

// Width of the glyph of c, or -1 when the font has no glyph for it.
int glyphWidth(const uint8_t* font, uint8_t c) {
    int first = font[4];
    int count = font[5];
    if (c < first || c >= first + count) return -1;
    return isFixedWidth(font) ? font[2] : font[6 + (c - first)];
}

const uint8_t* glyphData(const uint8_t* font, uint8_t c) {
    int first = font[4];
    int count = font[5];
    int bands = fontBands(font);
    if (isFixedWidth(font)) return font + 6 + (c - first) * font[2] * bands;
    int columnsBefore = 0;
    for (int index = 0; index < c - first; ++index) columnsBefore += font[6 + index];
    return font + 6 + count + columnsBefore * bands;
}

// One glyph with its left column at x (which may lie left of the picture while scrolling). Columns outside
// xMin..xMax are skipped when `clip` is set.
int drawGlyph(int x, int y, int xMin, int xMax, bool clip, uint8_t c, const uint8_t* font, uint8_t mode) {
    if (c == DEGREE_SIGN) {
        int radius = degreeRadius(font);
        if (mode != GLCD_MEASURE)
            glcd_drawCircle(static_cast<uint8_t>(x + radius), static_cast<uint8_t>(y + 2 * radius),
                            static_cast<uint8_t>(radius), mode);
        return x + 2 * radius + 1;
    }
    int width = glyphWidth(font, c);
    if (width < 0) return x;
    if (mode == GLCD_MEASURE) return x + width;

    const uint8_t* glyph = glyphData(font, c);
    int height = fontHeight(font);
    int bands = fontBands(font);
    // The last band of a font whose height is not a multiple of 8 keeps its rows in the high bits.
    int lastBandShift = (height > 8 && height % 8 != 0) ? 8 - height % 8 : 0;
    for (int column = 0; column < width; ++column) {
        int columnX = x + column;
        if (clip && (columnX < xMin || columnX > xMax)) continue;
        for (int band = 0; band < bands; ++band) {
            uint8_t pattern = glyph[band * width + column];
            if (band == bands - 1) pattern = static_cast<uint8_t>(pattern >> lastBandShift);
            glcd_writeByteBufferedAt(static_cast<uint8_t>(columnX), static_cast<uint8_t>(y + band * 8), pattern, mode);
        }
    }
    return x + width;
}

// Glyphs with one empty column between them, clipped to xMin..xMax when `clip` is set; stops before a
// character that would start at or after `stopAt`. Returns the column after the last gap.
int drawText(int x, int y, int xMin, int xMax, bool clip, int stopAt, const char* text, const uint8_t* font,
             uint8_t mode) {
    for (const char* cursor = text; *cursor != '\0'; ++cursor) {
        if (x >= stopAt) break;
        x = drawGlyph(x, y, xMin, xMax, clip, static_cast<uint8_t>(*cursor), font, mode) + 1;
    }
    return x;
}

constexpr int NO_STOP = 1 << 30;

int textWidth(const char* text, const uint8_t* font) {
    return drawText(0, 0, 0, 0, false, NO_STOP, text, font, GLCD_MEASURE);
}

// The window of n characters that a too-long text shows for a scroll count.
const char* trimWindow(const char* text, uint8_t n, int scroll, char (&window)[64]) {
    int length = static_cast<int>(std::strlen(text));
    int windowLength = n > 63 ? 63 : n;
    if (length <= windowLength) return text;
    int positions = length - windowLength + 1;
    int start = scroll % positions;
    if (start < 0) start += positions;
    std::memcpy(window, text + start, static_cast<size_t>(windowLength));
    window[windowLength] = '\0';
    return window;
}

int glyphIndex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return 10 + (c - 'A');
    if (c >= 'a' && c <= 'z') return 10 + (c - 'a');
    switch (c) {
    case ' ':
        return 36;
    case '_':
        return 37;
    case '-':
        return 38;
    case ':':
        return 39;
    case '.':
        return 40;
    case '+':
        return 41;
    default:
        return 0;
    }
}

// Knob pointer ends for 33 positions from 7 o'clock to 5 o'clock.
constexpr int8_t POT_DX[33] = {-4, -5, -6, -6, -7, -7, -7, -7, -7, -6, -6, -5, -4, -3, -2, -1, 0,
                               1,  2,  3,  4,  5,  6,  6,  7,  7,  7,  7,  7,  6,  6,  5,  4};
constexpr int8_t POT_DY[33] = {-6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4,  5,  6,  6,  7,  7, 7,
                               7,  7,  6,  6,  5,  4,  3, 2, 1, 0, -1, -2, -3, -4, -5, -6};

// trunc(span * (value - min) / (max - min)) limited to 0..span, in that order of operations; an empty or
// inverted range gives an end of the span rather than undefined arithmetic.
int scaledOffset(int span, float min, float max, float value) {
    int offset = truncSafe(static_cast<float>(span) * (value - min) / (max - min));
    return clampInt(offset, 0, span > 0 ? span : 0);
}

}

void glcd_initialize() { std::memset(glcd_buffer, 0, sizeof glcd_buffer); }

void glcd_clear(int lit) { std::memset(glcd_buffer, lit != 0 ? 0xFF : 0, sizeof glcd_buffer); }

uint16_t glcd_flushPage() {
    pageCounter = pageCounter >= 7 ? 0 : static_cast<uint16_t>(pageCounter + 1);
    return pageCounter;
}

void glcd_flushAll() {
    for (int page = 0; page < 8; ++page) glcd_flushPage();
}

void glcd_writeByteBufferedAt(uint8_t x, uint8_t y, uint8_t pattern, uint8_t mode) {
    int column = x % GLCD_WIDTH;
    int band = (y / 8) % 8;
    int shift = y % 8;
    int lowIndex = (GLCD_WIDTH - 1 - column) * 8 + band;
    int highIndex = (GLCD_WIDTH - 1 - column) * 8 + (band + 1) % 8;
    uint16_t pair = static_cast<uint16_t>(glcd_buffer[lowIndex] | (glcd_buffer[highIndex] << 8));
    uint16_t shifted = static_cast<uint16_t>(pattern << shift);
    switch (mode) {
    case 0:
        pair = static_cast<uint16_t>(pair & ~shifted);
        break;
    case 2:
        pair = static_cast<uint16_t>(pair ^ shifted);
        break;
    case 3:
        pair = static_cast<uint16_t>(pair ^ (static_cast<uint8_t>(~pattern) << shift));
        break;
    default:
        pair = static_cast<uint16_t>(pair | shifted);
        break;
    }
    glcd_buffer[lowIndex] = static_cast<uint8_t>(pair);
    glcd_buffer[highIndex] = static_cast<uint8_t>(pair >> 8);
}

void glcd_drawPixel(uint8_t x, uint8_t y, uint8_t mode) { glcd_writeByteBufferedAt(x, y, 1, mode); }

void glcd_drawLine(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode) {
    int dx = x1 > x0 ? x1 - x0 : x0 - x1;
    int dy = y1 > y0 ? y1 - y0 : y0 - y1;
    int sx = x1 >= x0 ? 1 : -1;
    int sy = y1 >= y0 ? 1 : -1;
    int x = x0;
    int y = y0;
    glcd_drawPixel(x0, y0, mode);
    if (dx == 0 && dy == 0) return;
    int error = 0;
    if (dx < dy) {
        do {
            error += 2 * dx;
            y += sy;
            if (error > dy) {
                x += sx;
                error -= 2 * dy;
            }
            glcd_drawPixel(static_cast<uint8_t>(x), static_cast<uint8_t>(y), mode);
        } while (y != y1);
    } else {
        do {
            error += 2 * dy;
            x += sx;
            if (error > dx) {
                y += sy;
                error -= 2 * dx;
            }
            glcd_drawPixel(static_cast<uint8_t>(x), static_cast<uint8_t>(y), mode);
        } while (x != x1);
    }
}

void glcd_drawRect(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode) {
    glcd_drawLine(x0, y0, x0, y1, mode);
    glcd_drawLine(x0, y1, x1, y1, mode);
    glcd_drawLine(x1, y1, x1, y0, mode);
    glcd_drawLine(x1, y0, x0, y0, mode);
}

void glcd_fillRect(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode) {
    int left = x0 < x1 ? x0 : x1;
    int right = x0 < x1 ? x1 : x0;
    int top = y0 < y1 ? y0 : y1;
    int bottom = y0 < y1 ? y1 : y0;
    for (int column = left; column <= right; ++column) {
        for (int row = top; row < bottom; row += 8) {
            int rows = bottom - row < 8 ? bottom - row : 8;
            glcd_writeByteBufferedAt(static_cast<uint8_t>(column), static_cast<uint8_t>(row),
                                     static_cast<uint8_t>((1u << rows) - 1), mode);
        }
    }
}

namespace {

template <typename Plot>
void walkCircle(uint8_t r, Plot plot) {
    int x = r;
    int y = 0;
    int xChange = 1 - 2 * r;
    int error = 0;
    while (y <= x) {
        plot(x, y);
        error += 2 * y + 1;
        y += 1;
        if (xChange + 2 * error > 0) {
            x -= 1;
            error += xChange;
            xChange += 2;
        }
    }
}

uint8_t at(int base, int offset) { return static_cast<uint8_t>(base + offset); }

}

void glcd_drawCircle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode) {
    walkCircle(r, [&](int x, int y) {
        glcd_drawPixel(at(cx, x), at(cy, y), mode);
        glcd_drawPixel(at(cx, -x), at(cy, y), mode);
        glcd_drawPixel(at(cx, x), at(cy, -y), mode);
        glcd_drawPixel(at(cx, -x), at(cy, -y), mode);
        glcd_drawPixel(at(cx, y), at(cy, x), mode);
        glcd_drawPixel(at(cx, -y), at(cy, x), mode);
        glcd_drawPixel(at(cx, y), at(cy, -x), mode);
        glcd_drawPixel(at(cx, -y), at(cy, -x), mode);
    });
}

void glcd_fillCircle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode) {
    walkCircle(r, [&](int x, int y) {
        glcd_drawLine(at(cx, x), at(cy, y), at(cx, -x), at(cy, y), mode);
        glcd_drawLine(at(cx, -x), at(cy, -y), at(cx, x), at(cy, -y), mode);
        glcd_drawLine(at(cx, y), at(cy, x), at(cx, -y), at(cy, x), mode);
        glcd_drawLine(at(cx, y), at(cy, -x), at(cx, -y), at(cy, -x), mode);
    });
}

int glcd_drawChar2(uint8_t x, uint8_t y, char c, const uint8_t* font, uint8_t mode) {
    return drawGlyph(x, y, 0, 0, false, static_cast<uint8_t>(c), font, mode);
}

int glcd_drawStringFont(uint8_t x, uint8_t y, const char* text, const uint8_t* font, uint8_t mode) {
    return drawText(x, y, 0, 0, false, NO_STOP, text, font, mode);
}

// The window is always clipped, also when it is one column wide.
int glcd_drawStringFontLimited(uint8_t x, uint8_t y, uint8_t xMax, int scroll, const char* text, const uint8_t* font,
                               uint8_t mode) {
    return drawText(x - scroll, y, x, xMax, true, NO_STOP, text, font, mode);
}

int glcd_drawStringFontLimitedCut(uint8_t x, uint8_t y, uint8_t xMax, int scroll, const char* text, const uint8_t* font,
                                  uint8_t mode) {
    return drawText(x - scroll, y, x, xMax, true, xMax, text, font, mode);
}

int glcd_drawStringFontCentered(uint8_t x, uint8_t y, uint8_t cells, const char* text, const uint8_t* font,
                                uint8_t mode) {
    int start = x + (cells - static_cast<int>(std::strlen(text))) * 2;
    return drawText(start, y, 0, 0, false, NO_STOP, text, font, mode);
}

int glcd_drawStringFontRightAligned(uint8_t xRight, uint8_t y, const char* text, const uint8_t* font, uint8_t mode) {
    int width = textWidth(text, font);
    drawText(xRight - width, y, 0, 0, false, NO_STOP, text, font, mode);
    return width;
}

int glcd_drawStringFontTrim(uint8_t x, uint8_t y, uint8_t n, int scroll, const char* text, const uint8_t* font,
                            uint8_t mode) {
    char window[64];
    return glcd_drawStringFont(x, y, trimWindow(text, n, scroll, window), font, mode);
}

int glcd_drawStringFontRightAlignedTrim(uint8_t xRight, uint8_t y, uint8_t n, int scroll, const char* text,
                                        const uint8_t* font, uint8_t mode) {
    char window[64];
    return glcd_drawStringFontRightAligned(xRight, y, trimWindow(text, n, scroll, window), font, mode);
}

namespace {

void drawDefaultText(int x, int y, const char* text, uint8_t mode) {
    for (const char* cursor = text; *cursor != '\0'; ++cursor, x += 4)
        drawGlyph(x, y, 0, 0, false, static_cast<uint8_t>(*cursor), glcd_font3x5, mode);
}

}

void glcd_drawString(uint8_t x, uint8_t y, const char* text, uint8_t mode) { drawDefaultText(x, y, text, mode); }

void glcd_drawStringCentered(uint8_t x, uint8_t y, uint8_t cells, const char* text, uint8_t mode) {
    drawDefaultText(x + (cells - static_cast<int>(std::strlen(text))) * 2, y, text, mode);
}

void glcd_drawInt(uint8_t x, uint8_t y, int value, uint8_t mode) {
    static char text[12];
    std::snprintf(text, sizeof text, "%d", value);
    glcd_drawString(x, y, text, mode);
}

void glcd_drawFloat(uint8_t x, uint8_t y, uint8_t mode, float value) {
    static char text[16];
    int length = std::snprintf(text, sizeof text, "%3.2f", static_cast<double>(value));
    if (length < 0 || length >= static_cast<int>(sizeof text)) return;
    glcd_drawString(x, y, text, mode);
}

int getFontAddress(char c) { return glyphIndex(c) * 3; }

int getBigFontAddress(char c) { return glyphIndex(c) * 5; }

bool isValue(char c) { return c >= '0' && c <= '9'; }

bool isBigValue(char c) { return c >= '0' && c <= '9'; }

void glcd_drawChar(uint8_t x, uint8_t y, char c, uint8_t mode) {
    glcd_fillRect(at(x, -1), at(y, -1), at(x, 3), at(y, 6), oppositeMode(mode));
    const uint8_t* glyph = glcd_digits3x5 + getFontAddress(c);
    for (int column = 0; column < 3; ++column)
        glcd_writeByteBufferedAt(at(x, column), y, static_cast<uint8_t>(glyph[column] >> 3), mode);
}

void glcd_drawBigChar(uint8_t x, uint8_t y, char c, uint8_t mode) {
    glcd_fillRect(at(x, -1), at(y, -1), at(x, 5), at(y, 8), oppositeMode(mode));
    const uint8_t* glyph = glcd_digits5x7 + getBigFontAddress(c);
    for (int column = 0; column < 5; ++column)
        glcd_writeByteBufferedAt(at(x, column), y, static_cast<uint8_t>(glyph[column] & 0x7F), mode);
}

void glcd_drawHex(uint8_t x, uint8_t y, uint32_t value, uint8_t mode) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    for (int cell = 0; cell < 8; ++cell)
        glcd_drawChar(at(x, cell * 4), y, DIGITS[(value >> (28 - 4 * cell)) & 0xF], mode);
}

void glcd_drawCharInt(uint8_t x, uint8_t y, uint8_t value, uint8_t mode) {
    char hundreds = value >= 100 ? static_cast<char>('0' + value / 100) : ' ';
    char tens = value >= 10 ? static_cast<char>('0' + value / 10 % 10) : ' ';
    char ones = static_cast<char>('0' + value % 10);
    glcd_drawChar(x, y, hundreds, mode);
    glcd_drawChar(at(x, 4), y, tens, mode);
    glcd_drawChar(at(x, 8), y, ones, mode);
}

void glcd_drawBigString(uint8_t, uint8_t, const char*, uint8_t) {}

void glcd_drawBigStringCentered(uint8_t, uint8_t, uint8_t, const char*, uint8_t) {}

void glcd_drawPotBody(uint8_t cx, uint8_t cy, uint8_t style, int step) {
    int index = clampInt(step, 0, 32);
    uint8_t tipX = at(cx, POT_DX[index]);
    uint8_t tipY = at(cy, -POT_DY[index]);
    if (style == 0) {
        glcd_fillCircle(cx, cy, 8, 1);
        glcd_drawLine(cx, cy, tipX, tipY, 0);
    } else {
        glcd_fillCircle(cx, cy, 8, 0);
        glcd_drawCircle(cx, cy, 8, 1);
        glcd_drawLine(cx, cy, tipX, tipY, 1);
    }
}

void glcd_drawPot(uint8_t cx, uint8_t cy, uint8_t size, uint8_t style, float min, float max, float value) {
    if (size != 7) return;
    float position = 32.0f * (value - min) / (max - min);
    int step = position >= 32.0f ? 32 : (position > 0.0f ? static_cast<int>(position) : 0);
    glcd_drawPotBody(cx, cy, style, step);
}

void glcd_drawPotLog(uint8_t cx, uint8_t cy, uint8_t size, uint8_t style, float min, float max, float value) {
    glcd_drawPot(cx, cy, size, style, std::log10(min), std::log10(max), std::log10(value));
}

void glcd_drawBar1(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t r, uint8_t filled, uint8_t mode, float min,
                   float max, float value) {
    glcd_fillRect(x0, y0, x1, y1, mode);
    int left = x0 < x1 ? x0 : x1;
    int top = y0 < y1 ? y0 : y1;
    int bottom = y0 < y1 ? y1 : y0;
    int width = (x0 < x1 ? x1 : x0) - left;
    int height = bottom - top;
    // A value outside min..max keeps the knob at the end of its track.
    uint8_t inner = r > 0 ? static_cast<uint8_t>(r - 1) : 0;
    if (height <= width) {
        uint8_t cx = static_cast<uint8_t>(left + r + scaledOffset(width - 2 * r - 1, min, max, value));
        uint8_t cy = static_cast<uint8_t>(top);
        glcd_drawCircle(cx, cy, r, mode);
        if (r > 0) glcd_fillCircle(cx, cy, inner, filled != 0 ? mode : oppositeMode(mode));
    } else {
        uint8_t cx = static_cast<uint8_t>(left);
        uint8_t cy = static_cast<uint8_t>(bottom - scaledOffset(height - 2 * r - 1, min, max, value) - r - 1);
        glcd_fillCircle(cx, cy, r, oppositeMode(mode));
        if (filled != 0) glcd_fillCircle(cx, cy, r, mode);
        else glcd_drawCircle(cx, cy, r, mode);
    }
}

void glcd_drawVu(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode, float level, float top, float bottom) {
    glcd_drawRect(x0, y0, x1, y1, mode);
    float decibels = level == 0.0f ? -160.0f : 20.0f * std::log10(level);
    // The bar stays inside its frame: below `bottom` it is empty, above `top` it is full.
    uint8_t barTop = static_cast<uint8_t>(y1 - scaledOffset((y1 - y0) - 1, bottom, top, decibels));
    for (int column = 1; column <= 3; ++column) glcd_drawLine(at(x0, column), barTop, at(x0, column), y1, mode);
}

void glcd_drawSmallArrow(uint8_t x, uint8_t y, uint8_t right, uint8_t mode) {
    glcd_drawLine(x, y, at(x, 5), y, mode);
    if (right == 0) {
        glcd_drawLine(x, y, at(x, 2), at(y, -2), mode);
        glcd_drawLine(x, y, at(x, 2), at(y, 2), mode);
    } else {
        glcd_drawLine(at(x, 5), y, at(x, 3), at(y, -2), mode);
        glcd_drawLine(at(x, 5), y, at(x, 3), at(y, 2), mode);
    }
}

void glcd_drawArrow(uint8_t x, uint8_t y, uint8_t right, uint8_t mode) {
    int direction = right == 0 ? 1 : -1;
    for (int k = 0; k <= 4; ++k) glcd_drawLine(at(x, direction * k), at(y, -k), at(x, direction * k), at(y, k), mode);
    uint8_t dotMode = mode == 0 ? 1 : 0;
    for (int distance : {7, 9, 11}) glcd_drawPixel(at(x, direction * distance), y, dotMode);
}

void glcd_drawFullImage(const uint8_t* image) { glcd_drawFullImageOffset(image, 0); }

void glcd_drawFullImageOffset(const uint8_t* image, uint8_t offset) {
    for (int band = 0; band < 8; ++band) {
        for (int column = 0; column < GLCD_WIDTH; ++column) {
            int x = (column + offset) % GLCD_WIDTH;
            glcd_buffer[(GLCD_WIDTH - 1 - x) * 8 + band] |= image[band * GLCD_WIDTH + column];
        }
    }
}

void glcd_drawImage(const uint8_t* image, uint8_t x, uint8_t y, uint8_t height, uint8_t width, uint8_t mode) {
    if (height == 0) return;
    // Rows below the picture's 64 cannot be shown; they are not read into the column pattern.
    int rows = height > GLCD_HEIGHT ? GLCD_HEIGHT : height;
    int storedBands = (height + 7) / 8;
    int usedBands = (rows + 7) / 8;
    uint64_t rowMask = rows == 64 ? ~0ull : ((1ull << rows) - 1);
    int shift = y % 8;
    int firstBand = y / 8;
    int writtenBands = (shift + rows + 7) / 8;
    for (int column = 0; column < width; ++column) {
        uint64_t pattern = 0;
        for (int band = 0; band < usedBands && band < storedBands; ++band)
            pattern |= static_cast<uint64_t>(image[band * width + column]) << (8 * band);
        pattern &= rowMask;
        for (int band = 0; band < writtenBands; ++band) {
            // Band `band` of the shifted pattern: its low part comes from this byte, its top from the one before.
            int bitStart = band * 8 - shift;
            uint8_t bits =
                bitStart >= 0 ? static_cast<uint8_t>(pattern >> bitStart) : static_cast<uint8_t>(pattern << -bitStart);
            glcd_writeByteBufferedAt(at(x, column), static_cast<uint8_t>((firstBand + band) * 8), bits, mode);
        }
    }
}

void glcd_drawIcon(uint8_t x, uint8_t y, const uint8_t* pixels, uint8_t size, uint8_t positive) {
    int total = size * size;
    for (int index = 0; index < total; ++index) {
        uint8_t mode = positive != 0 ? pixels[index] : (pixels[index] == 0 ? 1 : 0);
        glcd_drawPixel(at(x, index % size), at(y, index / size), mode);
    }
}

void glcd_drawScrollBar(uint8_t x, uint8_t y, uint8_t width, uint8_t count, uint8_t index) {
    glcd_drawRect(x, y, at(x, width), at(y, 4), 1);
    glcd_fillRect(x, y, at(x, 3), at(y, 4), 1);
    glcd_drawLine(at(x, 2), at(y, 1), at(x, 2), at(y, 3), 0);
    glcd_drawLine(at(x, 1), at(y, 2), at(x, 2), at(y, 2), 0);
    glcd_fillRect(at(x, width - 3), y, at(x, width), at(y, 4), 1);
    glcd_drawLine(at(x, width - 2), at(y, 1), at(x, width - 2), at(y, 3), 0);
    glcd_drawLine(at(x, width - 1), at(y, 2), at(x, width - 2), at(y, 2), 0);
    int track = width - 8;
    int start = 0;
    int end = 0;
    if (count > 0) {
        // An index past the end keeps the thumb on the last position instead of running over the arrow.
        int position = index < count ? index : count - 1;
        start = track * position / count;
        end = track * (position + 1) / count;
    }
    glcd_fillRect(at(x, 4 + start), y, at(x, 4 + end), at(y, 4), 1);
}
