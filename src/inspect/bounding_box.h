#ifndef QUILLARO_INSPECT_BOUNDING_BOX_H_
#define QUILLARO_INSPECT_BOUNDING_BOX_H_

#include <string>

namespace quillaro {

// Reads the page size from the bbox device's output: the largest upper-right
// corner of all "%%HiResBoundingBox: " lines, converted from points to
// millimetres. Always sets both outputs; 0 when no usable line was found.
void ReadBoundingBox(const std::string& output, float& width, float& height);

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_BOUNDING_BOX_H_
