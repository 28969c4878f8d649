#!/usr/bin/env python3
"""Maps every PostScript name of GhostPCL's resident-font table to the closest
URW base-35 font. Prints "psname<TAB>urw-file" lines, one per distinct name.

Usage: map_pcl_fonts.py plftable.c /usr/share/fonts/opentype/urw-base35
"""
import os
import re
import sys


def style_of(name):
    n = name.lower()
    bold = any(w in n for w in ("bold", "demi", "halbfett", "extrabold", "bd"))
    italic = any(w in n for w in ("italic", "oblique", "kursiv", "ita"))
    return bold, italic


# Family keyword (in the resident name) -> URW family files (regular, bold, italic, bold italic).
FAMILIES = [
    (("symbols", "symbps", "standardsymbols"), ["StandardSymbolsPS"] * 4),
    (("dings", "d050000l"), ["D050000L"] * 4),
    (("z003", "chancery", "mauritius", "coronet", "c093"), ["Z003-MediumItalic"] * 4),
    (("mono", "lettergothic", "artlineprinter"),
     ["NimbusMonoPS-Regular", "NimbusMonoPS-Bold", "NimbusMonoPS-Italic", "NimbusMonoPS-BoldItalic"]),
    (("narrow", "cond"),
     ["NimbusSansNarrow-Regular", "NimbusSansNarrow-Bold", "NimbusSansNarrow-Oblique",
      "NimbusSansNarrow-BoldOblique"]),
    (("p052", "palatino"), ["P052-Roman", "P052-Bold", "P052-Italic", "P052-BoldItalic"]),
    (("c059", "century"), ["C059-Roman", "C059-Bold", "C059-Italic", "C059-BdIta"]),
    (("bookman",), ["URWBookman-Light", "URWBookman-Demi", "URWBookman-LightItalic",
                    "URWBookman-DemiItalic"]),
    (("gothic",), ["URWGothic-Book", "URWGothic-Demi", "URWGothic-BookOblique",
                   "URWGothic-DemiOblique"]),
    (("roman", "classico", "garamond", "times"),
     ["NimbusRoman-Regular", "NimbusRoman-Bold", "NimbusRoman-Italic", "NimbusRoman-BoldItalic"]),
]
SANS = ["NimbusSans-Regular", "NimbusSans-Bold", "NimbusSans-Italic", "NimbusSans-BoldItalic"]


def closest(name):
    n = name.lower()
    files = SANS
    for keys, candidates in FAMILIES:
        if any(k in n for k in keys):
            files = candidates
            break
    bold, italic = style_of(name)
    return files[(1 if bold else 0) + (2 if italic else 0)]


def main():
    table, folder = sys.argv[1], sys.argv[2]
    text = open(table, encoding="latin-1").read()
    names = re.findall(r'\{\s*"[^"]*",\s*"[^"]*",\s*"([^"]+)"\s*\}', text)
    seen = set()
    for ps in names:
        if ps in seen:
            continue
        seen.add(ps)
        urw = os.path.join(folder, closest(ps) + ".otf")
        if not os.path.exists(urw):
            sys.exit(f"no URW font {urw} for {ps}")
        print(f"{ps}\t{urw}")


if __name__ == "__main__":
    main()
