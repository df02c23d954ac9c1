// Headers of the ion blocks of the level and line files.
#include "model/ion_blocks.hpp"

#include "base/errors.hpp"
#include "model/atoms.hpp"

namespace mcspec {

IonBlockHeader read_ion_block_header(InFile& f, int comments, int blocks_read, const char* file_kind,
                                     int max_count, const std::string& count_message) {
  IonBlockHeader h;
  try {
    f.skip(comments);
    f.read("(I8, I4, I10)", {h.z, h.stage, h.count});
    h.record = f.record_number();
    f.skip(1);
  } catch (const EndOfFileError&) {
    throw InputError(f.source_name(), f.record_number(), 0,
                     std::string("the ") + file_kind + " file ends after " + std::to_string(blocks_read) +
                         " complete ion blocks, without the block of Z = 56, stage 2 that closes it");
  }
  const std::string& file = f.source_name();
  if (h.z < 1 || h.z > kMaxElements)
    throw InputError(file, h.record, 1, "expected an atomic number between 1 and " + std::to_string(kMaxElements));
  if (h.stage < 1 || h.stage > 9) throw InputError(file, h.record, 2, "expected an ionisation stage between 1 and 9");
  if (h.count < 0 || h.count > max_count) throw InputError(file, h.record, 3, count_message);
  return h;
}

}  // namespace mcspec
