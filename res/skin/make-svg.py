#!/usr/bin/python3
"""Writes the skin sources src/*.svg: one strip per push button, four pictures
side by side (normal, hover, pressed, disabled). Labels become outlines, so the
render looks the same on a machine without the fonts. Needs python3-fonttools
and the DejaVu fonts (fonts-dejavu-core); render.sh then needs neither.

  res/skin/make-svg.py            # rewrites res/skin/src/*.svg
"""
import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FONTS = '/usr/share/fonts/truetype/dejavu/'
REGULAR = FONTS + 'DejaVuSans.ttf'
BOLD = FONTS + 'DejaVuSans-Bold.ttf'
# Height of "H" in DejaVu Sans (both weights), in font units of a 2048 em.
# Labels are centred on it, which centres mixed-case words optically.
CAP_HEIGHT = 1493 / 2048

# The window title is outlined by the same code, kerning included.
# No bytecode cache: it would land in res/art, beside a file this does not own.
sys.dont_write_bytecode = True
_spec = importlib.util.spec_from_file_location(
    'outline_text', os.path.join(HERE, '..', 'art', 'outline-text.py'))
_outline_text = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_outline_text)

STATES = ('normal', 'hover', 'pressed', 'disabled')

# The palette of the window art: slate title band, light body and cards, one
# accent blue for the actions. Each style gives, per state, the top and bottom
# of the fill gradient, the 1 px border and the colour of the label.
PRIMARY = {
    'normal':   ('#3a7cbf', '#2b67a6', '#245a91', '#ffffff'),
    'hover':    ('#4b8dcf', '#3574b4', '#2a65a0', '#ffffff'),
    'pressed':  ('#245b93', '#2a66a3', '#1d4b7a', '#e8f0f8'),
    'disabled': ('#e2e7ed', '#d9e0e7', '#c6cfd9', '#9aa7b5'),
}
SECONDARY = {
    'normal':   ('#ffffff', '#f1f4f8', '#b6c3d1', '#2b3f55'),
    'hover':    ('#f7fafd', '#e6eff8', '#2f6fb0', '#1d3557'),
    'pressed':  ('#d6e1ec', '#e0e8f1', '#2a62a0', '#1d3557'),
    'disabled': ('#f5f6f8', '#f0f2f5', '#d8dee5', '#b0b9c3'),
}
# A tab's pressed picture is also how the program draws the tab that is open,
# for as long as it is open, so it is the accent "selected" look and does not
# shift like a pressed button.
TAB = {
    'normal':   ('#ffffff', '#eff3f7', '#c3cedb', '#34495e'),
    'hover':    ('#f7fafd', '#e3edf7', '#6f9dcc', '#1d3557'),
    'pressed':  ('#3576b8', '#2b67a6', '#245a91', '#ffffff'),
    'disabled': ('#f5f6f8', '#f0f2f5', '#d8dee5', '#b0b9c3'),
}


def fmt(v):
    return ('%.2f' % v).rstrip('0').rstrip('.')


def label(text, font, size, width, height, dx=0.0):
    """The label's outline centred in a picture; returns (path d, advance)."""
    _, advance = _outline_text.outline(font, text, size, 0, 0)
    x = (width - advance) / 2 + dx
    # A whole-pixel baseline keeps the bottoms of the letters sharp.
    baseline = round(height / 2 + CAP_HEIGHT * size / 2)
    d, _ = _outline_text.outline(font, text, size, x, baseline)
    return d


class Strip:
    """One button: its picture size, and the SVG of each state's picture."""

    def __init__(self, name, width, height, comment):
        self.name, self.width, self.height, self.comment = name, width, height, comment
        self.defs = []
        self.pictures = []

    def gradient(self, gid, top, bottom):
        self.defs.append(
            f'    <linearGradient id="{gid}" x1="0" y1="0" x2="0" y2="1">\n'
            f'      <stop offset="0" stop-color="{top}"/>\n'
            f'      <stop offset="1" stop-color="{bottom}"/>\n'
            f'    </linearGradient>')
        return f'url(#{gid})'

    def svg(self):
        w, h = self.width, self.height
        body = []
        for i, (state, inner) in enumerate(zip(STATES, self.pictures)):
            body.append(f'  <!-- {i}: {state} -->\n'
                        f'  <g transform="translate({i * w} 0)">\n{inner}\n  </g>')
        return ('<?xml version="1.0" encoding="UTF-8"?>\n'
                f'<!-- {self.name}.png: {self.comment}\n'
                f'     Four {w} x {h} px pictures side by side: normal, hover, pressed,\n'
                '     disabled. Written by make-svg.py; edit that and re-run it. -->\n'
                f'<svg xmlns="http://www.w3.org/2000/svg" width="{4 * w}" height="{h}"'
                f' viewBox="0 0 {4 * w} {h}">\n'
                + ('  <defs>\n' + '\n'.join(self.defs) + '\n  </defs>\n' if self.defs else '')
                + '\n'.join(body) + '\n</svg>\n')


def plate(strip, state, palette, radius):
    """The rounded body of a card-coloured button: gradient fill, 1 px border
    on the half pixel so it lands on whole pixels, a faint top highlight."""
    top, bottom, border, _ = palette[state]
    w, h = strip.width, strip.height
    fill = strip.gradient(f'{state}Fill', top, bottom)
    parts = [f'    <rect x="0.5" y="0.5" width="{w - 1}" height="{h - 1}" rx="{radius}"'
             f' ry="{radius}" fill="{fill}" stroke="{border}"/>']
    if state in ('normal', 'hover'):
        parts.append(f'    <path d="M{radius + 1} 1.5H{w - radius - 1}" stroke="#ffffff"'
                     f' stroke-opacity="0.28"/>')
    return parts


