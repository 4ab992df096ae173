#!/usr/bin/env python3
"""Writes frequency_plan_rows.txt: channel blocks computed independently of the
C++ code, for the table-driven test. Python floats are IEEE doubles and every
expression below is evaluated one operation at a time in the same order as
the station's tool, so the roundings match.

Run by hand (not part of the build):  python3 frequency_plan_rows.py > frequency_plan_rows.txt
Row format: range version channel delta | F(%.17g) crystal | 16 block bytes in hex

Besides a few chosen rows it writes, for every version class, the channels
and fine offsets that land on and just either side of every zone edge,
setting-byte threshold and range 1 segment start (a few thousand rows).
"""

STEP = 0.025
FINE = 0.00625
CRYSTALS = [11.0592, 12.288, 14.7456]

R2_ZONES = [(146.3, 146.8), (149, 149.7), (151.8, 152.3), (154.5, 155.2), (157.3, 157.9),
            (160.15, 160.7), (162.975, 163.4), (165.6, 166.25), (168.4, 168.775),
            (171.1, 171.7), (173.8, 174.975)]
R1_EARLY = [(403.025, 404.3), (408.3, 409.975), (419, 421.975), (434.025, 434.5),
            (436.55, 437.3), (438.5, 439.45), (442.15, 442.8), (444.9, 445.3),
            (447.5, 448.2), (450.4, 451.2), (453, 454), (456, 457), (458.5, 459.5),
            (461.5, 462.5), (467.125, 468), (469.75, 469.975)]
R1_LATE = [(418.725, 421.975), (434.025, 435.6), (438.025, 439), (445.775, 447.8),
           (449.125, 451), (453.025, 454.1), (456.425, 457.475), (464.125, 466),
           (467.625, 469)]


def chan_freq(rng, c):
    if rng == 0:
        return c * STEP + 149.975
    if rng == 2:
        return c * STEP + 146.025
    if c <= 117:
        return c * STEP + 403.025
    if c <= 271:
        return (c - 118) * STEP + 406.15
    if c <= 470:
        return (c - 272) * STEP + 417.025
    return (c - 471) * STEP + 434.025


def out_freq(rng, c, d):
    return chan_freq(rng, c) + d * FINE


def in_zones(zones, v):
    return any(lo <= v <= hi for lo, hi in zones)


def crystal(rng, c, d, v):
    if not (v & 0x80) or rng == 0:
        return 0
    if rng == 2:
        return 1 if in_zones(R2_ZONES, chan_freq(rng, c)) else 0
    f = out_freq(rng, c, d)
    if v <= 130:
        return 1 if in_zones(R1_EARLY, f) else 0
    return 1 if in_zones(R1_LATE, f) else 2


def block(rng, c, d, v):
    later = bool(v & 0x80)
    ch = crystal(rng, c, d, v)
    x = CRYSTALS[ch]
    f = out_freq(rng, c, d)
    r = f / x if (rng == 1 and f < 431 and later) else (f + f) / x
    n = int(r)
    frac = int((r - n) * 32768)
    b = [0] * 16
    b[0] = (frac << 4) & 0xFF
    b[1] = (frac >> 4) & 0xFF
    b[2] = ((n << 3) | (frac >> 12)) & 0xFF
    b[3] = (n >> 5) & 0x07
    flag = 1 if ch == 1 else 0
    if rng == 1:
        b[4] = 0x21 if (f < 431 and not later) else 0x11
        b[5] = 0x70
        if f < 431:
            b[6], b[7] = 0x1B, 0x02
        elif f < 450:
            b[6], b[7] = 0x47, 0x00
        else:
            b[6], b[7] = 0xC7, 0x01
        if later:
            b[8] = flag
    elif rng == 2:
        b[4] = 0x13
        if later:
            b[5] = 0 if f < 153 else 1 if f < 160 else 2 if f < 167 else 3
            b[6] = flag
        else:
            table = [(150, 0, 0, 0), (153, 0, 3, 1), (155, 1, 3, 1), (158, 1, 3, 2),
                     (160, 2, 3, 2), (163, 2, 0, 2), (165, 3, 0, 2), (170, 3, 3, 3),
                     (176, 4, 3, 4)]
            b[5], b[6], b[7] = 4, 0, 0
            for below, band, fa, fb in table:
                if f < below:
                    b[5], b[6], b[7] = band, fa, fb
                    break
    else:
        b[4] = 0x13
    b[15] = d
    return f, x, b


def near_edges(rng, v, limit):
    """Channels (offset 0) whose test frequency lies within a hair of a zone edge."""
    zones = R2_ZONES if rng == 2 else (R1_EARLY if v <= 130 else R1_LATE)
    found = []
    for c in range(0, 1000):
        t = chan_freq(rng, c)
        for lo, hi in zones:
            if abs(t - lo) < 1e-9 or abs(t - hi) < 1e-9:
                found.append(c)
                break
        if len(found) >= limit:
            break
    return found


