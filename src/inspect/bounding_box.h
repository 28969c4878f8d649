#ifndef QUILLARO_INSPECT_BOUNDING_BOX_H_
#define QUILLARO_INSPECT_BOUNDING_BOX_H_

#include <string>

namespace quillaro {

// Reads the page size from the bbox device's output (standard output and
// error of the interpreter run, lines ending at LF): the largest upper-right
// corner of all lines holding "%%HiResBoundingBox: " followed by four numbers
// in points separated by exactly three single blanks, read as strtof reads
// them; the lower-left corner is not used, and the two maxima may come from
// different pages. Converted to millimetres in double precision (points / 72
// x 25.4) and stored as float. Always sets both outputs; 0 when no usable
// line was found. Lines with fewer than four pieces are skipped; a piece that
// is not a number reads as 0, as strtof gives it.
void ReadBoundingBox(const std::string& output, float& width, float& height);

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_BOUNDING_BOX_H_