def text_button(name, width, height, comment, palette, text, font, size,
                radius=4, shift_pressed=True, icon=None):
    """A button whose face is a plate and a centred label, optionally led by
    an icon(x, y_centre, colour) of the given width."""
    strip = Strip(name, width, height, comment)
    for state in STATES:
        parts = plate(strip, state, palette, radius)
        colour = palette[state][3]
        dy = 1 if (shift_pressed and state == 'pressed') else 0
        content = []
        if icon is None:
            content.append(f'    <path fill="{colour}" d="{label(text, font, size, width, height)}"/>')
        else:
            icon_width, gap, draw = icon
            _, advance = _outline_text.outline(font, text, size, 0, 0)
            left = (width - icon_width - gap - advance) / 2
            # The label moves right by half the icon and gap so the pair is centred.
            d = label(text, font, size, width, height, dx=(icon_width + gap) / 2)
            content.append(draw(left, height / 2, colour))
            content.append(f'    <path fill="{colour}" d="{d}"/>')
        if dy:
            content = [f'    <g transform="translate(0 {dy})">'] + content + ['    </g>']
        strip.pictures.append('\n'.join(parts + content))
    return strip


def magnifier(x, yc, colour):
    """A 12 px lens with its handle down to the right."""
    cx, cy = x + 5, yc - 1.5
    return (f'    <g fill="none" stroke="{colour}" stroke-width="1.7" stroke-linecap="round">\n'
            f'      <circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="4.2"/>\n'
            f'      <path d="M{fmt(cx + 3.2)} {fmt(cy + 3.2)}L{fmt(cx + 6.5)} {fmt(cy + 6.5)}"/>\n'
            '    </g>')


def browse_button():
    """The file-path browse button: three dots, the usual sign for "choose a
    file", since a word does not fit 48 px at a legible size."""
    strip = Strip('Browse', 48, 21, 'the "..." button beside the firmware file path.')
    for state in STATES:
        parts = plate(strip, state, SECONDARY, 3)
        colour = SECONDARY[state][3]
        dy = 1 if state == 'pressed' else 0
        dots = ''.join(f'<circle cx="{cx}" cy="{11 + dy}" r="1.7"/>' for cx in (18, 24, 30))
        parts.append(f'    <g fill="{colour}">{dots}</g>')
        strip.pictures.append('\n'.join(parts))
    return strip


def window_button(name, comment, glyph, hover_fill, hover_opacity, pressed_fill,
                  pressed_opacity):
    """Minimise and close on the title band. The rounded square is drawn in
    every state, faintly when idle, because the button's window shape is its
    opaque pixels: a bare glyph would leave holes that fall through to the
    band, where a click starts dragging the window instead."""
    strip = Strip(name, 24, 24, comment)
    looks = {
        'normal':   ('#ffffff', 0.07, '#dce7f2', 1.0),
        'hover':    (hover_fill, hover_opacity, '#ffffff', 1.0),
        'pressed':  (pressed_fill, pressed_opacity, '#ffffff', 0.9),
        'disabled': ('#ffffff', 0.04, '#dce7f2', 0.35),
    }
    for state in STATES:
        fill, fill_opacity, ink, ink_opacity = looks[state]
        strip.pictures.append(
            f'    <rect width="24" height="24" rx="6" ry="6" fill="{fill}"'
            f' fill-opacity="{fill_opacity}"/>\n'
            + glyph(ink, ink_opacity))
    return strip


def cross(ink, opacity):
    return (f'    <path d="M8 8L16 16M16 8L8 16" stroke="{ink}" stroke-opacity="{opacity}"'
            ' stroke-width="1.8" stroke-linecap="round"/>')


def dash(ink, opacity):
    return f'    <rect x="7" y="11" width="10" height="2" fill="{ink}" fill-opacity="{opacity}"/>'


def strips():
    return [
        window_button('close', 'closes the window; top right of the title band.', cross,
                      '#d9534f', 1.0, '#b03a36', 1.0),
        window_button('minimize', 'minimises the window; left of close.', dash,
                      '#ffffff', 0.2, '#0d1f33', 0.35),
        text_button('Tip', 113, 26, 'tab that opens the network settings form.',
                    TAB, 'Modify', REGULAR, 12.5, shift_pressed=False),
        text_button('Tip1', 113, 26, 'tab that opens the firmware upgrade panel.',
                    TAB, 'Upgrade', REGULAR, 12.5, shift_pressed=False),
        text_button('modify', 207, 42, 'writes the form to the selected device.',
                    PRIMARY, 'Modify IP', BOLD, 14, radius=5),
        text_button('search', 205, 28, 'broadcasts a search for devices.',
                    PRIMARY, 'Search', BOLD, 13, icon=(12, 7, magnifier)),
        text_button('Upgrade', 136, 24, 'sends the firmware file to the device.',
                    PRIMARY, 'Upgrade', BOLD, 12),
        browse_button(),
    ]


if __name__ == '__main__':
    out = os.path.join(HERE, 'src')
    os.makedirs(out, exist_ok=True)
    for strip in strips():
        with open(os.path.join(out, strip.name + '.svg'), 'w', encoding='utf-8') as f:
            f.write(strip.svg())
        print('wrote src/%s.svg' % strip.name)
