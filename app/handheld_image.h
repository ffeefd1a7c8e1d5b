// A frame record of a handheld database as an image in the four greys.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <QImage>
#include <QString>

#include "convert/pdb/reader.h"

namespace vintrel {

// Expands the record (of the database whose bytes are `file`) into an 8-bit indexed image whose
// pixels are the 2-bit codes and whose colour table holds their greys (code_greys). `rows` is
// scratch storage kept between calls. On a fault returns a null image and puts the reader's
// message into `fault`.
QImage handheld_image(std::span<const std::uint8_t> file, const pdb::StoredRecord& record,
                      std::vector<std::uint8_t>& rows, QString& fault);

}  // namespace vintrel
