// A copy of a disc image with some of its files replaced in place.
//
// Each file replaced keeps its first sector and must fit in the sectors it has now (its size
// rounded up to 2,048 bytes); its directory record's data length (both byte orders) becomes
// the new size, and the user data after its new end, to the end of its last sector, is zero.
// Only the sectors whose user data changes are written, raw ones with their EDC and ECC
// computed anew (sync, address, mode and subheader kept); every other byte is copied as it is.
//
// The copy is written into OUT/NAME.part/ (NAME the image's file name), a folder of its own:
// for a cue sheet, the sheet and every file it names under the names it gives them; for an
// image file, the image. Once written and checked, each file moves to OUT under its name and the
// folder is removed; on any failure the folder and all in it are removed and OUT is unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disc/disc_reader.hpp"

inline constexpr char partial_folder_suffix[] = ".part";

struct replacement {
  std::string path; // in the disc: "/DATA/PICS.BIN"
  std::vector<std::uint8_t> bytes;
};

// The sectors a file of `size` bytes needs, and those the disc has for the file at `path`.
struct sector_fit {
  std::uint64_t needed = 0;
  std::uint64_t available = 0;
  bool fits() const { return needed <= available; }
};
sector_fit fit_of(const iso_file& file, std::uint64_t size);

struct copy_result {
  bool written = false;
  std::string reason; // why nothing was written: "/DATA/PICS.BIN: needs 5 sectors, the disc
                      // has 4 for it", a file that is not on the disc, or the system's reason
};

// Checks the copy before it takes its final names: the disc opened from the partial folder;
// returns a reason when it is wrong, or empty.
using copy_check = std::function<std::string(const disc_image& copy)>;

// Writes the patched copy of `disc` into the folder `out`, which must exist and must not be the
// folder of the image. Nothing is written when a replacement does not fit.
copy_result write_patched_copy(const disc_image& disc, const std::vector<replacement>& changes,
                               const std::string& out, const copy_check& check = {});
