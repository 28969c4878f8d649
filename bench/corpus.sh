#!/usr/bin/env bash
# Writes the benchmark corpus of small real print jobs into FOLDER: the jobs
# of the test corpus (tests/support/corpus.cc, from the PostScript programs
# in tests/data/corpus/ and PJL headers written here byte for byte) and the
# same document at 1, 5 and 12 pages in every language, 33 jobs in all.
#   bench/corpus.sh GS FOLDER
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
gs="$1"
out="$2"
mkdir -p "$out"
src="$repo/tests/data/corpus"
a4="-dPageCount=3 -dPageWidth=595 -dPageHeight=842"
letter="-dPageCount=2 -dPageWidth=612 -dPageHeight=792 -dColour"
make() {  # device, options, defines, source, output
  # shellcheck disable=SC2086
  "$gs" -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE="$1" $2 $3 -o "$out/$5" "$4" >/dev/null
}
make ps2write "" "$a4" "$src/document.ps" a4_3pages.ps
make pdfwrite "" "$a4" "$src/document.ps" a4_3pages.pdf
make pdfwrite "" "$letter" "$src/document.ps" letter_2pages.pdf
make ljet4 -r300 "$a4" "$src/document.ps" a4_3pages_reset.pcl
make cljet5 -r150 "$letter" "$src/document.ps" cljet5.raw
make pxlcolor -r150 "$letter" "$src/document.ps" letter_2pages.pxl
make xpswrite "" "$a4" "$src/document.ps" a4_3pages.xps
make pdfwrite "" "" "$src/colour_page.ps" colour_a4.pdf
make pdfwrite "" "" "$src/blank_page.ps" blank_a4.pdf
tail -c +3 "$out/a4_3pages_reset.pcl" >"$out/a4_3pages.pcl"  # without ESC E
tail -c +3 "$out/cljet5.raw" >"$out/letter_2pages_colour.pcl"
uel=$'\e%-12345X'
{ printf '%s@PJL JOB NAME="corpus"\n@PJL SET PAPER=A4\n@PJL SET QTY=2\n' "$uel"
  printf '@PJL ENTER LANGUAGE=POSTSCRIPT\n'; cat "$out/a4_3pages.ps"
  printf '%s@PJL EOJ\n%s' "$uel" "$uel"; } >"$out/pjl_ps_a4_qty2.prn"
{ printf '%s@PJL\r\n@PJL SET PAPER=letter\r\n@PJL SET QTY = 3\r\n' "$uel"
  printf '@PJL ENTER LANGUAGE = PCL\r\n'; cat "$out/cljet5.raw"; printf '%s' "$uel"; } \
  >"$out/pjl_pcl_letter_qty3.prn"
{ printf '%s@PJL\n@PJL SET PAPER=LETTER\n@PJL ENTER LANGUAGE=pdf\n' "$uel"
  cat "$out/letter_2pages.pdf"; printf '%s' "$uel"; } >"$out/pjl_pdf_letter.prn"
{ printf '%s@PJL\n@PJL SET PAPER = A4\n@PJL SET QTY=1\n@PJL ENTER LANGUAGE=PCL\n' "$uel"
  cat "$out/a4_3pages_reset.pcl"; } >"$out/pjl_pcl_a4_notrailer.prn"
{ printf '%s@PJL\n@PJL ENTER LANGUAGE=XPS\n' "$uel"; cat "$out/a4_3pages.xps"
  printf '%s' "$uel"; } >"$out/pjl_xps_a4.prn"
rm "$out/cljet5.raw"
for pages in 1 5 12; do
  doc="-dPageCount=$pages -dPageWidth=612 -dPageHeight=792"
  make ps2write "" "$doc" "$src/document.ps" "doc${pages}.ps"
  make pdfwrite "" "$doc -dColour" "$src/document.ps" "doc${pages}_colour.pdf"
  make pdfwrite "" "$doc" "$src/document.ps" "doc${pages}.pdf"
  make ljet4 -r300 "$doc" "$src/document.ps" "doc${pages}.tmp"
  tail -c +3 "$out/doc${pages}.tmp" >"$out/doc${pages}.pcl" && rm "$out/doc${pages}.tmp"
  make pxlmono -r300 "$doc" "$src/document.ps" "doc${pages}.pxl"
  make xpswrite "" "$doc" "$src/document.ps" "doc${pages}.xps"
done
