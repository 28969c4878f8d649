#ifndef QUILLARO_PLATFORM_STANDARD_OUTPUT_H_
#define QUILLARO_PLATFORM_STANDARD_OUTPUT_H_

namespace quillaro {

// Makes the C runtime write standard output byte for byte. On Windows it
// otherwise writes every "\n" as "\r\n", so text that carries its own
// "\r\n" (a CSV file) would come out with "\r\r\n". Nothing to do on Linux.
// Call before the first write; no failure to report (a stream that cannot
// change mode keeps the one it has).
void UseBinaryStandardOutput();

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_STANDARD_OUTPUT_H_
