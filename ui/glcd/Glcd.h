#pragma once
#include <cstdint>

// Monochrome 128 x 64 drawing library. Everything draws into the one process-wide picture `glcd_buffer`
// from the UI thread only; nothing locks. No display shows the picture: it exists for the pages that
// draw into it and for tests that look at it.
//
// Coordinates are bytes; x is taken modulo 128 and the 8-row band modulo 8, so drawing past an edge wraps
// to the opposite edge and nothing is ever written outside the buffer.
//
// Drawing modes: 0 clears the pattern's pixels, 1 sets them, 2 inverts them, 3 inverts (within the 8-row
// band that starts at the target row) every pixel the pattern leaves 0. Any other value acts as 1, except
// GLCD_MEASURE (255) in the text operations, which only measures.

constexpr int GLCD_WIDTH = 128;
constexpr int GLCD_HEIGHT = 64;
constexpr int GLCD_BUFFER_SIZE = GLCD_WIDTH * GLCD_HEIGHT / 8;
constexpr uint8_t GLCD_MEASURE = 255;

// Pixel (x, y) is bit y % 8 of byte (127 - x) * 8 + y / 8: columns are stored from the right.
extern uint8_t glcd_buffer[GLCD_BUFFER_SIZE];

// Buffer and output.
void glcd_initialize();
void glcd_clear(int lit);
uint16_t glcd_flushPage();
void glcd_flushAll();
void glcd_writeByteBufferedAt(uint8_t x, uint8_t y, uint8_t pattern, uint8_t mode);

// Shapes.
void glcd_drawPixel(uint8_t x, uint8_t y, uint8_t mode);
void glcd_drawLine(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode);
void glcd_drawRect(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode);
// Columns min..max inclusive, rows min(y0,y1) .. max(y0,y1) - 1: the bottom row is left out.
void glcd_fillRect(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode);
void glcd_drawCircle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode);
void glcd_fillCircle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode);

// Header fonts (see GlcdFonts.cpp for the table layout). The text operations return the next free column
// (the right-aligned ones the width); the value is not reduced to a byte, so a caller can measure text that
// runs past the picture.
extern const uint8_t glcd_font10[];
extern const uint8_t glcd_font11[];
extern const uint8_t glcd_font14[];
extern const uint8_t glcd_font14wide[];
extern const uint8_t glcd_font5x7[];
extern const uint8_t glcd_font3x6[];
extern const uint8_t glcd_font3x5[];

int glcd_drawChar2(uint8_t x, uint8_t y, char c, const uint8_t* font, uint8_t mode);
int glcd_drawStringFont(uint8_t x, uint8_t y, const char* text, const uint8_t* font, uint8_t mode);
int glcd_drawStringFontLimited(uint8_t x, uint8_t y, uint8_t xMax, int scroll, const char* text, const uint8_t* font,
                               uint8_t mode);
int glcd_drawStringFontLimitedCut(uint8_t x, uint8_t y, uint8_t xMax, int scroll, const char* text, const uint8_t* font,
                                  uint8_t mode);
int glcd_drawStringFontCentered(uint8_t x, uint8_t y, uint8_t cells, const char* text, const uint8_t* font,
                                uint8_t mode);
int glcd_drawStringFontRightAligned(uint8_t xRight, uint8_t y, const char* text, const uint8_t* font, uint8_t mode);
int glcd_drawStringFontTrim(uint8_t x, uint8_t y, uint8_t n, int scroll, const char* text, const uint8_t* font,
                            uint8_t mode);
int glcd_drawStringFontRightAlignedTrim(uint8_t xRight, uint8_t y, uint8_t n, int scroll, const char* text,
                                        const uint8_t* font, uint8_t mode);

// Text in the default font glcd_font3x5, 4 columns per character.
void glcd_drawString(uint8_t x, uint8_t y, const char* text, uint8_t mode);
void glcd_drawStringCentered(uint8_t x, uint8_t y, uint8_t cells, const char* text, uint8_t mode);
void glcd_drawInt(uint8_t x, uint8_t y, int value, uint8_t mode);
void glcd_drawFloat(uint8_t x, uint8_t y, uint8_t mode, float value);

// Fixed-cell characters: digits, letters (upper case only), space, '_', '-', ':', '.', '+'.
extern const uint8_t glcd_digits3x5[];
extern const uint8_t glcd_digits5x7[];
int getFontAddress(char c);
int getBigFontAddress(char c);
bool isValue(char c);
bool isBigValue(char c);

void glcd_drawChar(uint8_t x, uint8_t y, char c, uint8_t mode);
void glcd_drawBigChar(uint8_t x, uint8_t y, char c, uint8_t mode);
void glcd_drawHex(uint8_t x, uint8_t y, uint32_t value, uint8_t mode);
void glcd_drawCharInt(uint8_t x, uint8_t y, uint8_t value, uint8_t mode);
void glcd_drawBigString(uint8_t x, uint8_t y, const char* text, uint8_t mode);
void glcd_drawBigStringCentered(uint8_t x, uint8_t y, uint8_t cells, const char* text, uint8_t mode);

// Widgets, arrows and images.
void glcd_drawPot(uint8_t cx, uint8_t cy, uint8_t size, uint8_t style, float min, float max, float value);
void glcd_drawPotLog(uint8_t cx, uint8_t cy, uint8_t size, uint8_t style, float min, float max, float value);
void glcd_drawPotBody(uint8_t cx, uint8_t cy, uint8_t style, int step);
void glcd_drawBar1(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t r, uint8_t filled, uint8_t mode, float min,
                   float max, float value);
void glcd_drawVu(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode, float level, float top, float bottom);
void glcd_drawSmallArrow(uint8_t x, uint8_t y, uint8_t right, uint8_t mode);
void glcd_drawArrow(uint8_t x, uint8_t y, uint8_t right, uint8_t mode);
void glcd_drawFullImage(const uint8_t* image);
void glcd_drawFullImageOffset(const uint8_t* image, uint8_t offset);
void glcd_drawImage(const uint8_t* image, uint8_t x, uint8_t y, uint8_t height, uint8_t width, uint8_t mode);
void glcd_drawIcon(uint8_t x, uint8_t y, const uint8_t* pixels, uint8_t size, uint8_t positive);
void glcd_drawScrollBar(uint8_t x, uint8_t y, uint8_t width, uint8_t count, uint8_t index);