# Version bytes of every class: bit 7 clear (two of them), 128..130 (both
# ends), above 130 (both ends).
VERSIONS = [0x00, 0x7F, 0x80, 0x82, 0x83, 0xFF]
R1_THRESHOLDS = [431, 450]
R1_SEGMENTS = [403.025, 405.95, 406.15, 409.975, 417.025, 421.975, 434.025]
R2_EARLY_THRESHOLDS = [150, 153, 155, 158, 160, 163, 165, 167, 170, 176]
R2_LATE_THRESHOLDS = [153, 160, 167]
CHANNELS = range(0, 4096)
F_WINDOW = 2 * FINE   # rows whose tested frequency lies within two fine steps of an edge (offsets up to 8)
C_WINDOW = STEP       # ... or, for range 2 zones, a channel step


def edges(rng, v):
    """(value, tested on) pairs that decide something for this range and version."""
    later = bool(v & 0x80)
    if rng == 1:
        out = [(e, "F") for e in R1_THRESHOLDS + R1_SEGMENTS]
        if later:
            zones = R1_EARLY if v <= 130 else R1_LATE
            out += [(e, "F") for lo, hi in zones for e in (lo, hi)]
        return out
    if rng == 2:
        if not later:
            return [(e, "F") for e in R2_EARLY_THRESHOLDS]
        return [(e, "F") for e in R2_LATE_THRESHOLDS] + [(e, "C") for lo, hi in R2_ZONES for e in (lo, hi)]
    return []


def rows_at_edges():
    """For every edge: the rows within a window of it, and wherever the plan
    cannot come that close (431 lies between range 1 segments) the nearest
    rows on either side. Range 2 zones test the channel frequency without the
    offset; everything else tests F with it."""
    rows = []
    for rng in (1, 2):
        for v in VERSIONS:
            for edge, on in edges(rng, v):
                window = C_WINDOW if on == "C" else F_WINDOW
                below = above = None   # (tested value, row) nearest the edge on each side
                for c in CHANNELS:
                    cf = chan_freq(rng, c)
                    if on == "C":
                        offsets = (0, 3, 255)
                    else:
                        k = int((edge - cf) / FINE)
                        offsets = sorted({min(255, max(0, k + i)) for i in range(-3, 4)})
                    for d in offsets:
                        t = cf if on == "C" else out_freq(rng, c, d)
                        row = (rng, v, c, d)
                        # Small offsets only: a large one reaches the same value from far channels.
                        if abs(t - edge) <= window and d <= 8:
                            rows.append(row)
                        if t < edge and (below is None or t > below[0]):
                            below = (t, row)
                        if t >= edge and (above is None or t < above[0]):
                            above = (t, row)
                # Every edge is met from above; from below too unless nothing in the plan lies under it.
                assert above is not None, (rng, v, edge, on)
                rows.append(above[1])
                if below is not None:
                    rows.append(below[1])
    return rows


def main():
    rows = [
        # the target channel in every version class
        (0, 0x00, 1902, 2), (1, 0x00, 1902, 2), (1, 0x81, 1902, 2), (1, 0x83, 1902, 2),
        (2, 0x00, 1902, 2), (2, 0x80, 1902, 2),
        # ordinary channels
        (0, 0x81, 0, 0), (0, 0x00, 123, 7), (1, 0x00, 500, 0), (1, 0x81, 500, 0),
        (1, 0xFF, 500, 0), (1, 0x82, 100, 9), (1, 0x00, 300, 3), (1, 0x84, 700, 255),
        (2, 0x00, 10, 0), (2, 0x00, 200, 1), (2, 0x90, 333, 4), (2, 0x00, 1200, 0),
        # far beyond the plan: N modulo 256
        (1, 0x00, 65535, 255), (0, 0x83, 40000, 0),
    ]
    for rng, v in ((1, 0x80), (1, 0x83), (2, 0x80)):
        for c in near_edges(rng, v, 8):
            rows.append((rng, v, c, 0))
            rows.append((rng, v, c, 1))
    # a fine offset pushing a range 1 channel over a zone's lower edge
    rows.append((1, 0x80, 203, 3))
    rows.append((1, 0x80, 203, 4))
    rows.append((1, 0x83, 339, 4))
    rows.append((1, 0x83, 339, 5))
    # range 0 has no zones: every 64th channel, a few offsets, each class
    rows += [(0, v, c, d) for v in (0x00, 0x80, 0xFF) for c in range(0, 4096, 64) for d in (0, 5, 255)]
    seen = set()
    unique = []
    for row in rows + rows_at_edges():
        if row not in seen:
            seen.add(row)
            unique.append(row)
    print("# range version channel delta | F crystal | block")
    for rng, v, c, d in unique:
        f, x, b = block(rng, c, d, v)
        print("%d %d %d %d | %.17g %.17g | %s" % (rng, v, c, d, f, x, " ".join("%02X" % y for y in b)))


if __name__ == "__main__":
    main()
