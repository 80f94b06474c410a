#!/usr/bin/python3
"""Turns a line of text into one SVG path 'd' string, so background.svg renders
the same on a machine without the font. Uses the font's own advances and its
GPOS pair kerning ("Te" in the product name needs it). Needs python3-fonttools.

  outline-text.py FONT.ttf TEXT SIZE_PX X BASELINE_Y > text.d
"""
import re
import sys

from fontTools.pens.svgPathPen import SVGPathPen
from fontTools.pens.transformPen import TransformPen
from fontTools.ttLib import TTFont


def pair_kerning(font):
    """(left glyph, right glyph) -> x advance adjustment, from the 'kern' feature."""
    kern = {}
    if 'GPOS' not in font:
        return kern
    gpos = font['GPOS'].table
    lookups = set()
    for record in gpos.FeatureList.FeatureRecord:
        if record.FeatureTag == 'kern':
            lookups.update(record.Feature.LookupListIndex)
    for index in sorted(lookups):
        lookup = gpos.LookupList.Lookup[index]
        for sub in lookup.SubTable:
            if lookup.LookupType == 9:  # extension wrapper
                sub = sub.ExtSubTable
            if getattr(sub, 'LookupType', lookup.LookupType) != 2:
                continue
            first = sub.Coverage.glyphs
            if sub.Format == 1:
                for left, pairs in zip(first, sub.PairSet):
                    for pair in pairs.PairValueRecord:
                        value = getattr(pair.Value1, 'XAdvance', 0) if pair.Value1 else 0
                        kern.setdefault((left, pair.SecondGlyph), value)
            elif sub.Format == 2:
                classes1 = sub.ClassDef1.classDefs
                classes2 = sub.ClassDef2.classDefs
                for left in first:
                    row = sub.Class1Record[classes1.get(left, 0)]
                    for right, class2 in classes2.items():
                        value1 = row.Class2Record[class2].Value1
                        value = getattr(value1, 'XAdvance', 0) if value1 else 0
                        if value:
                            kern.setdefault((left, right), value)
    return kern


def outline(font_file, text, size, x, baseline):
    font = TTFont(font_file)
    scale = size / font['head'].unitsPerEm
    cmap = font.getBestCmap()
    glyphs = font.getGlyphSet()
    advances = font['hmtx']
    kern = pair_kerning(font)
    pen = SVGPathPen(glyphs)
    pen_x = 0
    previous = None
    for ch in text:
        name = cmap[ord(ch)]
        if previous is not None:
            pen_x += kern.get((previous, name), 0)
        glyphs[name].draw(TransformPen(pen, (scale, 0, 0, -scale, x + pen_x * scale, baseline)))
        pen_x += advances[name][0]
        previous = name
    # Two decimals are far below a pixel and keep the SVG readable.
    return re.sub(r'-?\d+\.\d+',
                  lambda m: ('%.2f' % float(m.group())).rstrip('0').rstrip('.'),
                  pen.getCommands()), pen_x * scale


if __name__ == '__main__':
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    d, width = outline(sys.argv[1], sys.argv[2], float(sys.argv[3]),
                       float(sys.argv[4]), float(sys.argv[5]))
    print(d)
    print('advance width: %.1f px' % width, file=sys.stderr)
