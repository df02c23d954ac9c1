// The ion blocks of the level file ("varn1.new") and the line file ("varn2"): each
// starts with comment records, a header (atomic number, stage, number of entries; I8, I4,
// I10) and one more comment record. Both files close with the block of Z = 56, stage 2.
#pragma once

#include <climits>
#include <string>

#include "base/io.hpp"

namespace mcspec {

inline constexpr int kLastBlockZ = 56, kLastBlockStage = 2;  // the block that closes either file

struct IonBlockHeader {
  int z = 0, stage = 0, count = 0;
  long record = 0;  // record of the header
};

// Reads the header of the next block after `comments` comment records. `file_kind`
// ("level", "line") names the file in the message of a file that ends before its
// closing block; a count outside 0..max_count is refused with count_message.
IonBlockHeader read_ion_block_header(InFile& f, int comments, int blocks_read, const char* file_kind,
                                     int max_count, const std::string& count_message);

}  // namespace mcspec
