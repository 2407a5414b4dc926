// Writing records: big-endian fields and run-length streams. Insertion rebuilds records with
// these, and the sample writer makes its archives with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using byte_vector = std::vector<std::uint8_t>;

// Big-endian appends; bits above the field width are dropped.
void append_u16be(byte_vector& out, std::uint32_t value);
void append_u24be(byte_vector& out, std::uint32_t value);
void append_u32be(byte_vector& out, std::uint32_t value);

// Packs `count` bytes greedily: a repeat run for 2 or more equal bytes (up to 129), literal
// runs (up to 128) between them. Expanding the packets gives back exactly the `count` bytes.
void append_runs(byte_vector& out, const std::uint8_t* pixels, std::size_t count);

// A whole run-length stream of `count` bytes (at most 0xFFFFFF): the five head bytes given,
// the length, then the packets.
void append_run_stream(byte_vector& out, const std::uint8_t* head, const std::uint8_t* pixels,
                       std::size_t count);
