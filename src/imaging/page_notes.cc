#include "imaging/page_notes.h"

#include "platform/image_codec.h"

namespace quillaro {

PageNote NoteRgbPage(int32_t number, const uint8_t* rgb, int32_t width, int32_t height,
                     const std::optional<PageInk>& ink, const ColourRule& rule) {
  PageNote note;
  note.number = number;
  note.width_px = width;
  note.height_px = height;
  note.ink = ink ? *ink : MeasureRgbPage(rgb, width, height);
  note.ink_counts = CountPageInk(rgb, width, height, rule);
  return note;
}

PageNote NotePageFile(int32_t number, const std::string& path, const ColourRule& rule) {
  // The same reading as MeasurePageFile, with the counts taken beside the
  // sums, so that the coverage does not change by the report's reading.
  PageNote note;
  note.number = number;
  PageInk ink;
  if (std::optional<ImageFile> image = ImageFile::Open(path)) {
    const uint32_t width = static_cast<uint32_t>(image->width());
    const uint32_t height = static_cast<uint32_t>(image->height());
    PageInkCounter counter(image->width(), rule);
    if (std::optional<RgbPixels> pixels = image->ReadRgb(kMaxDecodedPageBytes)) {
      AddRgbPixelsInk(pixels->data(), pixels->size_bytes() / 3, ink.sums);
      for (uint32_t y = 0; y < height; ++y) counter.AddRow(pixels->data() + 3 * size_t{width} * y);
    } else {
      image->ReadRgbRows([&](int32_t, const uint8_t* row) {
        AddRgbPixelsInk(row, width, ink.sums);
        counter.AddRow(row);
      });
    }
    ink.pixel_count = height * width;
    note.width_px = image->width();
    note.height_px = image->height();
    note.ink_counts = counter.Finish();
  }
  note.ink = ink;
  return note;
}

}  // namespace quillaro
