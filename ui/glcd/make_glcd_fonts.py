#!/usr/bin/env python3
"""Writes GlcdFonts.cpp from the glyph drawings below: python3 make_glcd_fonts.py > GlcdFonts.cpp

Two drawings are made by hand, a 3 x 5 set and a 5 x 7 set (plus 9-row forms of the letters with
descenders); the taller fonts are derived from the 5 x 7 set by trimming, doubling and emboldening so that
every font of the library has the same letter shapes.
"""

SMALL = {  # 3 x 5, rows top to bottom separated by '/'
    ' ': '.../.../.../.../...', '!': '.#./.#./.#./.../.#.', '"': '#.#/#.#/.../.../...',
    '#': '#.#/###/#.#/###/#.#', '$': '.##/##./.#./.##/##.', '%': '#.#/..#/.#./#../#.#',
    '&': '.#./#.#/.#./#.#/.##', "'": '.#./.#./.../.../...', '(': '..#/.#./.#./.#./..#',
    ')': '#../.#./.#./.#./#..', '*': '.../#.#/.#./#.#/...', '+': '.../.#./###/.#./...',
    ',': '.../.../.../.#./#..', '-': '.../.../###/.../...', '.': '.../.../.../.../.#.',
    '/': '..#/..#/.#./#../#..', '0': '###/#.#/#.#/#.#/###', '1': '.#./##./.#./.#./###',
    '2': '###/..#/###/#../###', '3': '###/..#/.##/..#/###', '4': '#.#/#.#/###/..#/..#',
    '5': '###/#../###/..#/###', '6': '###/#../###/#.#/###', '7': '###/..#/..#/.#./.#.',
    '8': '###/#.#/###/#.#/###', '9': '###/#.#/###/..#/###', ':': '.../.#./.../.#./...',
    ';': '.../.#./.../.#./#..', '<': '..#/.#./#../.#./..#', '=': '.../###/.../###/...',
    '>': '#../.#./..#/.#./#..', '?': '###/..#/.##/.../.#.', '@': '.#./#.#/###/#../.##',
    'A': '.#./#.#/###/#.#/#.#', 'B': '##./#.#/##./#.#/##.', 'C': '.##/#../#../#../.##',
    'D': '##./#.#/#.#/#.#/##.', 'E': '###/#../##./#../###', 'F': '###/#../##./#../#..',
    'G': '.##/#../#.#/#.#/.##', 'H': '#.#/#.#/###/#.#/#.#', 'I': '###/.#./.#./.#./###',
    'J': '..#/..#/..#/#.#/.#.', 'K': '#.#/#.#/##./#.#/#.#', 'L': '#../#../#../#../###',
    'M': '#.#/###/###/#.#/#.#', 'N': '##./#.#/#.#/#.#/#.#', 'O': '.#./#.#/#.#/#.#/.#.',
    'P': '##./#.#/##./#../#..', 'Q': '.#./#.#/#.#/##./.##', 'R': '##./#.#/##./#.#/#.#',
    'S': '.##/#../.#./..#/##.', 'T': '###/.#./.#./.#./.#.', 'U': '#.#/#.#/#.#/#.#/###',
    'V': '#.#/#.#/#.#/#.#/.#.', 'W': '#.#/#.#/###/###/#.#', 'X': '#.#/#.#/.#./#.#/#.#',
    'Y': '#.#/#.#/.#./.#./.#.', 'Z': '###/..#/.#./#../###', '[': '##./#../#../#../##.',
    '\\': '#../#../.#./..#/..#', ']': '.##/..#/..#/..#/.##', '^': '.#./#.#/.../.../...',
    '_': '.../.../.../.../###', '`': '#../.#./.../.../...', 'a': '.../.##/#.#/#.#/.##',
    'b': '#../##./#.#/#.#/##.', 'c': '.../.##/#../#../.##', 'd': '..#/.##/#.#/#.#/.##',
    'e': '.../.#./###/#../.##', 'f': '..#/.#./###/.#./.#.', 'g': '.../.##/#.#/.##/##.',
    'h': '#../##./#.#/#.#/#.#', 'i': '.#./.../.#./.#./.#.', 'j': '..#/.../..#/#.#/.#.',
    'k': '#../#.#/##./##./#.#', 'l': '##./.#./.#./.#./###', 'm': '.../###/###/#.#/#.#',
    'n': '.../##./#.#/#.#/#.#', 'o': '.../.#./#.#/#.#/.#.', 'p': '.../##./#.#/##./#..',
    'q': '.../.##/#.#/.##/..#', 'r': '.../#.#/##./#../#..', 's': '.../.##/##./..#/##.',
    't': '.#./###/.#./.#./..#', 'u': '.../#.#/#.#/#.#/.##', 'v': '.../#.#/#.#/#.#/.#.',
    'w': '.../#.#/#.#/###/###', 'x': '.../#.#/.#./.#./#.#', 'y': '.../#.#/#.#/.#./#..',
    'z': '.../###/.##/##./###', '{': '.##/.#./##./.#./.##', '|': '.#./.#./.#./.#./.#.',
    '}': '##./.#./.##/.#./##.', '~': '.../#../###/..#/...', '\x7f': '###/###/###/###/###',
}

