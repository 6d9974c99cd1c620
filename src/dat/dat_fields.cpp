#include "dat/dat_fields.h"

std::size_t DatImageWidth(const DatField* fields, std::size_t count) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < count; ++i) width += fields[i].width;
  return width;
}

void ConvertDatImage(const DatField* fields, std::size_t count, const std::uint8_t* image,
                     std::uint8_t* body) {
  std::size_t offset = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t width = fields[i].width;
    if (fields[i].numeric && width > 1) {
      ReverseBytes(image + offset, body + offset, width);
    } else {
      std::memcpy(body + offset, image + offset, width);
    }
    offset += width;
  }
}

bool TruncToI32(double value, std::int32_t& out) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
  out = static_cast<std::int32_t>(value);
  return true;
}
