#include "report/page_notes.h"

#include "platform/image_codec.h"

namespace quillaro {

PageNote NoteRgbPage(int32_t number, const uint8_t* rgb, int32_t width, int32_t height,
                     const std::optional<PageInk>& ink) {
  PageNote note;
  note.number = number;
  note.width_px = width;
  note.height_px = height;
  note.ink = ink ? *ink : MeasureRgbPage(rgb, width, height);
  PageInkCounts counts;
  CountPageInk(rgb, static_cast<size_t>(width) * static_cast<size_t>(height), counts);
  note.ink_counts = counts;
  return note;
}

PageNote NotePageFile(int32_t number, const std::string& path) {
  // The same reading as MeasurePageFile, with the counts taken beside the
  // sums, so that the coverage does not change by the report's reading.
  PageNote note;
  note.number = number;
  PageInk ink;
  PageInkCounts counts;
  if (std::optional<ImageFile> image = ImageFile::Open(path)) {
    const uint32_t width = static_cast<uint32_t>(image->width());
    const uint32_t height = static_cast<uint32_t>(image->height());
    if (std::optional<RgbPixels> pixels = image->ReadRgb(kMaxDecodedPageBytes)) {
      AddRgbPixelsInk(pixels->data(), pixels->size_bytes() / 3, ink.sums);
      CountPageInk(pixels->data(), pixels->size_bytes() / 3, counts);
    } else {
      image->ReadRgbRows([&](int32_t, const uint8_t* row) {
        AddRgbPixelsInk(row, width, ink.sums);
        CountPageInk(row, width, counts);
      });
    }
    ink.pixel_count = height * width;
    note.width_px = image->width();
    note.height_px = image->height();
    note.ink_counts = counts;
  }
  note.ink = ink;
  return note;
}

}  // namespace quillaro