BIG = {  # 5 x 7, rows top to bottom separated by spaces
    ' ': '..... ..... ..... ..... ..... ..... .....', '!': '..#.. ..#.. ..#.. ..#.. ..#.. ..... ..#..',
    '"': '.#.#. .#.#. .#.#. ..... ..... ..... .....', '#': '.#.#. .#.#. ##### .#.#. ##### .#.#. .#.#.',
    '$': '..#.. .#### #.#.. .###. ..#.# ####. ..#..', '%': '##... ##..# ...#. ..#.. .#... #..## ...##',
    '&': '.##.. #..#. #.#.. .#... #.#.# #..#. .##.#', "'": '..#.. ..#.. .#... ..... ..... ..... .....',
    '(': '...#. ..#.. .#... .#... .#... ..#.. ...#.', ')': '.#... ..#.. ...#. ...#. ...#. ..#.. .#...',
    '*': '..... ..#.. #.#.# .###. #.#.# ..#.. .....', '+': '..... ..#.. ..#.. ##### ..#.. ..#.. .....',
    ',': '..... ..... ..... ..... .##.. ..#.. .#...', '-': '..... ..... ..... ##### ..... ..... .....',
    '.': '..... ..... ..... ..... ..... .##.. .##..', '/': '..... ....# ...#. ..#.. .#... #.... .....',
    '0': '.###. #...# #..## #.#.# ##..# #...# .###.', '1': '..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.',
    '2': '.###. #...# ....# ...#. ..#.. .#... #####', '3': '##### ...#. ..#.. ...#. ....# #...# .###.',
    '4': '...#. ..##. .#.#. #..#. ##### ...#. ...#.', '5': '##### #.... ####. ....# ....# #...# .###.',
    '6': '..##. .#... #.... ####. #...# #...# .###.', '7': '##### ....# ...#. ..#.. .#... .#... .#...',
    '8': '.###. #...# #...# .###. #...# #...# .###.', '9': '.###. #...# #...# .#### ....# ...#. .##..',
    ':': '..... .##.. .##.. ..... .##.. .##.. .....', ';': '..... .##.. .##.. ..... .##.. ..#.. .#...',
    '<': '...#. ..#.. .#... #.... .#... ..#.. ...#.', '=': '..... ..... ##### ..... ##### ..... .....',
    '>': '.#... ..#.. ...#. ....# ...#. ..#.. .#...', '?': '.###. #...# ....# ...#. ..#.. ..... ..#..',
    '@': '.###. #...# ....# .##.# #.#.# #.#.# .###.', 'A': '.###. #...# #...# ##### #...# #...# #...#',
    'B': '####. #...# #...# ####. #...# #...# ####.', 'C': '.###. #...# #.... #.... #.... #...# .###.',
    'D': '###.. #..#. #...# #...# #...# #..#. ###..', 'E': '##### #.... #.... ####. #.... #.... #####',
    'F': '##### #.... #.... ####. #.... #.... #....', 'G': '.###. #...# #.... #.### #...# #...# .####',
    'H': '#...# #...# #...# ##### #...# #...# #...#', 'I': '.###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.',
    'J': '..### ...#. ...#. ...#. ...#. #..#. .##..', 'K': '#...# #..#. #.#.. ##... #.#.. #..#. #...#',
    'L': '#.... #.... #.... #.... #.... #.... #####', 'M': '#...# ##.## #.#.# #.#.# #...# #...# #...#',
    'N': '#...# #...# ##..# #.#.# #..## #...# #...#', 'O': '.###. #...# #...# #...# #...# #...# .###.',
    'P': '####. #...# #...# ####. #.... #.... #....', 'Q': '.###. #...# #...# #...# #.#.# #..#. .##.#',
    'R': '####. #...# #...# ####. #.#.. #..#. #...#', 'S': '.#### #.... #.... .###. ....# ....# ####.',
    'T': '##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..', 'U': '#...# #...# #...# #...# #...# #...# .###.',
    'V': '#...# #...# #...# #...# #...# .#.#. ..#..', 'W': '#...# #...# #...# #.#.# #.#.# #.#.# .#.#.',
    'X': '#...# #...# .#.#. ..#.. .#.#. #...# #...#', 'Y': '#...# #...# #...# .#.#. ..#.. ..#.. ..#..',
    'Z': '##### ....# ...#. ..#.. .#... #.... #####', '[': '.###. .#... .#... .#... .#... .#... .###.',
    '\\': '..... #.... .#... ..#.. ...#. ....# .....', ']': '.###. ...#. ...#. ...#. ...#. ...#. .###.',
    '^': '..#.. .#.#. #...# ..... ..... ..... .....', '_': '..... ..... ..... ..... ..... ..... #####',
    '`': '.#... ..#.. ...#. ..... ..... ..... .....', 'a': '..... ..... .###. ....# .#### #...# .####',
    'b': '#.... #.... #.##. ##..# #...# #...# ####.', 'c': '..... ..... .###. #.... #.... #...# .###.',
    'd': '....# ....# .##.# #..## #...# #...# .####', 'e': '..... ..... .###. #...# ##### #.... .###.',
    'f': '..##. .#..# .#... ###.. .#... .#... .#...', 'g': '..... .#### #...# #...# .#### ....# .###.',
    'h': '#.... #.... #.##. ##..# #...# #...# #...#', 'i': '..#.. ..... .##.. ..#.. ..#.. ..#.. .###.',
    'j': '...#. ..... ..##. ...#. ...#. #..#. .##..', 'k': '.#... .#... .#..# .#.#. .##.. .#.#. .#..#',
    'l': '.##.. ..#.. ..#.. ..#.. ..#.. ..#.. .###.', 'm': '..... ..... ##.#. #.#.# #.#.# #...# #...#',
    'n': '..... ..... #.##. ##..# #...# #...# #...#', 'o': '..... ..... .###. #...# #...# #...# .###.',
    'p': '..... ..... ####. #...# ####. #.... #....', 'q': '..... ..... .##.# #..## .#### ....# ....#',
    'r': '..... ..... #.##. ##..# #.... #.... #....', 's': '..... ..... .###. #.... .###. ....# ####.',
    't': '.#... .#... ###.. .#... .#... .#..# ..##.', 'u': '..... ..... #...# #...# #...# #..## .##.#',
    'v': '..... ..... #...# #...# #...# .#.#. ..#..', 'w': '..... ..... #...# #...# #.#.# #.#.# .#.#.',
    'x': '..... ..... #...# .#.#. ..#.. .#.#. #...#', 'y': '..... ..... #...# #...# .#### ....# .###.',
    'z': '..... ..... ##### ...#. ..#.. .#... #####', '{': '...#. ..#.. ..#.. .#... ..#.. ..#.. ...#.',
    '|': '..#.. ..#.. ..#.. ..#.. ..#.. ..#.. ..#..', '}': '.#... ..#.. ..#.. ...#. ..#.. ..#.. .#...',
    '~': '..... ..... .#... #.#.# ...#. ..... .....', '\x7f': '##### ##### ##### ##### ##### ##### #####',
    '\x80': '#.... ##... ###.. ####. ###.. ##... #....',
}

