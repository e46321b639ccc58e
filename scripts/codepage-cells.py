#!/usr/bin/env python3
"""Every one-byte and two-byte cell of the code pages, as the two builds of horalin read them.

The input of a code page holds one cell a line: every single byte, then every byte from
80 with every byte after it (bytes that end lines in the code page left out). Both builds
read it with `ts /CP:n #`; the lines of their outputs are compared cell by cell.

  codepage-cells.py compare POSIX_HORALIN WINDOWS_HORALIN_EXE [CODEPAGE...]
      the count of differing cells for each code page that either build accepts
  codepage-cells.py fixes POSIX_HORALIN WINDOWS_HORALIN_EXE FIXES_FILE [CODEPAGE...]
      writes FIXES_FILE again: its entries, with the Windows build's reading of every
      cell where the POSIX build reads otherwise (the POSIX build must be one built with
      the file as it is)

The Windows build runs under Wine (WINEPREFIX as set, or beside the program). Wine has no
GB18030 (54936), which the POSIX build reads through iconv: compare shows it refused by
the Windows build.
"""
import os
import re
import subprocess
import sys

EBCDIC = {37, 500, 870, 875, 1026, 1047, 20273, 20277, 20278, 20280, 20284, 20285, 20290, 20297, 20420, 20423,
          20424, 20871, 20880, 20905, 21025} | set(range(1140, 1150))
CANDIDATES = sorted({1, 2, 3, 37, 42, 437, 500, 708, 720, 737, 775, 850, 852, 855, 857, 858, 860, 861, 862, 863,
                     864, 865, 866, 869, 870, 874, 875, 932, 936, 949, 950, 1026, 1047, 1361, 20127, 20273, 20277,
                     20278, 20280, 20284, 20285, 20290, 20297, 20420, 20423, 20424, 20866, 20871, 20880, 20905,
                     20932, 20936, 20949, 21025, 21866, 38598, 50220, 50221, 50222, 50225, 51932, 51936, 51949,
                     54936, 65000, 65010} | set(range(1140, 1150)) | set(range(1250, 1259)) |
                    set(range(10000, 10083)) | set(range(28591, 28606)))


def separators(cp):
    """Bytes that end a line (or may, read in the code page), never put in a cell."""
    ends = {0x00, 0x0A, 0x0D}
    if cp in EBCDIC:
        ends |= {0x15, 0x25}
    if cp == 20127:
        ends |= {0x80, 0x8A, 0x8D}
    return ends


def cells(cp):
    ends = separators(cp)
    bytes_ok = [b for b in range(256) if b not in ends]
    out = [bytes([b]) for b in bytes_ok]
    out += [bytes([lead, trail]) for lead in range(0x80, 0x100) if lead not in ends for trail in bytes_ok]
    return out


def run(program, cp, data):
    argv = [program, "ts", "/CP:%d" % cp, "#"]
    env = dict(os.environ, TZ="UTC", LC_ALL="C.UTF-8")
    if program.lower().endswith(".exe"):
        argv.insert(0, "wine")
        env.setdefault("WINEPREFIX", os.path.join(os.path.dirname(os.path.abspath(program)), "wineprefix"))
        env.setdefault("WINEDEBUG", "-all")
    p = subprocess.run(argv, input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    if p.returncode != 0:
        return None
    text = p.stdout.decode("utf-8", "surrogateescape").replace("\r\n", "\n")
    return [line[2:] if line.startswith("# ") else line for line in text.split("\n")[:-1]]


def read_cells(program, cp):
    """The reading of each cell, or None when the code page is refused."""
    cs = cells(cp)
    # The first line is no UTF-8, so that the code page stays in use for every line.
    lines = run(program, cp, b"\xff\r" + b"".join(c + b"\r" for c in cs))
    if lines is None:
        return None
    return dict(zip(cs, lines[1:])), len(lines) - 1 == len(cs)


def compare(posix, windows, cps):
    total = 0
    for cp in cps:
        a, b = read_cells(posix, cp), read_cells(windows, cp)
        if a is None and b is None:
            continue
        if a is None or b is None:
            print("%5d  refused by the %s build" % (cp, "POSIX" if a is None else "Windows"))
            continue
        differ = sum(1 for c in a[0] if a[0][c] != b[0].get(c))
        note = "" if a[1] and b[1] else "  (the lines do not match the cells)"
        print("%5d  %6d differing cells%s" % (cp, differ, note))
        total += differ
    print("total  %d" % total)


FIX = re.compile(r"\{(\d+), 0x([0-9A-F]+), (\d+), 0x([0-9A-F]+)\},")


def fixes(posix, windows, path, cps):
    with open(path) as f:
        source = f.read()
    entries = {}
    for cp, first, count, unit in ((int(a), int(b, 16), int(c), int(d, 16)) for a, b, c, d in FIX.findall(source)):
        for i in range(count):
            entries[(cp, first + i)] = unit if unit == 0xFFFD else unit + i
    for cp in cps:
        if cp == 65000:
            continue  # read through iconv, not through a table
        a, b = read_cells(posix, cp), read_cells(windows, cp)
        if a is None or b is None:
            continue
        if cp == 20127:
            # The bytes that end lines, which no cell holds: Windows reads each high byte
            # by its low seven bits, 80 as a zero unit, 8A as LF and 8D as CR.
            entries.update({(cp, 0x80): 0x00, (cp, 0x8A): 0x0A, (cp, 0x8D): 0x0D})
        # A code page without a character of two bytes is read a byte at a time: the
        # cells of single bytes decide its pairs.
        double = any(len(c) == 2 and len(w) == 1 for c, w in b[0].items())
        for c, w in b[0].items():
            if a[0].get(c) == w or (len(c) == 2 and not double):
                continue
            key = (cp, c[0] if len(c) == 1 else c[0] << 8 | c[1])
            if len(c) == 2:
                one, two = c[:1], c[1:]
                if w == b[0][one] + b[0][two] and a[0][c] == a[0][one] + a[0][two]:
                    continue  # no lead byte in either build: the cells of the single bytes decide it
                entries[key] = ord(w) if len(w) == 1 else 0xFFFD  # else the first byte stands alone
            elif len(w) <= 1:
                entries[key] = ord(w) if w else 0  # a zero unit, which the reader drops
            else:
                print("%d %s: cannot be fixed (%r)" % (cp, c.hex(), w), file=sys.stderr)
    runs = []
    for (cp, index), unit in sorted(entries.items()):
        if runs:
            rcp, first, count, start = runs[-1]
            if rcp == cp and first + count == index and (unit == start == 0xFFFD or unit == start + count != 0xFFFD):
                runs[-1][2] += 1
                continue
        runs.append([cp, index, 1, unit])
    body = "".join("    {%d, 0x%04X, %d, 0x%04X},\n" % tuple(r) for r in runs)
    begin = source.index("// BEGIN CELLS\n") + len("// BEGIN CELLS\n")
    end = source.index("    // END CELLS")
    with open(path, "w") as f:
        f.write(source[:begin] + body + source[end:])
    print("%d cells in %d runs" % (len(entries), len(runs)))


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in ("compare", "fixes"):
        sys.exit(__doc__)
    if sys.argv[1] == "compare":
        compare(sys.argv[2], sys.argv[3], [int(a) for a in sys.argv[4:]] or CANDIDATES)
    else:
        fixes(sys.argv[2], sys.argv[3], sys.argv[4], [int(a) for a in sys.argv[5:]] or CANDIDATES)


if __name__ == "__main__":
    main()
