#!/usr/bin/env python3
"""Writes the main window's animation clip as one SVG strip of 29 frames of
80 x 48 side by side: a server on the right sends its requests as waves to
the computer on the left, which listens. Frames 0 to 14 are one loop of
the waves; frames 15 to 28 show the computer answering with a tick.

Usage: animation.py OUT.svg
Keep the drawing inside rows 5 to 43: the window's control is a few
pixels lower than a frame, and the clip is centred in it.
"""
import math
import sys

W, H, FRAMES, LOOP = 80, 48, 29, 15
NAVY, BLUE, LIGHT, ORANGE, SCREEN = "#143a63", "#2f86c6", "#d7e9f7", "#f5a02a", "#bfe0f5"


def computer():
    return (
        f'<rect x="5" y="12" width="26" height="18" rx="2" fill="{NAVY}"/>'
        f'<rect x="7.5" y="14.5" width="21" height="13" rx="1" fill="{SCREEN}"/>'
        f'<rect x="15" y="30" width="6" height="4" fill="{NAVY}"/>'
        f'<rect x="10" y="34" width="16" height="2.5" rx="1.2" fill="{NAVY}"/>'
    )


def server(led_on):
    led = ORANGE if led_on else "#7a5a2a"
    return (
        f'<rect x="60" y="15" width="15" height="22" rx="2" fill="{BLUE}" stroke="{NAVY}" stroke-width="1"/>'
        f'<rect x="63" y="19" width="9" height="2" fill="{LIGHT}"/>'
        f'<rect x="63" y="23" width="9" height="2" fill="{LIGHT}"/>'
        f'<circle cx="67.5" cy="31.5" r="2" fill="{led}"/>'
    )


def waves(phase):
    """Three arcs leaving the server towards the computer, one every five frames."""
    out = []
    for k in range(3):
        t = ((phase + 5 * k) % LOOP) / LOOP  # 0 at the server, 1 at the computer
        r = 6 + t * 22
        opacity = math.sin(math.pi * t) ** 0.8
        a = math.radians(38)
        x0, y0 = 58 - r * math.cos(a), 26 - r * math.sin(a)
        x1, y1 = 58 - r * math.cos(a), 26 + r * math.sin(a)
        out.append(
            f'<path d="M{x0:.2f},{y0:.2f} A{r:.2f},{r:.2f} 0 0 0 {x1:.2f},{y1:.2f}" fill="none" '
            f'stroke="{ORANGE}" stroke-width="2.2" stroke-linecap="round" opacity="{opacity:.3f}"/>'
        )
    return "".join(out)


def tick(progress):
    """The answer: a tick drawn on the computer's screen."""
    length = 22 * min(1.0, progress)
    return (
        f'<path d="M12,21 L16.5,25 L24,17" fill="none" stroke="{NAVY}" stroke-width="2.4" '
        f'stroke-linecap="round" stroke-linejoin="round" stroke-dasharray="{length:.2f} 30"/>'
    )


def frame(n):
    if n < LOOP:
        body = computer() + server(n % 5 < 2) + waves(n)
    else:
        body = computer() + server(True) + tick((n - LOOP + 1) / 6)
    return f'<g transform="translate({n * W},0)">{body}</g>'


def main():
    with open(sys.argv[1], "w", encoding="ascii") as out:
        out.write(
            f'<svg xmlns="http://www.w3.org/2000/svg" width="{W * FRAMES}" height="{H}" '
            f'viewBox="0 0 {W * FRAMES} {H}">'
        )
        out.write("".join(frame(n) for n in range(FRAMES)))
        out.write("</svg>\n")


if __name__ == "__main__":
    main()
