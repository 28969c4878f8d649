#include "platform/standard_output.h"

namespace quillaro {

void UseBinaryStandardOutput() {}

}  // namespace quillaro
