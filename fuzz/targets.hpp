// The fuzz targets, each taking one input. libFuzzer drives them one by one (libfuzzer_main.cpp);
// fuzz_replay runs them over the seeds and the committed regressions with any compiler.
#pragma once

#include <cstddef>
#include <cstdint>

using fuzz_target = int (*)(const std::uint8_t* data, std::size_t size);

int fuzz_extract_pair(const std::uint8_t* data, std::size_t size);
int fuzz_expand_runs(const std::uint8_t* data, std::size_t size);
int fuzz_paths(const std::uint8_t* data, std::size_t size);
int fuzz_picture_reader(const std::uint8_t* data, std::size_t size);
int fuzz_insert_pair(const std::uint8_t* data, std::size_t size);
int fuzz_cue_sheet(const std::uint8_t* data, std::size_t size);
int fuzz_iso9660(const std::uint8_t* data, std::size_t size);