# Letters with descenders in a 9-row cell (rows 7 and 8 below the base line) for the 10- and 11-row fonts.
DESCENDERS = {
    'g': '..... ..... .#### #...# #...# #...# .#### ....# .###.',
    'j': '...#. ..... ..##. ...#. ...#. ...#. ...#. #..#. .##..',
    'p': '..... ..... ####. #...# #...# #...# ####. #.... #....',
    'q': '..... ..... .#### #...# #...# #...# .#### ....# ....#',
    'y': '..... ..... #...# #...# #...# #...# .#### ....# .###.',
}


def parse(drawing, separator):
    rows = drawing.split(separator)
    return [[ch == '#' for ch in row] for row in rows]


def columns_of(grid):
    """Grid rows -> list of columns, each a list of booleans top to bottom."""
    width = len(grid[0])
    return [[row[x] for row in grid] for x in range(width)]


def trim(columns, space_width):
    lit = [i for i, col in enumerate(columns) if any(col)]
    if not lit:
        return [[False] * len(columns[0]) for _ in range(space_width)]
    return columns[lit[0]:lit[-1] + 1]


def pad_rows(columns, top, height):
    return [[False] * top + col + [False] * (height - top - len(col)) for col in columns]


def double(columns, horizontal):
    tall = [[bit for bit in col for _ in range(2)] for col in columns]
    return [col for col in tall for _ in range(horizontal)]


def embolden(columns):
    height = len(columns[0])
    out = columns + [[False] * height]
    return [[out[i][r] or (i > 0 and out[i - 1][r]) for r in range(height)] for i in range(len(out))]


def encode_glyph(columns, height):
    """Bands of one byte per column, band 0 first; the last band of a height that is not a multiple of 8
    (and above 8) keeps its rows in the high bits."""
    bands = (height - 1) // 8 + 1
    remainder = height % 8
    data = []
    for band in range(bands):
        shift = 8 - remainder if (band == bands - 1 and height > 8 and remainder) else 0
        for col in columns:
            byte = 0
            for bit in range(8):
                row = band * 8 + bit
                if row < height and col[row]:
                    byte |= 1 << (bit + shift)
            data.append(byte)
    return data


