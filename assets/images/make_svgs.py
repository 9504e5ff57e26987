#!/usr/bin/env python3
"""Writes the game's SVG pictures into this folder.

The SVG files are the art sources the build packs; this script is how they
were drawn, so that shared parts (plates, balloons, imps, icons) stay
identical wherever they appear. Edit here and run it again:
    python3 assets/images/make_svgs.py
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# Palette: one limited set for the whole game.
OL = "#1C2350"        # outlines
NAVY = "#000080"      # painted labels, same as the program's text
PANEL = "#F2F7FD"
PANEL2 = "#DCE9F7"
PANEL3 = "#C4D7EE"
UNLIT = "#E4EEF9"
UNLIT2 = "#CBDCF0"
GOLD1 = "#FFDD55"
GOLD2 = "#FFAA22"
SKY1 = "#3E8EDC"
SKY2 = "#8CC8F0"
GRASS = "#5DBB3A"
GRASS2 = "#3F8F2A"
ROCK = "#8A7262"
ROCK2 = "#6B5446"
ROCK3 = "#A88F7C"
LAVA1 = "#FF8A1E"
LAVA2 = "#E0401A"
LAVA3 = "#B8301A"
LAVAHI = "#FFC247"
CRUST = "#5A1E12"
SLATE = "#6E7890"
SLATE2 = "#545C74"
SLATE3 = "#8E96AC"
FONT = "Comic Neue"
BALLOON = ["#E8423A", "#F7C631", "#4CC04A", "#3F7FE0", "#9A5BD6", "#F4F6FA"]
BALLOON_HI = ["#FF8C80", "#FFE88A", "#9BE58F", "#8DB8FF", "#CFA6F2", "#FFFFFF"]
IMP = {1: ("#59C14A", "#3C8F32", "#A8E69A"),
       2: ("#E04848", "#A82E2E", "#FF9A8A"),
       3: ("#9B5BD0", "#6C3A9A", "#D2A8F2")}

HEAD = ('<svg xmlns="http://www.w3.org/2000/svg" '
        'xmlns:xlink="http://www.w3.org/1999/xlink" '
        'width="{w}" height="{h}" viewBox="0 0 {w} {h}">\n')


def write(name, w, h, body, defs=""):
    with open(os.path.join(HERE, name), "w", encoding="utf-8") as f:
        f.write(HEAD.format(w=w, h=h))
        if defs:
            f.write("<defs>\n" + defs + "</defs>\n")
        f.write(body)
        f.write("</svg>\n")


def vgrad(gid, stops):
    s = "".join('<stop offset="%s" stop-color="%s"/>' % (o, c) for o, c in stops)
    return '<linearGradient id="%s" x1="0" y1="0" x2="0" y2="1">%s</linearGradient>\n' % (gid, s)


def text(x, y, s, size, fill=NAVY, anchor="middle", weight="bold", extra=""):
    s = s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    return ('<text x="%s" y="%s" font-family="%s" font-weight="%s" font-size="%s" '
            'text-anchor="%s" fill="%s" %s>%s</text>\n' % (x, y, FONT, weight, size, anchor, fill, extra, s))


def mirror(w, inner):
    """The same drawing flipped left-right inside a frame w pixels wide."""
    return '<g transform="translate(%d,0) scale(-1,1)">%s</g>' % (w, inner)


def frames(w, parts):
    return "".join('<g transform="translate(%d,0)">%s</g>\n' % (w * i, p) for i, p in enumerate(parts))


# ---------------------------------------------------------------- buttons
# Each button SVG carries both states; the backgrounds <use> the unlit group,
# the archive takes the lit group, so both come from one drawing.

BUTTONS = [
    # file, name, label, w, h, font size, arrow
    ("btn_start.svg", "Start", "START", 244, 50, 27, None),
    ("btn_opt.svg", "Opt", "OPTIONS", 244, 50, 27, None),
    ("btn_hscores.svg", "HScores", "HIGH SCORES", 244, 50, 27, None),
    ("btn_help.svg", "Help", "HELP", 244, 50, 27, None),
    ("btn_visit.svg", "Visit", "WEBSITE", 244, 50, 27, None),
    ("btn_exit.svg", "Exit", "EXIT", 244, 50, 27, None),
    ("btn_back.svg", "Back", "BACK", 140, 40, 23, None),
    ("btn_clear.svg", "Clear", "CLEAR", 96, 18, 14, None),
    ("btn_world.svg", "World", "WORLD TABLE", 286, 32, 20, None),
    ("btn_prev.svg", "Previos", "PREV", 247, 32, 20, "left"),
    ("btn_next.svg", "Next", "NEXT", 247, 32, 20, "right"),
]


def plate(w, h, lit, label, size, arrow, gid):
    r = min(12, h / 2 - 3)
    out = []
    fill = "url(#%s)" % gid
    out.append('<rect x="1.5" y="1.5" width="%s" height="%s" rx="%s" fill="%s" stroke="%s" stroke-width="3"/>'
               % (w - 3, h - 3, r, fill, OL))
    # soft top highlight
    hl = "#FFF3B8" if lit else "#F8FBFF"
    out.append('<rect x="6" y="5" width="%s" height="%s" rx="%s" fill="%s"/>'
               % (w - 12, max(3, h * 0.22), max(1, r - 4), hl))
    ty = h / 2 + size * 0.36
    tw = 0
    if arrow:
        # the label plus a triangle, centred as a pair
        tri = size * 0.75
        gap = 8
        approx = size * 0.62 * len(label)
        total = tri + gap + approx
        x0 = w / 2 - total / 2
        cy = h / 2
        if arrow == "left":
            out.append('<path d="M%.1f %.1f L%.1f %.1f L%.1f %.1f Z" fill="%s"/>'
                       % (x0, cy, x0 + tri, cy - tri * 0.6, x0 + tri, cy + tri * 0.6, NAVY))
            out.append(text(x0 + tri + gap, ty, label, size, anchor="start"))
        else:
            out.append(text(x0, ty, label, size, anchor="start"))
            xa = x0 + approx + gap
            out.append('<path d="M%.1f %.1f L%.1f %.1f L%.1f %.1f Z" fill="%s"/>'
                       % (xa + tri, cy, xa, cy - tri * 0.6, xa, cy + tri * 0.6, NAVY))
    else:
        out.append(text(w / 2, ty, label, size))
    del tw
    return "\n".join(out)


def make_buttons():
    for fname, _name, label, w, h, size, arrow in BUTTONS:
        defs = vgrad("u", [("0", UNLIT), ("1", UNLIT2)]) + vgrad("l", [("0", GOLD1), ("1", GOLD2)])
        body = '<g id="unlit">%s</g>\n<g id="lit">%s</g>\n' % (
            plate(w, h, False, label, size, arrow, "u"), plate(w, h, True, label, size, arrow, "l"))
        write(fname, w, h, body, defs)


def use_unlit(fname, x, y):
    return '<use xlink:href="%s#unlit" x="%d" y="%d"/>\n' % (fname, x, y)


# ---------------------------------------------------------------- balloons

def balloon(cx, cy, rx, ry, colour, hi, striped=False, sw=2):
    out = ['<ellipse cx="%s" cy="%s" rx="%s" ry="%s" fill="%s" stroke="%s" stroke-width="%s"/>'
           % (cx, cy, rx, ry, colour, OL, sw)]
    if striped:
        cid = "clip%d%d" % (int(cx * 10), int(cy * 10))
        out.append('<clipPath id="%s"><ellipse cx="%s" cy="%s" rx="%s" ry="%s"/></clipPath>'
                   % (cid, cx, cy, rx - 1, ry - 1))
        st = []
        for k in range(-3, 4):
            x = cx + k * rx * 0.55
            st.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"/>'
                      % (x - rx * 0.14, cy - ry, rx * 0.28, ry * 2, BALLOON[0]))
        out.append('<g clip-path="url(#%s)">%s</g>' % (cid, "".join(st)))
        out.append('<ellipse cx="%s" cy="%s" rx="%s" ry="%s" fill="none" stroke="%s" stroke-width="%s"/>'
                   % (cx, cy, rx, ry, OL, sw))
    out.append('<ellipse cx="%.1f" cy="%.1f" rx="%.1f" ry="%.1f" fill="%s" transform="rotate(-25 %.1f %.1f)"/>'
               % (cx - rx * 0.42, cy - ry * 0.45, rx * 0.22, ry * 0.3, hi, cx - rx * 0.42, cy - ry * 0.45))
    return "".join(out)


def knot(x, y, colour):
    return ('<path d="M%.1f %.1f L%.1f %.1f L%.1f %.1f Z" fill="%s" stroke="%s" stroke-width="1.2"/>'
            % (x - 2.5, y + 2.5, x, y - 1.5, x + 2.5, y + 2.5, colour, OL))


def shariki_frame(p):
    c, hi = BALLOON[p], BALLOON_HI[p]
    return (balloon(11.5, 14.8, 10.6, 13.9, c, hi, striped=(p == 5), sw=2)
            + knot(11.5, 30.5, c)
            + '<path d="M11.5 33 C13.5 38 9.5 44 11.5 52.9" fill="none" stroke="%s" stroke-width="1.4"/>' % OL)


def make_shariki():
    write("shariki.svg", 144, 53, frames(24, [shariki_frame(p) for p in range(6)]))


def sharik_frame0():
    # facing left: front balloon (left) red like pattern 0, rear blue like pattern 3
    s = []
    s.append('<path d="M31.5 35 C33 39 40 41 45.5 44.5" fill="none" stroke="%s" stroke-width="1.4"/>' % OL)
    s.append('<path d="M58.5 35 C57 39 50 41 45.5 44.5" fill="none" stroke="%s" stroke-width="1.4"/>' % OL)
    s.append(balloon(59, 16.6, 12.2, 15.4, BALLOON[3], BALLOON_HI[3]))
    s.append(knot(58.5, 33, BALLOON[3]))
    s.append(balloon(31.5, 17.2, 12.2, 15.4, BALLOON[0], BALLOON_HI[0]))
    s.append(knot(31.5, 33.5, BALLOON[0]))
    return "".join(s)


def make_sharik():
    f0 = sharik_frame0()
    write("sharik.svg", 196, 48, frames(98, [f0, mirror(98, f0)]))


# ---------------------------------------------------------------- player

SUIT = "#3D6FD1"
SUIT2 = "#2B4C9A"
HELM = "#D6DEE8"
VISOR = "#6FD0F0"
BOOT = "#7A4A2A"
SHAFT = "#C89B4A"
STEEL = "#DCE4EC"
SCARF = "#E8423A"


def leg(points, w=6):
    d = "M" + " L".join("%.1f %.1f" % p for p in points)
    return ('<path d="%s" fill="none" stroke="%s" stroke-width="%s" stroke-linecap="round" stroke-linejoin="round"/>'
            '<path d="%s" fill="none" stroke="%s" stroke-width="%s" stroke-linecap="round" stroke-linejoin="round"/>'
            % (d, OL, w + 3, d, SUIT2, w))


def boot(x, y, facing=1):
    # toe points the way the pilot faces; sole on row 103
    if facing > 0:
        d = "M%.1f %.1f L%.1f %.1f Q%.1f %.1f %.1f %.1f L%.1f %.1f Z" % (
            x - 4, y - 6, x + 3, y - 6, x + 9, y - 4, x + 9, 103.2, x - 4.5, 103.2)
    else:
        d = "M%.1f %.1f L%.1f %.1f Q%.1f %.1f %.1f %.1f L%.1f %.1f Z" % (
            x + 4, y - 6, x - 3, y - 6, x - 9, y - 4, x - 9, 103.2, x + 4.5, 103.2)
    return '<path d="%s" fill="%s" stroke="%s" stroke-width="2" stroke-linejoin="round"/>' % (d, BOOT, OL)


def lance():
    s = []
    s.append('<path d="M22 79 L75 96.5" stroke="%s" stroke-width="7" stroke-linecap="round"/>' % OL)
    s.append('<path d="M22 79 L75 96.5" stroke="%s" stroke-width="4" stroke-linecap="round"/>' % SHAFT)
    # vamplate
    s.append('<path d="M60 86 L70 95.5 L57 97 Z" fill="%s" stroke="%s" stroke-width="2" stroke-linejoin="round"/>'
             % ("#9AA6B8", OL))
    # head; its point covers pixel (86,100)
    s.append('<path d="M71 92 L89.6 101.4 L69.5 99.6 Z" fill="%s" stroke="%s" stroke-width="1.6" stroke-linejoin="round"/>'
             % (STEEL, OL))
    s.append('<path d="M73 95 L85 100.4" stroke="#FFFFFF" stroke-width="1.2"/>')
    return "".join(s)


def pilot_upper():
    s = []
    # scarf streaming back
    s.append('<path d="M44 65 C36 62 30 68 22 64 C26 70 33 72 42 70 Z" fill="%s" stroke="%s" stroke-width="2" stroke-linejoin="round"/>'
             % (SCARF, OL))
    # pack
    s.append('<rect x="33" y="67" width="9" height="15" rx="3" fill="#9AA6B8" stroke="%s" stroke-width="2"/>' % OL)
    # torso
    s.append('<rect x="39.5" y="64.5" width="21" height="22" rx="7" fill="%s" stroke="%s" stroke-width="2.5"/>' % (SUIT, OL))
    s.append('<rect x="40.5" y="79" width="19" height="4" fill="%s"/>' % GOLD1)
    s.append('<path d="M40.5 79 H59.5 M40.5 83 H59.5" stroke="%s" stroke-width="1"/>' % OL)
    # harness straps up to the ring
    s.append('<path d="M43 66 L49.5 45.5 L57 66" fill="none" stroke="%s" stroke-width="1.5"/>' % OL)
    # helmet
    s.append('<circle cx="50" cy="56" r="11" fill="%s" stroke="%s" stroke-width="2.5"/>' % (HELM, OL))
    s.append('<path d="M41 52 C43 44 50 43.5 55 45" fill="none" stroke="%s" stroke-width="3"/>' % SCARF)
    s.append('<path d="M50.5 56 C51 50 62 50 61.4 57.5 C61 63 52 64 50.5 56 Z" fill="%s" stroke="%s" stroke-width="2"/>'
             % (VISOR, OL))
    s.append('<path d="M54 53.5 C55.5 52 58 52 59 53" stroke="#FFFFFF" stroke-width="1.5" fill="none"/>')
    # harness ring at (49,44)
    s.append('<circle cx="49.5" cy="44.5" r="2.2" fill="%s" stroke="%s" stroke-width="1.3"/>' % (GOLD1, OL))
    return "".join(s)


def arm():
    return ('<path d="M53 70 L60 82 L63 91" fill="none" stroke="%s" stroke-width="7.5" stroke-linecap="round" stroke-linejoin="round"/>'
            '<path d="M53 70 L60 82 L63 91" fill="none" stroke="%s" stroke-width="4.5" stroke-linecap="round" stroke-linejoin="round"/>'
            '<circle cx="63.5" cy="91" r="3.6" fill="%s" stroke="%s" stroke-width="1.6"/>' % (OL, SUIT, GOLD1, OL))


def player_frame(kick):
    s = []
    if kick == 0:
        s.append(leg([(46, 85), (45, 93), (44, 97)]))
        s.append(leg([(54, 85), (56, 93), (57, 97)]))
        s.append(boot(44, 103, 1))
        s.append(boot(57, 103, 1))
    else:
        s.append(leg([(46, 85), (40, 92), (35, 97)]))
        s.append(leg([(54, 85), (59, 91), (62, 97)]))
        s.append(boot(35, 103, 1))
        s.append(boot(62, 103, 1))
    s.append(pilot_upper())
    s.append(lance())
    s.append(arm())
    return "".join(s)


def player_falling():
    s = []
    # arms flung up, legs apart, lance gone: same both ways
    for sx in (1, -1):
        def X(x):
            return 49.5 + sx * (x - 49.5)
        s.append('<path d="M%.1f 70 L%.1f 58 L%.1f 47" fill="none" stroke="%s" stroke-width="7.5" stroke-linecap="round" stroke-linejoin="round"/>'
                 % (X(58), X(68), X(71), OL))
        s.append('<path d="M%.1f 70 L%.1f 58 L%.1f 47" fill="none" stroke="%s" stroke-width="4.5" stroke-linecap="round" stroke-linejoin="round"/>'
                 % (X(58), X(68), X(71), SUIT))
        s.append('<circle cx="%.1f" cy="46" r="3.6" fill="%s" stroke="%s" stroke-width="1.6"/>' % (X(71.5), GOLD1, OL))
        s.append(leg([(X(54), 85), (X(60), 92), (X(64), 97)]))
        s.append(boot(X(64), 103, sx))
    s.append('<rect x="39" y="64.5" width="21" height="22" rx="7" fill="%s" stroke="%s" stroke-width="2.5"/>' % (SUIT, OL))
    s.append('<rect x="40" y="79" width="19" height="4" fill="%s"/>' % GOLD1)
    s.append('<circle cx="49.5" cy="55" r="11" fill="%s" stroke="%s" stroke-width="2.5"/>' % (HELM, OL))
    s.append('<path d="M41.5 52 C43 44 56 44 57.5 52" fill="none" stroke="%s" stroke-width="3"/>' % SCARF)
    s.append('<ellipse cx="49.5" cy="57.5" rx="8" ry="5.5" fill="%s" stroke="%s" stroke-width="2"/>' % (VISOR, OL))
    # wide eyes and an open mouth behind the visor
    s.append('<circle cx="46.5" cy="56.5" r="1.6" fill="%s"/><circle cx="52.5" cy="56.5" r="1.6" fill="%s"/>' % (OL, OL))
    s.append('<ellipse cx="49.5" cy="60.5" rx="2" ry="1.6" fill="%s"/>' % OL)
    # sweat drops
    s.append('<path d="M33 50 q-2 4 0 5 q2 -1 0 -5 Z M66 50 q-2 4 0 5 q2 -1 0 -5 Z" fill="%s" stroke="%s" stroke-width="1"/>'
             % ("#8DD8FF", OL))
    return "".join(s)


def make_player():
    f0, f1 = player_frame(0), player_frame(1)
    write("player.svg", 495, 104, frames(99, [f0, f1, player_falling(), mirror(99, f0), mirror(99, f1)]))


def make_ventilator():
    parts = []
    for k in range(3):
        phi = math.radians(120 * k)
        s = []
        # faint disc of the spinning rotor
        s.append('<ellipse cx="28" cy="6" rx="26.5" ry="4.2" fill="#DCEBFA" stroke="%s" stroke-width="1.4"/>' % OL)
        for sgn in (1, -1):
            ex = 28 + sgn * 25 * math.cos(phi)
            ey = 6 + sgn * 3.2 * math.sin(phi)
            nx, ny = -(ey - 6), (ex - 28) * 0.16
            n = math.hypot(nx, ny) or 1
            nx, ny = nx / n * 2.6, ny / n * 2.6
            s.append('<path d="M28 6 L%.1f %.1f Q%.1f %.1f %.1f %.1f Z" fill="%s" stroke="%s" stroke-width="1.4" stroke-linejoin="round"/>'
                     % (ex + nx, ey + ny, ex + 2 * sgn * math.cos(phi), ey, ex - nx, ey - ny, "#9AA6B8", OL))
        s.append('<rect x="26.5" y="8" width="3" height="12.5" fill="#9AA6B8" stroke="%s" stroke-width="1.2"/>' % OL)
        s.append('<ellipse cx="28" cy="8" rx="4.5" ry="2.6" fill="%s" stroke="%s" stroke-width="1.4"/>' % (SCARF, OL))
        parts.append("".join(s))
    write("ventilator.svg", 168, 22, frames(56, parts))


# ---------------------------------------------------------------- imps

def spear(col="#C89B4A"):
    return ('<path d="M12 59 L62 66" stroke="%s" stroke-width="6" stroke-linecap="round"/>'
            '<path d="M12 59 L62 66" stroke="%s" stroke-width="3" stroke-linecap="round"/>'
            # point covers pixel (70,66)
            '<path d="M61 61.2 L73 66.6 L61 71.6 L63.5 66.4 Z" fill="%s" stroke="%s" stroke-width="1.5" stroke-linejoin="round"/>'
            % (OL, col, STEEL, OL))


def eye(cx, cy, r=3.6):
    return ('<ellipse cx="%s" cy="%s" rx="%s" ry="%s" fill="#FFFFFF" stroke="%s" stroke-width="1.4"/>'
            '<circle cx="%s" cy="%s" r="%s" fill="%s"/>' % (cx, cy, r, r * 1.15, OL, cx + 1.2, cy + 0.5, r * 0.5, OL))


def imp(kind):
    body, dark, light = IMP[kind]
    s = []
    if kind == 3:
        hx, hy = 42, 33
        bx, by = 40, 54
    elif kind == 2:
        hx, hy = 31, 33
        bx, by = 32, 53
    else:
        hx, hy = 33, 32
        bx, by = 33, 53
    # wings (kinds 1, 2) behind everything
    if kind != 3:
        s.append('<path d="M%d %d C%d %d %d %d %d %d C%d %d %d %d %d %d C%d %d %d %d %d %d Z" fill="%s" stroke="%s" stroke-width="2" stroke-linejoin="round"/>'
                 % (bx - 6, by - 8, bx - 14, by - 22, bx - 22, by - 20, bx - 27, by - 16,
                    bx - 22, by - 12, bx - 22, by - 8, bx - 25, by - 4,
                    bx - 18, by - 4, bx - 12, by - 2, bx - 6, by + 1, dark, OL))
    # tail
    s.append('<path d="M%d %d C%d %d %d %d %d %d" fill="none" stroke="%s" stroke-width="5" stroke-linecap="round"/>'
             '<path d="M%d %d C%d %d %d %d %d %d" fill="none" stroke="%s" stroke-width="2.5" stroke-linecap="round"/>'
             % (bx - 8, by + 8, bx - 18, by + 12, bx - 20, by + 20, bx - 14, by + 22, OL,
                bx - 8, by + 8, bx - 18, by + 12, bx - 20, by + 20, bx - 14, by + 22, dark))
    s.append('<path d="M%d %d l-5 -1 l3 5 Z" fill="%s" stroke="%s" stroke-width="1.2"/>' % (bx - 13, by + 22, dark, OL))
    if kind == 3:
        # jet pack on the back: nozzle on the rear edge, the tank is the weak spot
        s.append('<rect x="8" y="27" width="14" height="34" rx="3" fill="#9AA6B8" stroke="%s" stroke-width="2"/>' % OL)
        s.append('<path d="M0.8 27.5 L9 30 L9 39 L0.8 41.5 Z" fill="#6B7388" stroke="%s" stroke-width="1.6" stroke-linejoin="round"/>' % OL)
        s.append('<rect x="1" y="41" width="14" height="19.5" rx="3.5" fill="#FFD23A" stroke="%s" stroke-width="2"/>' % OL)
        s.append('<path d="M3 46 L8 41.5 M3 53 L12 44 M4 59 L14 49 M9 59.5 L14 54.5" stroke="%s" stroke-width="2.2"/>' % LAVA2)
        s.append('<circle cx="8" cy="50.5" r="3" fill="#FFFFFF" stroke="%s" stroke-width="1.5"/>' % OL)
        s.append('<path d="M18 33 L%d %d M18 55 L%d %d" stroke="%s" stroke-width="2.5"/>' % (bx - 6, by - 12, bx - 6, by + 2, OL))
    # legs
    for dx in (-5, 5):
        s.append('<path d="M%d %d L%d %d" stroke="%s" stroke-width="6.5" stroke-linecap="round"/>'
                 '<path d="M%d %d L%d %d" stroke="%s" stroke-width="3.5" stroke-linecap="round"/>'
                 % (bx + dx, by + 8, bx + dx + 2, by + 17, OL, bx + dx, by + 8, bx + dx + 2, by + 17, dark))
        s.append('<ellipse cx="%d" cy="%d" rx="4.5" ry="2.6" fill="%s" stroke="%s" stroke-width="1.5"/>'
                 % (bx + dx + 4, by + 18.5, dark, OL))
    # the raised arm holding the balloon string (kinds 1 and 2)
    if kind == 1:
        s.append('<path d="M%d %d C%d %d %d %d 43.5 11" fill="none" stroke="%s" stroke-width="6" stroke-linecap="round"/>'
                 '<path d="M%d %d C%d %d %d %d 43.5 11" fill="none" stroke="%s" stroke-width="3" stroke-linecap="round"/>'
                 % (bx + 6, by - 8, bx + 14, by - 20, 44, 22, OL, bx + 6, by - 8, bx + 14, by - 20, 44, 22, body))
        s.append('<circle cx="43.5" cy="9.8" r="3.6" fill="%s" stroke="%s" stroke-width="1.6"/>' % (body, OL))
    elif kind == 2:
        s.append('<path d="M%d %d C%d %d %d %d 38 14" fill="none" stroke="%s" stroke-width="6" stroke-linecap="round"/>'
                 '<path d="M%d %d C%d %d %d %d 38 14" fill="none" stroke="%s" stroke-width="3" stroke-linecap="round"/>'
                 % (bx + 7, by - 8, bx + 15, by - 16, 42, 24, OL, bx + 7, by - 8, bx + 15, by - 16, 42, 24, body))
        s.append('<ellipse cx="37.6" cy="12.4" rx="4" ry="3.8" fill="%s" stroke="%s" stroke-width="1.6"/>' % (body, OL))
    # body
    s.append('<ellipse cx="%d" cy="%d" rx="11" ry="11.5" fill="%s" stroke="%s" stroke-width="2.5"/>' % (bx, by, body, OL))
    s.append('<ellipse cx="%d" cy="%d" rx="6" ry="6.5" fill="%s"/>' % (bx + 2, by + 2, light))
    # head
    if kind == 2:
        # horns
        s.append('<path d="M%d %d Q%d %d %d %d L%d %d Z" fill="#F4E6C8" stroke="%s" stroke-width="1.5"/>'
                 % (hx - 9, hy - 6, hx - 16, hy - 14, hx - 10, hy - 20, hx - 4, hy - 10, OL))
        s.append('<path d="M%d %d Q%d %d %d %d L%d %d Z" fill="#F4E6C8" stroke="%s" stroke-width="1.5"/>'
                 % (hx + 8, hy - 7, hx + 12, hy - 15, hx + 7, hy - 20, hx + 2, hy - 11, OL))
    else:
        # pointed ears
        s.append('<path d="M%d %d L%d %d L%d %d Z" fill="%s" stroke="%s" stroke-width="1.6" stroke-linejoin="round"/>'
                 % (hx - 10, hy - 3, hx - 17, hy - 9, hx - 8, hy - 9, dark, OL))
    s.append('<circle cx="%d" cy="%d" r="11.5" fill="%s" stroke="%s" stroke-width="2.5"/>' % (hx, hy, body, OL))
    if kind == 3:
        # goggles
        s.append('<path d="M%d %d H%d" stroke="%s" stroke-width="3"/>' % (hx - 11, hy - 3, hx + 11, OL))
        s.append('<rect x="%d" y="%d" width="15" height="8" rx="4" fill="%s" stroke="%s" stroke-width="1.8"/>'
                 % (hx - 3, hy - 7, VISOR, OL))
        s.append('<path d="M%d %d h5" stroke="#FFFFFF" stroke-width="1.5"/>' % (hx, hy - 4.5))
    else:
        s.append(eye(hx + 3, hy - 2))
        s.append(eye(hx + 9.5, hy - 1.5, 3))
        if kind == 2:
            s.append('<path d="M%d %d L%d %d M%d %d L%d %d" stroke="%s" stroke-width="2.2" stroke-linecap="round"/>'
                     % (hx - 1, hy - 9, hx + 6, hy - 6, hx + 8, hy - 6, hx + 13, hy - 8, OL))
    # grin with fangs
    s.append('<path d="M%d %d Q%d %d %d %d" fill="none" stroke="%s" stroke-width="2" stroke-linecap="round"/>'
             % (hx + 1, hy + 5, hx + 7, hy + 9, hx + 12, hy + 4, OL))
    s.append('<path d="M%d %d l1.5 3 l1.5 -2.6 Z" fill="#FFFFFF" stroke="%s" stroke-width="0.8"/>' % (hx + 4, hy + 6.4, OL))
    s.append(spear("#8A5A3A" if kind != 3 else "#6B7388"))
    # the hand on the spear
    s.append('<path d="M%d %d L%d 64" stroke="%s" stroke-width="6" stroke-linecap="round"/>'
             '<path d="M%d %d L%d 64" stroke="%s" stroke-width="3" stroke-linecap="round"/>'
             % (bx + 4, by - 2, bx + 13, OL, bx + 4, by - 2, bx + 13, body))
    s.append('<circle cx="%d" cy="64.5" r="3.5" fill="%s" stroke="%s" stroke-width="1.5"/>' % (bx + 14, body, OL))
    return "".join(s)


def make_demon():
    right = [imp(3), imp(2), imp(1)]
    write("demon.svg", 450, 80, frames(75, right + [mirror(75, f) for f in right]))


def flame(k):
    """Jet flame blowing left from the nozzle at the right edge, centred on row 14."""
    if k == 6:
        # ignition: a short sputter with sparks
        s = ['<path d="M34 9 C28 8 24 11 20 14 C24 17 28 20 34 19 Z" fill="#FF6A1A" stroke="#7A1E10" stroke-width="1.4"/>',
             '<path d="M34 11.5 C30 11 27 13 25 14 C27 15.5 30 17 34 16.5 Z" fill="#FFE27A"/>',
             '<circle cx="14" cy="8" r="1.8" fill="#FFE27A" stroke="#7A1E10" stroke-width="0.9"/>',
             '<circle cx="11" cy="19" r="1.5" fill="#FFB02E" stroke="#7A1E10" stroke-width="0.9"/>',
             '<circle cx="18" cy="23" r="1.3" fill="#FFE27A" stroke="#7A1E10" stroke-width="0.9"/>']
        return "".join(s)
    tip = [2, 5, 1.5, 4, 2.5, 6][k]
    wob = [0, 1.5, -1, 1, -1.5, 0.5][k]
    half = [9, 8, 9.5, 8.5, 9, 8][k]
    s = ['<path d="M34 %.1f C24 %.1f 14 %.1f %.1f %.1f C14 %.1f 24 %.1f 34 %.1f Z" fill="#FF6A1A" stroke="#7A1E10" stroke-width="1.5" stroke-linejoin="round"/>'
         % (14 - half, 14 - half - 2, 14 - half / 2 + wob, tip, 14 + wob, 14 + half / 2 + wob, 14 + half + 2, 14 + half)]
    s.append('<path d="M34 %.1f C26 %.1f 19 %.1f %.1f %.1f C19 %.1f 26 %.1f 34 %.1f Z" fill="#FFB02E"/>'
             % (14 - half * 0.62, 14 - half * 0.7, 14 - 2 + wob, tip + 7, 14 + wob, 14 + 2 + wob, 14 + half * 0.7, 14 + half * 0.62))
    s.append('<path d="M34 %.1f C29 %.1f 25 %.1f %.1f %.1f C25 %.1f 29 %.1f 34 %.1f Z" fill="#FFF1A0"/>'
             % (14 - half * 0.3, 14 - half * 0.3, 13 + wob / 2, tip + 15, 14 + wob / 2, 15 + wob / 2, 14 + half * 0.3, 14 + half * 0.3))
    # a spark or two breaking off
    sx = [6, 9, 4, 8, 5, 10][k]
    sy = [6, 22, 20, 7, 24, 5][k]
    s.append('<circle cx="%d" cy="%d" r="1.6" fill="#FFE27A" stroke="#7A1E10" stroke-width="0.9"/>' % (sx, sy))
    return "".join(s)


def make_ogon():
    row0 = frames(34, [flame(k) for k in range(7)])
    row1 = frames(34, [mirror(34, flame(k)) for k in range(7)])
    write("ogon.svg", 238, 72, row0 + '<g transform="translate(0,36)">%s</g>\n' % row1)


def smoke(k):
    puffs = [(12.5, 69.5, 5), (13.5, 60, 6.2), (11, 49, 7.2), (13.5, 36.5, 8), (11.5, 23, 9), (13, 10, 9.5)]
    s = []
    for i, (x, y, r) in enumerate(puffs):
        if k % 2:
            x += 1.8 if i % 2 else -1.8
            y -= 3
        tone = ["#8A8F9E", "#9CA1AE", "#AEB2BD"][i % 3]
        s.append('<circle cx="%.1f" cy="%.1f" r="%.1f" fill="%s" stroke="%s" stroke-width="1.8"/>' % (x, y, min(r, 11), tone, "#4A4F60"))
    for i, (x, y, r) in enumerate(puffs[1:]):
        s.append('<circle cx="%.1f" cy="%.1f" r="%.1f" fill="#C8CCD6"/>' % (x - r * 0.35, y - r * 0.35 - (3 if k % 2 else 0), r * 0.3))
    return "".join(s)


def make_dimok():
    write("dimok.svg", 175, 75, frames(25, [smoke(k % 2) for k in range(7)]))


# ---------------------------------------------------------------- bonus icons

def badge(colour, inner):
    return ('<circle cx="15" cy="15" r="13.6" fill="%s" stroke="%s" stroke-width="2.5"/>%s' % (colour, OL, inner))


def icon(k):
    if k == 0:  # reversed controls: swapped arrows on a sick purple badge
        inner = ('<path d="M6 11 H19 V7 L25 12.5 L19 18 V14 H6 Z" fill="#9BE35A" stroke="%s" stroke-width="1.4" stroke-linejoin="round"/>'
                 '<path d="M24 19 H11 V23 L5 17.5 L11 12 V16 H24 Z" fill="#FF5A7A" stroke="%s" stroke-width="1.4" stroke-linejoin="round"/>'
                 % (OL, OL))
        return badge("#4A2470", inner)
    if k == 1:  # extra life: heart
        inner = ('<path d="M15 24 C8 18 5 15 5 11 C5 7.5 8 6 10.5 6 C12.5 6 14 7.5 15 9 C16 7.5 17.5 6 19.5 6 '
                 'C22 6 25 7.5 25 11 C25 15 22 18 15 24 Z" fill="#E8423A" stroke="%s" stroke-width="1.8" stroke-linejoin="round"/>'
                 '<ellipse cx="10" cy="10" rx="2" ry="1.4" fill="#FFB0A8"/>' % OL)
        return badge("#FFF1D6", inner)
    if k == 2:  # fan: a three-bladed rotor
        blades = ""
        for a in (0, 120, 240):
            blades += ('<path d="M15 15 C13 10 13 5 16 4 C20 4 19 10 15 15 Z" fill="#F4F6FA" stroke="%s" stroke-width="1.4" '
                       'transform="rotate(%d 15 15)"/>' % (OL, a))
        return badge("#2FA3C8", blades + '<circle cx="15" cy="15" r="2.6" fill="%s" stroke="%s" stroke-width="1.2"/>' % (SCARF, OL))
    if k == 3:  # both balloons back
        inner = ('<path d="M11 17 C12 21 14 22 15 25 M19 17 C18 21 16 22 15 25" fill="none" stroke="%s" stroke-width="1.3"/>' % OL
                 + '<ellipse cx="19.5" cy="11" rx="5" ry="6.2" fill="%s" stroke="%s" stroke-width="1.5"/>' % (BALLOON[3], OL)
                 + '<ellipse cx="10.5" cy="11.5" rx="5" ry="6.2" fill="%s" stroke="%s" stroke-width="1.5"/>' % (BALLOON[0], OL)
                 + '<ellipse cx="9" cy="9.5" rx="1.3" ry="1.8" fill="#FFB0A8"/>')
        return badge("#FFF4B8", inner)
    if k == 4:  # freeze: snowflake
        arms = ""
        for a in (0, 60, 120):
            arms += ('<g transform="rotate(%d 15 15)"><path d="M15 4 V26 M12 6.5 L15 9 L18 6.5 M12 23.5 L15 21 L18 23.5" '
                     'fill="none" stroke="%s" stroke-width="3.4" stroke-linecap="round"/>'
                     '<path d="M15 4 V26 M12 6.5 L15 9 L18 6.5 M12 23.5 L15 21 L18 23.5" fill="none" stroke="#FFFFFF" '
                     'stroke-width="1.6" stroke-linecap="round"/></g>' % (a, OL))
        return badge("#8FD8FF", arms)
    # jackpot: a big gold star
    pts = []
    for i in range(10):
        r = 11.5 if i % 2 == 0 else 5
        a = math.radians(-90 + 36 * i)
        pts.append("%.2f %.2f" % (15 + r * math.cos(a), 15.6 + r * math.sin(a)))
    inner = '<path d="M%s Z" fill="%s" stroke="%s" stroke-width="1.6" stroke-linejoin="round"/>' % (" L".join(pts), GOLD1, OL)
    return badge("#2B4C9A", inner)


def make_bonus():
    write("bonus.svg", 180, 30, frames(30, [icon(k) for k in range(6)]))


def puk(k):
    if k == 9:
        return ""  # the last frame stays empty
    t = k / 8.0
    r = 7 + 14 * t
    w = 4.2 - 2.6 * t
    s = ['<circle cx="24" cy="24" r="%.1f" fill="none" stroke="%s" stroke-width="%.1f"/>' % (r, OL, w + 2.4),
         '<circle cx="24" cy="24" r="%.1f" fill="none" stroke="%s" stroke-width="%.1f"/>' % (r, "#FFFFFF" if k < 4 else "#9FF0FF", w)]
    for i in range(8):
        a = math.radians(22.5 + 45 * i + k * 6)
        r1 = r + 2 + 2 * t
        r2 = min(23, r1 + 6 - 3 * t)
        if r2 - r1 < 1:
            continue
        x1, y1 = 24 + r1 * math.cos(a), 24 + r1 * math.sin(a)
        x2, y2 = 24 + r2 * math.cos(a), 24 + r2 * math.sin(a)
        s.append('<path d="M%.1f %.1f L%.1f %.1f" stroke="%s" stroke-width="3.6" stroke-linecap="round"/>'
                 '<path d="M%.1f %.1f L%.1f %.1f" stroke="%s" stroke-width="1.8" stroke-linecap="round"/>'
                 % (x1, y1, x2, y2, OL, x1, y1, x2, y2, "#FFF7B0" if i % 2 else "#9FF0FF"))
    return "".join(s)


def make_puk():
    write("puk.svg", 480, 48, frames(48, [puk(k) for k in range(10)]))


# ---------------------------------------------------------------- lava, bubbles, clouds, bolt

def lava_strip(x0, x1, y0, seed, top_row=True, depth=37):
    """Lava between x0 and x1 starting at y0."""
    s = ['<rect x="%d" y="%d" width="%d" height="%d" fill="url(#lava)"/>' % (x0, y0, x1 - x0, depth)]
    if top_row:
        s.append('<rect x="%d" y="%d" width="%d" height="2" fill="%s"/>' % (x0, y0, x1 - x0, LAVAHI))
    # crust plates with glowing rims, drifting on the surface
    rnd = seed
    x = x0 + 14
    while x < x1 - 40:
        rnd = (rnd * 1103515245 + 12345) & 0x7FFFFFFF
        w = 22 + rnd % 40
        y = y0 + 6 + (rnd >> 8) % 16
        h = 5 + (rnd >> 4) % 6
        s.append('<path d="M%d %d q%d %d %d 0 q%d %d 0 %d q%d %d %d 0 q%d %d 0 %d Z" fill="%s" stroke="%s" stroke-width="1.5"/>'
                 % (x, y, w // 2, -3, w, 3, h // 2, h, -w // 2, 3, -w, -3, -h // 2, -h, CRUST, LAVAHI))
        x += w + 28 + (rnd >> 12) % 50
    # bright ripples
    rnd = seed * 7 + 3
    x = x0 + 30
    while x < x1 - 30:
        rnd = (rnd * 1103515245 + 12345) & 0x7FFFFFFF
        y = y0 + 4 + rnd % 28
        s.append('<path d="M%d %d q6 -3 12 0 q6 3 12 0" fill="none" stroke="%s" stroke-width="2"/>' % (x, y, LAVAHI))
        x += 60 + (rnd >> 9) % 70
    return "".join(s)


LAVA_GRAD = vgrad("lava", [("0", LAVA1), ("0.45", LAVA2), ("1", LAVA3)])


def make_lava():
    body = lava_strip(96, 704, 0, 7)
    # crusted ends where the lava meets the banks
    body += '<rect x="96" y="0" width="6" height="37" fill="%s"/><rect x="698" y="0" width="6" height="37" fill="%s"/>' % (CRUST, CRUST)
    body += '<path d="M102 0 V37 M698 0 V37" stroke="%s" stroke-width="2"/>' % LAVA2
    write("lava.svg", 800, 37, body, LAVA_GRAD)


def bubble(k):
    s = []
    if k == 0:
        s.append('<path d="M10 28 C10 20 22 20 22 28 Z" fill="%s" stroke="%s" stroke-width="2"/>' % (LAVA1, OL))
        s.append('<ellipse cx="14" cy="24.5" rx="1.6" ry="1.1" fill="%s"/>' % LAVAHI)
    elif k == 1:
        s.append('<path d="M5 28.5 C5 12 27 12 27 28.5 Z" fill="%s" stroke="%s" stroke-width="2.2"/>' % (LAVA1, OL))
        s.append('<ellipse cx="11.5" cy="19.5" rx="3" ry="2" fill="%s" transform="rotate(-30 11.5 19.5)"/>' % LAVAHI)
        s.append('<path d="M9 27 C10 23 13 21 16 20.5" fill="none" stroke="%s" stroke-width="1.5"/>' % LAVA2)
    else:
        for (x, y, r) in ((5, 12, 2.4), (10, 5, 2.8), (16, 2.8, 2.4), (23, 6, 2.8), (27.5, 13, 2.2), (16, 12, 1.8)):
            s.append('<circle cx="%s" cy="%s" r="%s" fill="%s" stroke="%s" stroke-width="1.4"/>' % (x, y, r, LAVA1, OL))
        s.append('<path d="M4 28.5 C6 22 9 21 11 24 L13 20 L16 23.5 L19 19.5 L21.5 24 C24 21 27 22 28 28.5 Z" '
                 'fill="%s" stroke="%s" stroke-width="2" stroke-linejoin="round"/>' % (LAVA2, OL))
    # the lava base under every frame: rows 27..33 match the lava's surface rows
    s.append('<rect x="0" y="27" width="32" height="7" fill="url(#lava)"/>')
    s.append('<rect x="0" y="27" width="32" height="2" fill="%s"/>' % LAVAHI)
    return "".join(s)


def make_buliki():
    defs = vgrad("lava", [("0", LAVA1), ("1", "#F7701E")]).replace('y2="1"', 'y2="1" gradientUnits="objectBoundingBox"')
    write("buliki.svg", 96, 34, frames(32, [bubble(k) for k in range(3)]), defs)


def cloud_shape(w, h):
    """Storm cloud filling its rectangle: bumpy top, flat base."""
    bumps = []
    n = 4 if w > 160 else 3
    for i in range(n):
        cx = w * (0.18 + 0.64 * i / (n - 1))
        r = h * (0.36 if i in (1, n - 2) else 0.30)
        bumps.append((cx, h * 0.42 - (h * 0.08 if i in (1, n - 2) else 0), r))
    return bumps


def make_cloud(fname, w, h):
    defs = vgrad("c", [("0", SLATE3), ("0.55", SLATE), ("1", SLATE2)])
    s = []
    bumps = cloud_shape(w, h)
    base = h - 1.5
    # body: bumps over a flat-bottomed slab that fills the box
    body = '<rect x="1.5" y="%.1f" width="%.1f" height="%.1f" rx="12"/>' % (h * 0.34, w - 3, base - h * 0.34)
    for (cx, cy, r) in bumps:
        body += '<circle cx="%.1f" cy="%.1f" r="%.1f"/>' % (cx, cy, r)
    s.append('<g fill="%s" stroke="%s" stroke-width="5">%s</g>' % (OL, OL, body))
    s.append('<g fill="url(#c)">%s</g>' % body)
    # puffy highlights and a dark belly
    for (cx, cy, r) in bumps:
        s.append('<circle cx="%.1f" cy="%.1f" r="%.1f" fill="#9298AC"/>' % (cx - r * 0.25, cy - r * 0.25, r * 0.45))
    s.append('<rect x="6" y="%.1f" width="%.1f" height="%.1f" rx="6" fill="%s"/>' % (base - h * 0.2, w - 12, h * 0.16, SLATE2))
    # a little charge glint
    s.append('<path d="M%.1f %.1f l5 -8 l-2 6 l6 -2 l-7 10 l2 -6 Z" fill="#FFF7B0" stroke="%s" stroke-width="1.2"/>'
             % (w * 0.62, h * 0.62, OL))
    write(fname, w, h, "".join(s), defs)


def make_molnia():
    pts = [(33, 0), (38, 14), (28, 26), (39, 40), (27, 54), (36, 66), (30, 85)]
    d = "M" + " L".join("%d %d" % p for p in pts)
    s = ['<path d="%s" fill="none" stroke="#5FE0FF" stroke-width="13" stroke-linejoin="round" stroke-linecap="round"/>' % d,
         '<path d="%s" fill="none" stroke="%s" stroke-width="7" stroke-linejoin="round" stroke-linecap="round"/>' % (d, OL),
         '<path d="%s" fill="none" stroke="#FFF7B0" stroke-width="4.5" stroke-linejoin="round" stroke-linecap="round"/>' % d,
         '<path d="M38 14 L48 22 L45 30 M39 40 L50 47 M27 54 L16 62 L18 70" fill="none" stroke="#5FE0FF" stroke-width="5" stroke-linecap="round"/>',
         '<path d="M38 14 L48 22 L45 30 M39 40 L50 47 M27 54 L16 62 L18 70" fill="none" stroke="#FFFFFF" stroke-width="2" stroke-linecap="round"/>']
    write("molnia.svg", 65, 86, "".join(s))


# ---------------------------------------------------------------- scenery

SKIES = {
    1: [("0", SKY1), ("0.55", "#4C9AE0"), ("1", SKY2)],
    2: [("0", "#2F7FC8"), ("0.6", "#4F9ADA"), ("1", "#B8E2F2")],
    3: [("0", "#2A2466"), ("0.45", "#4E3E94"), ("1", "#B48ACB")],
}
HILLS = {1: ("#A9CFEE", "#C3DDF3"), 2: ("#9FD0C8", "#C6E6DA"), 3: ("#8C74B8", "#A98CC8")}


def banks():
    s = []
    for (x0, x1, inner) in ((0, 100, 100), (700, 800, 700)):
        w = x1 - x0
        s.append('<rect x="%d" y="560" width="%d" height="40" fill="%s"/>' % (x0, w, ROCK))
        # stones
        for i in range(4):
            cx = x0 + 14 + i * 24 + (6 if x0 else 0)
            s.append('<ellipse cx="%d" cy="%d" rx="9" ry="5" fill="%s" stroke="%s" stroke-width="1.5"/>'
                     % (cx, 584 + (i % 2) * 8, ROCK3 if i % 2 else ROCK2, OL))
        # flat grass cap: its outline starts exactly on row 560
        s.append('<rect x="%d" y="561" width="%d" height="8" fill="%s"/>' % (x0, w, GRASS))
        s.append('<rect x="%d" y="567" width="%d" height="2" fill="%s"/>' % (x0, w, GRASS2))
        for i in range(0, w, 9):
            s.append('<path d="M%d 569 l3 4 l3 -4 Z" fill="%s"/>' % (x0 + i + 1, GRASS2))
        s.append('<rect x="%d" y="560" width="%d" height="2" fill="%s"/>' % (x0, w, OL))
        # the cliff face toward the lava
        s.append('<rect x="%d" y="560" width="3" height="40" fill="%s"/>' % (inner - (3 if x0 == 0 else 0), OL))
    return "".join(s)


def hud_ribbon():
    s = []
    s.append('<rect x="6.5" y="6.5" width="787" height="45" rx="12" fill="%s" stroke="%s" stroke-width="3"/>' % (PANEL, OL))
    s.append('<rect x="12" y="10" width="776" height="8" rx="4" fill="#FFFFFF"/>')
    # small emblems beside the figures the program writes
    # level: a pennant
    s.append('<path d="M14 20 V44 M14 20 L27 25 L14 30" fill="%s" stroke="%s" stroke-width="2" stroke-linejoin="round"/>' % (BALLOON[2], OL))
    # score: a star
    pts = []
    for i in range(10):
        r = 9 if i % 2 == 0 else 4
        a = math.radians(-90 + 36 * i)
        pts.append("%.2f %.2f" % (134 + r * math.cos(a), 31 + r * math.sin(a)))
    s.append('<path d="M%s Z" fill="%s" stroke="%s" stroke-width="1.6" stroke-linejoin="round"/>' % (" L".join(pts), GOLD1, OL))
    # lives: a little balloon
    s.append('<path d="M345 40 C347 43 344 45 346 48" fill="none" stroke="%s" stroke-width="1.2"/>' % OL)
    s.append('<ellipse cx="345" cy="30" rx="7" ry="8.5" fill="%s" stroke="%s" stroke-width="1.8"/>' % (BALLOON[0], OL))
    s.append('<ellipse cx="342.5" cy="27" rx="1.6" ry="2.4" fill="#FFB0A8"/>')
    # effect socket: a bezel round a hole that stays key coloured
    s.append('<rect x="694.5" y="14.5" width="36" height="36" rx="7" fill="%s" stroke="%s" stroke-width="3"/>' % (PANEL3, OL))
    s.append('<rect x="698" y="18" width="29" height="29" fill="%s"/>' % OL)
    return "".join(s)


def sky_scene(n, w=800, h=600, sun=(620, 150)):
    s = ['<rect width="%d" height="%d" fill="url(#sky)"/>' % (w, h)]
    far, near = HILLS[n]
    if n == 1:
        s.append('<circle cx="%d" cy="%d" r="34" fill="#FFF2A8" stroke="#F7D66A" stroke-width="6"/>' % sun)
        s.append('<path d="M0 520 L60 470 L120 500 L210 440 L300 500 L380 460 L470 505 L560 450 L650 500 L730 462 L800 495 V560 H0 Z" fill="%s"/>' % far)
        s.append('<path d="M0 540 C90 505 170 530 260 512 C350 494 430 532 520 515 C610 498 700 528 800 510 V560 H0 Z" fill="%s"/>' % near)
    elif n == 2:
        s.append('<circle cx="170" cy="140" r="22" fill="#EAF6FF" stroke="#CFE6F6" stroke-width="4"/>')
        # distant floating rocks and mesas
        s.append('<path d="M0 560 V500 H70 L80 470 H150 L160 505 H260 L270 480 H330 L345 515 H470 L480 465 H560 L575 505 H690 L700 485 H770 L780 510 H800 V560 Z" fill="%s"/>' % far)
        # a pale rainbow low over the lake and distant floating isles
        for i, c in enumerate(("#F4C6C0", "#F6E3B0", "#CFEBC2", "#BFD8F4")):
            s.append('<path d="M%d 560 A%d %d 0 0 1 %d 560" fill="none" stroke="%s" stroke-width="7"/>'
                     % (372 + i * 7, 248 - i * 7, 248 - i * 7, 868 - i * 7, c))
        for (x, y, k) in ((560, 250, 1.0), (210, 330, 0.7), (90, 230, 0.5)):
            s.append('<g transform="translate(%d,%d) scale(%.1f)" fill="%s">'
                     '<path d="M0 0 H90 L78 14 L56 30 L40 26 L18 16 Z"/>'
                     '<path d="M60 0 V-14 M60 -14 m-9 0 a9 9 0 1 0 18 0 a9 9 0 1 0 -18 0" stroke="%s" stroke-width="3"/>'
                     '<circle cx="24" cy="-8" r="7"/></g>' % (x, y, k, far, far))
        s.append('<path d="M0 545 C120 520 220 538 330 526 C440 514 520 540 640 525 C710 516 760 530 800 524 V560 H0 Z" fill="%s"/>' % near)
    else:
        rnd = 12345
        for i in range(60):
            rnd = (rnd * 1103515245 + 12345) & 0x7FFFFFFF
            x = (rnd >> 4) % 790 + 5
            y = (rnd >> 16) % 330 + 60
            if 300 <= x <= 500 and 190 <= y <= 320:
                continue
            if y < 58:
                continue
            r = 1.2 + (i % 3) * 0.6
            s.append('<circle cx="%d" cy="%d" r="%.1f" fill="#FFF6D8"/>' % (x, y, r))
        s.append('<path d="M640 118 a30 30 0 1 0 26 44 a24 24 0 1 1 -26 -44 Z" fill="#FFF0C8" stroke="#E8D29A" stroke-width="3"/>')
        s.append('<path d="M0 515 L80 455 L150 495 L240 430 L330 495 L420 450 L500 500 L600 440 L690 495 L760 460 L800 480 V560 H0 Z" fill="%s"/>' % far)
        s.append('<path d="M0 540 C100 512 180 532 280 518 C380 504 460 536 560 520 C660 504 720 530 800 514 V560 H0 Z" fill="%s"/>' % near)
    # lava lake between the banks
    s.append(lava_strip(100, 700, 560, 3 + n, depth=40))
    s.append(banks())
    return "".join(s)


def make_fongame(n):
    defs = vgrad("sky", SKIES[n]) + LAVA_GRAD
    defs += '<mask id="socket"><rect width="800" height="600" fill="#FFFFFF"/><rect x="700" y="20" width="25" height="25" fill="#000000"/></mask>\n'
    body = '<g mask="url(#socket)">%s%s</g>\n' % (sky_scene(n), hud_ribbon())
    write("fongame%d.svg" % n, 800, 600, body, defs)


def hero_with_balloons():
    return ('<g>%s<g transform="translate(-3,0)">%s</g></g>'
            % (player_frame(0), mirror(98, sharik_frame0())))


def imp_with_balloon(kind, pattern):
    return ('<g>%s<g transform="translate(32,-43)">%s</g></g>' % (imp(kind), shariki_frame(pattern)))


MENU_Y = [159, 213, 272, 334, 394, 453]


def make_fonmenu():
    defs = vgrad("sky", SKIES[1]) + LAVA_GRAD + vgrad("title", [("0", "#FFF0A0"), ("0.5", GOLD1), ("1", GOLD2)])
    s = [sky_scene(1, sun=(112, 178))]
    # the world's cast, away from the plates
    s.append('<g transform="translate(40,250) scale(2)">%s</g>' % hero_with_balloons())
    s.append('<g transform="translate(590,300) scale(1.6)">%s</g>' % imp_with_balloon(1, 1))
    s.append('<g transform="translate(640,150) scale(1.2)">%s</g>' % mirror(75, imp_with_balloon(2, 4)))
    # title
    s.append(text(400, 112, "Quorvane", 112, fill=OL, extra='stroke="%s" stroke-width="16" stroke-linejoin="round" transform="translate(4,5)"' % OL))
    s.append(text(400, 112, "Quorvane", 112, fill="url(#title)", extra='stroke="%s" stroke-width="9" stroke-linejoin="round" paint-order="stroke"' % OL))
    for (fname, _n, _l, _w, _h, _s, _a), y in zip(BUTTONS[:6], MENU_Y):
        s.append(use_unlit(fname, 278, y))
    write("fonmenu.svg", 800, 600, "".join(s), defs)


# ---------------------------------------------------------------- panels

def panel_frame(w, h, title):
    s = ['<rect x="1.5" y="1.5" width="%d" height="%d" rx="8" fill="%s" stroke="%s" stroke-width="3"/>' % (w - 3, h - 3, PANEL, OL),
         '<path d="M3 50 H%d" stroke="%s" stroke-width="2"/>' % (w - 3, PANEL3),
         '<rect x="3" y="3" width="%d" height="46" rx="6" fill="%s"/>' % (w - 6, PANEL2)]
    if title:
        s.append(text(w / 2, 38, title, 34))
    return "".join(s)


def panel_buttons(items):
    return "".join(use_unlit(f, x - 38, y - 134) for f, x, y in items)


def well(x0, y0, x1, y1):
    """A pale slot where the program writes a value (screen coordinates)."""
    return ('<rect x="%d" y="%d" width="%d" height="%d" rx="8" fill="#FFFFFF" stroke="%s" stroke-width="1.5"/>'
            % (x0 - 38, y0 - 134, x1 - x0, y1 - y0, PANEL3))


def make_fonopt():
    s = [panel_frame(724, 456, "OPTIONS")]
    for label, (x0, y0, x1, y1) in (("DISPLAY", (50, 205, 190, 235)), ("MUSIC", (50, 280, 160, 310)),
                                    ("SOUND", (50, 360, 160, 390)), ("MOTTO", (50, 430, 275, 460))):
        s.append(text(x0 - 38, y1 - 134 - 5, label, 26, anchor="start"))
    s.append(well(206, 196, 559, 244))
    s.append(well(171, 271, 309, 319))
    s.append(well(171, 351, 309, 399))
    s.append(well(281, 421, 589, 469))
    s.append(panel_buttons([("btn_back.svg", 38, 545)]))
    write("fonopt.svg", 724, 456, "".join(s))


def make_fonhscr():
    s = [panel_frame(724, 456, "HIGH SCORES")]
    # table: a light frame round the ten rows, head above it
    s.append('<rect x="%d" y="%d" width="%d" height="%d" rx="8" fill="#FFFFFF" stroke="%s" stroke-width="2"/>'
             % (42 - 38, 192 - 134, 596 - 42, 480 - 192, PANEL3))
    s.append('<rect x="%d" y="%d" width="%d" height="%d" rx="6" fill="%s"/>' % (44 - 38, 194 - 134, 592 - 44, 26, PANEL2))
    s.append(text(50 - 38, 216 - 134, "#", 20, anchor="start"))
    s.append(text(140 - 38, 216 - 134, "NAME", 20, anchor="start"))
    s.append(text(560 - 38, 216 - 134, "SCORE", 20, anchor="end"))
    # a trophy in the free space on the right
    s.append('<g transform="translate(%d,%d)">' % (640 - 38, 260 - 134)
             + '<path d="M-22 0 H22 C22 30 10 40 0 42 C-10 40 -22 30 -22 0 Z" fill="%s" stroke="%s" stroke-width="3"/>' % (GOLD1, OL)
             + '<path d="M-22 6 C-36 6 -34 26 -16 26 M22 6 C36 6 34 26 16 26" fill="none" stroke="%s" stroke-width="3"/>' % OL
             + '<rect x="-5" y="42" width="10" height="14" fill="%s" stroke="%s" stroke-width="2.5"/>' % (GOLD1, OL)
             + '<rect x="-18" y="56" width="36" height="10" rx="3" fill="%s" stroke="%s" stroke-width="2.5"/>' % (SUIT, OL)
             + '<path d="M-10 8 C-10 20 -6 28 0 30" fill="none" stroke="#FFF3B8" stroke-width="4" stroke-linecap="round"/></g>')
    s.append(panel_buttons([("btn_clear.svg", 352, 495), ("btn_world.svg", 257, 534), ("btn_back.svg", 38, 545)]))
    write("fonhscr.svg", 724, 456, "".join(s))


def make_fonhelp():
    s = [panel_frame(724, 456, "HELP")]
    s.append(panel_buttons([("btn_prev.svg", 38, 492), ("btn_next.svg", 515, 492), ("btn_back.svg", 38, 545)]))
    write("fonhelp.svg", 724, 456, "".join(s))


def make_qtns():
    s = ['<rect x="0" y="0" width="380" height="190" rx="10" fill="%s"/>' % OL,
         '<rect x="2" y="2" width="376" height="186" rx="8" fill="%s"/>' % PANEL3,
         '<rect x="4" y="4" width="372" height="182" rx="6" fill="%s"/>' % PANEL]
    # answer plates under the program's YES and NO
    for (x0, x1) in ((315, 380), (415, 465)):
        s.append('<rect x="%.1f" y="%.1f" width="%d" height="%d" rx="8" fill="#FFFFFF" stroke="%s" stroke-width="2"/>'
                 % (x0 - 210 + 1, 305 - 170 + 1, x1 - x0 - 2, 38, PANEL3))
    write("qtns.svg", 380, 190, "".join(s))


# ---------------------------------------------------------------- help pages

def page(title, body):
    s = ['<rect width="724" height="300" fill="%s"/>' % PANEL]
    s.append(text(362, 30, title, 26, fill=SUIT2))
    s.append('<path d="M%d 40 H%d" stroke="%s" stroke-width="2"/>' % (230, 494, PANEL3))
    s.append(body)
    return "".join(s)


def lines(x, y, rows, size=17, dy=23, anchor="start", weight="bold"):
    out = []
    for i, r in enumerate(rows):
        if r:
            out.append(text(x, y + i * dy, r, size, anchor=anchor, weight=weight))
    return "".join(out)


def key(x, y, label, w=26):
    return ('<rect x="%s" y="%s" width="%s" height="24" rx="5" fill="#FFFFFF" stroke="%s" stroke-width="2"/>'
            '<rect x="%s" y="%s" width="%s" height="4" rx="2" fill="%s"/>' % (x, y, w, OL, x + 3, y + 17, w - 6, PANEL2)
            + text(x + w / 2, y + 17, label, 14))


def arrow_key(x, y, rot):
    return (key(x, y, "")
            + '<path d="M0 -6 L6 3 H-6 Z" fill="%s" transform="translate(%s,%s) rotate(%d)"/>' % (NAVY, x + 13, y + 12, rot))


def make_help():
    # 1: controls
    b = []
    b.append(arrow_key(62, 56, 0) + arrow_key(34, 84, -90) + arrow_key(62, 84, 180) + arrow_key(90, 84, 90))
    b.append(key(168, 56, "W") + key(140, 84, "A") + key(168, 84, "S") + key(196, 84, "D"))
    b.append(lines(240, 76, ["Fly with the arrow keys or W A S D,", "the keypad, a joystick or the mouse."]))
    b.append(lines(34, 140, ["You sink unless you climb: keep going UP!",
                             "Pop every imp to clear the level.",
                             "You have 3 lives."]))
    b.append(key(34, 218, "P") + text(68, 236, "pause", 17, anchor="start"))
    b.append(key(140, 218, "Esc", 40) + text(188, 236, "quit (you will be asked)", 17, anchor="start"))
    b.append(key(34, 254, "Alt", 40) + text(80, 272, "+", 17, anchor="start") + key(94, 254, "Enter", 52)
             + text(156, 272, "window / full screen", 17, anchor="start"))
    b.append('<g transform="translate(540,70) scale(1.45)">%s</g>' % hero_with_balloons())
    write("hlp1.svg", 724, 300, page("CONTROLS", "".join(b)))

    # 2: enemies
    b = []
    b.append(lines(362, 66, ["Pop the imps' balloons with the tip of your lance."], anchor="middle"))
    for i, (kind, pat, name, pts, note) in enumerate([
            (1, 2, "DRIFTER", "10", "wanders about"),
            (2, 1, "CHASER", "15", "hunts you, from level 2"),
            (3, 0, "JET RIDER", "20", "from level 3: hit it only from")]):
        x = 20 + i * 236
        if kind == 3:
            b.append('<g transform="translate(%d,104) scale(0.9)">%s<g transform="translate(-27,20)">%s</g></g>'
                     % (x + 30, imp(3), flame(0)))
        else:
            b.append('<g transform="translate(%d,116) scale(0.9)">%s</g>' % (x + 6, imp_with_balloon(kind, pat)))
        b.append(text(x + 160, 128, name, 19, anchor="middle"))
        b.append(text(x + 160, 152, pts + " points", 17, fill=SUIT2, anchor="middle"))
        if kind == 3:
            b.append(lines(x + 4, 214, [note, "behind, at its yellow tank"], size=15, dy=19))
        else:
            b.append(lines(x + 4, 214, [note], size=15))
    b.append(lines(362, 262, ["Their spears pop your balloons: -10 each.",
                              "With no balloons left you fall and lose a life."], anchor="middle"))
    write("hlp2.svg", 724, 300, page("ENEMIES", "".join(b)))

    # 3: bonuses
    b = []
    b.append(lines(362, 64, ["Bonuses rise out of the lava. Touch one with your lance tip."], anchor="middle"))
    items = [(1, "EXTRA LIFE  +20", "one more life, up to 3"),
             (2, "FAN  +20", "fly faster, about 4 s"),
             (3, "BALLOONS  +20", "both balloons back"),
             (4, "FREEZE  +20", "imps stop for 5 s"),
             (5, "JACKPOT  +50", "just points"),
             (0, "REVERSED  -20", "controls swap, about 5 s")]
    for i, (k, head, note) in enumerate(items):
        x = 30 + (i % 2) * 350
        y = 82 + (i // 2) * 56
        b.append('<g transform="translate(%d,%d) scale(1.4)">%s</g>' % (x, y, icon(k)))
        b.append(text(x + 56, y + 19, head, 18, anchor="start"))
        b.append(text(x + 56, y + 40, note, 15, fill=SUIT2, anchor="start"))
    b.append(lines(362, 272, ["The effect in force shows at the top right of the screen."], anchor="middle"))
    write("hlp3.svg", 724, 300, page("BONUSES", "".join(b)))

    # 4: dangers and scoring
    b = []
    b.append('<g transform="translate(26,62)">%s</g>' % (
        '<rect x="0" y="30" width="86" height="22" fill="%s" stroke="%s" stroke-width="2"/>' % (LAVA1, OL)
        + '<path d="M0 30 H86" stroke="%s" stroke-width="3"/>' % LAVAHI
        + '<rect x="0" y="22" width="20" height="30" fill="%s" stroke="%s" stroke-width="2"/>' % (ROCK, OL)
        + '<rect x="0" y="22" width="20" height="5" fill="%s"/>' % GRASS
        + '<rect x="66" y="22" width="20" height="30" fill="%s" stroke="%s" stroke-width="2"/>' % (ROCK, OL)
        + '<rect x="66" y="22" width="20" height="5" fill="%s"/>' % GRASS))
    b.append(lines(130, 78, ["LAVA burns: touching it costs a life.",
                             "The banks on the left and right are safe to stand on."]))
    b.append('<g transform="translate(30,132) scale(0.45)">%s</g>' % (
        '<g transform="translate(57,66)">%s</g>' % molnia_inline() + cloud_inline(180, 96)))
    b.append(lines(130, 148, ["CLOUDS slow you down and spark lightning.",
                              "A bolt zaps you: a -30 flashes up, but it costs no points."]))
    b.append(lines(130, 210, ["A penalty never brings your score down to 0.",
                              "A top-ten score goes into the high-score table,",
                              "and you can send it to the world table."]))
    write("hlp4.svg", 724, 300, page("DANGERS AND SCORES", "".join(b)))


def cloud_inline(w, h):
    bumps = cloud_shape(w, h)
    body = '<rect x="1.5" y="%.1f" width="%.1f" height="%.1f" rx="12"/>' % (h * 0.34, w - 3, h - 1.5 - h * 0.34)
    for (cx, cy, r) in bumps:
        body += '<circle cx="%.1f" cy="%.1f" r="%.1f"/>' % (cx, cy, r)
    return ('<g fill="%s" stroke="%s" stroke-width="5">%s</g><g fill="%s">%s</g>' % (OL, OL, body, SLATE, body))


def molnia_inline():
    pts = [(33, 0), (38, 14), (28, 26), (39, 40), (27, 54), (36, 66), (30, 85)]
    d = "M" + " L".join("%d %d" % p for p in pts)
    return ('<path d="%s" fill="none" stroke="#5FE0FF" stroke-width="13" stroke-linejoin="round"/>'
            '<path d="%s" fill="none" stroke="%s" stroke-width="7" stroke-linejoin="round"/>'
            '<path d="%s" fill="none" stroke="#FFF7B0" stroke-width="4.5" stroke-linejoin="round"/>' % (d, d, OL, d))


def main():
    make_buttons()
    make_shariki()
    make_sharik()
    make_player()
    make_ventilator()
    make_demon()
    make_ogon()
    make_dimok()
    make_bonus()
    make_puk()
    make_lava()
    make_buliki()
    make_cloud("oblako1.svg", 180, 96)
    make_cloud("oblako2.svg", 150, 80)
    make_molnia()
    for n in (1, 2, 3):
        make_fongame(n)
    make_fonmenu()
    make_fonopt()
    make_fonhscr()
    make_fonhelp()
    make_qtns()
    make_help()


if __name__ == "__main__":
    main()