def fixed_font(glyphs, width, height, first, count):
    body = []
    for code in range(first, first + count):
        body += encode_glyph(glyphs[chr(code)], height)
    return [0, 0, width, height, first, count] + body


def proportional_font(glyphs, height, first, count):
    widths = [len(glyphs[chr(code)]) for code in range(first, first + count)]
    body = []
    for code in range(first, first + count):
        body += encode_glyph(glyphs[chr(code)], height)
    size = 6 + count + len(body)
    return [size >> 8, size & 0xFF, max(widths), height, first, count] + widths + body


CODES = [chr(code) for code in range(32, 129)]

for table, separator, rows, width in ((SMALL, '/', 5, 3), (BIG, ' ', 7, 5), (DESCENDERS, ' ', 9, 5)):
    for ch, drawing in table.items():
        lines = drawing.split(separator)
        assert len(lines) == rows and all(len(line) == width for line in lines), repr(ch)

small = {ch: columns_of(parse(SMALL.get(ch, SMALL[' ']), '/')) for ch in CODES}
big = {ch: columns_of(parse(BIG.get(ch, BIG[' ']), ' ')) for ch in CODES}
big9 = {ch: columns_of(parse(DESCENDERS[ch], ' ')) if ch in DESCENDERS else pad_rows(big[ch], 0, 9)
        for ch in CODES}

fonts = {
    'glcd_font3x5': fixed_font(small, 3, 5, 32, 96),
    'glcd_font3x6': fixed_font({ch: pad_rows(cols, 0, 6) for ch, cols in small.items()}, 3, 6, 32, 96),
    'glcd_font5x7': fixed_font(big, 5, 7, 32, 97),
    'glcd_font10': proportional_font({ch: pad_rows(trim(c, 3), 1, 10) for ch, c in big9.items()}, 10, 32, 96),
    'glcd_font11': proportional_font({ch: embolden(pad_rows(trim(c, 3), 1, 11)) for ch, c in big9.items()},
                                     11, 32, 96),
    'glcd_font14': proportional_font({ch: double(trim(c, 3), 2) for ch, c in big.items()}, 14, 32, 96),
    'glcd_font14wide': proportional_font({ch: embolden(double(trim(c, 3), 2)) for ch, c in big.items()},
                                         14, 32, 96),
}

CELL_ORDER = '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ _-:.+'
digits3x5 = []
for ch in CELL_ORDER:
    digits3x5 += [sum(1 << (3 + r) for r in range(5) if col[r]) for col in small[ch]]
digits5x7 = []
for ch in CELL_ORDER:
    digits5x7 += [sum(1 << r for r in range(7) if col[r]) for col in big[ch]]


def emit(name, data, comment):
    lines = ['// ' + comment, 'const uint8_t %s[%d] = {' % (name, len(data))]
    for start in range(0, len(data), 16):
        lines.append('    ' + ', '.join('0x%02X' % b for b in data[start:start + 16]) + ',')
    lines.append('};')
    return '\n'.join(lines)


out = ['// Generated by make_glcd_fonts.py from its glyph drawings; change the drawings there, not here.',
       '#include "Glcd.h"']
out.append(emit('glcd_font3x5', fonts['glcd_font3x5'], 'Fixed 3 x 5, characters 32 to 127.'))
out.append(emit('glcd_font3x6', fonts['glcd_font3x6'], 'Fixed 3 x 6 (the 3 x 5 shapes), characters 32 to 127.'))
out.append(emit('glcd_font5x7', fonts['glcd_font5x7'], 'Fixed 5 x 7, characters 32 to 128 (127 a block, 128 a marker).'))
out.append(emit('glcd_font10', fonts['glcd_font10'], 'Proportional, 10 rows, characters 32 to 127.'))
out.append(emit('glcd_font11', fonts['glcd_font11'], 'Proportional bold, 11 rows, characters 32 to 127.'))
out.append(emit('glcd_font14', fonts['glcd_font14'], 'Proportional, 14 rows (5 x 7 doubled), characters 32 to 127.'))
out.append(emit('glcd_font14wide', fonts['glcd_font14wide'], 'Proportional bold, 14 rows, characters 32 to 127.'))
out.append(emit('glcd_digits3x5', digits3x5, 'Cells 0-9, A-Z, space, _, -, :, ., + ; 3 columns, rows in bits 3 to 7.'))
out.append(emit('glcd_digits5x7', digits5x7, 'Cells 0-9, A-Z, space, _, -, :, ., + ; 5 columns, rows in bits 0 to 6.'))
print('\n\n'.join(out))
