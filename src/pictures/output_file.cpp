#include "pictures/output_file.hpp"

#include "pictures/bmp_layout.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#ifndef _WIN32
#include <sys/uio.h>
#endif

#include "common/files_in_progress.hpp"
#include "common/system_files.hpp"

namespace {

// Pieces handed to the system in one call at most; POSIX allows at least this many.
constexpr std::size_t pieces_per_call = 1024;

// The file open_output made for `path`: beside it when replacing, else under it.
std::string created_path(const picture_output& output, const std::string& path) {
  return output.replacing ? replacement_path(path) : path;
}

// `error_code` is the system's reason, taken before closing the file can replace it.
[[noreturn]] void fail_write(picture_output& output, const std::string& path, int error_code) {
  if (output.stream != nullptr) {
    std::fclose(output.stream);
    output.stream = nullptr;
  }
  std::remove(created_path(output, path).c_str());
  end_writing(file_slot::picture, output.writer);
  throw fatal_error{text::file_write_error, path, error_code};
}

// At most pieces_per_call pieces. Where the system gathers, one call takes them all; a short
// write of a file on disk means the disk is full or the file too large, so it is a failure.
bool write_pieces(std::FILE* stream, const byte_piece* pieces, std::size_t count) {
#ifdef _WIN32
  for (std::size_t i = 0; i < count; ++i) {
    if (pieces[i].size != 0 &&
        std::fwrite(pieces[i].bytes, 1, pieces[i].size, stream) != pieces[i].size) {
      return false;
    }
  }
  return true;
#else
  iovec vectors[pieces_per_call];
  std::size_t total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    vectors[i] = {const_cast<void*>(pieces[i].bytes), pieces[i].size};
    total += pieces[i].size;
  }
  // A short write is tried again for the rest, so a failure comes with the system's reason.
  iovec* rest = vectors;
  while (total > 0) {
    const ssize_t written = writev(fileno(stream), rest, static_cast<int>(vectors + count - rest));
    if (written <= 0) {
      errno = written == 0 ? EIO : errno;
      return false;
    }
    total -= static_cast<std::size_t>(written);
    for (auto done = static_cast<std::size_t>(written); done > 0;) {
      const std::size_t taken = std::min(done, rest->iov_len);
      rest->iov_base = static_cast<char*>(rest->iov_base) + taken;
      rest->iov_len -= taken;
      done -= taken;
      rest += rest->iov_len == 0 ? 1 : 0;
    }
  }
  return true;
#endif
}

} // namespace

std::string replacement_path(const std::string& path) {
  return path + replacement_suffix;
}

bool open_output(picture_output& output, const std::string& path, text create_error,
                 bool keep_existing) {
  output.kept = false;
  output.replacing = false;
  // Noted before the file exists, so that no interruption can leave it behind.
  begin_writing(file_slot::picture, path, output.writer);
  raw_file file = create_raw_file(path, new_file_rule::only_new);
  int error_code = file == no_raw_file ? last_error_code() : 0;
  file_created(file_slot::picture, output.writer, file != no_raw_file);
  if (file == no_raw_file && name_taken(error_code)) {
    output.kept = keep_existing && file_exists(path);
    if (output.kept) {
      return false;
    }
    // A picture that exists stays whole until the new one is: written beside it, it takes the
    // old one's place only once complete, so a failure or an interruption leaves the old.
    output.replacing = replaceable_file(path);
    const std::string created = created_path(output, path);
    begin_writing(file_slot::picture, created, output.writer);
    file = create_raw_file(created, new_file_rule::replace);
    error_code = file == no_raw_file ? last_error_code() : 0;
    file_created(file_slot::picture, output.writer, file != no_raw_file);
  }
  output.stream = file == no_raw_file ? nullptr : stream_over(file);
  if (output.stream == nullptr) {
    error_code = error_code != 0 ? error_code : last_error_code();
    if (file != no_raw_file) {
      std::remove(created_path(output, path).c_str());
    }
    end_writing(file_slot::picture, output.writer);
    throw fatal_error{create_error, path, error_code};
  }
#ifndef _WIN32
  // Pieces go to the file straight from where they lie; a stream buffer would only copy them.
  std::setvbuf(output.stream, nullptr, _IONBF, 0);
#endif
  return true;
}

void write_output(picture_output& output, const std::string& path, const byte_piece* pieces,
                  std::size_t count) {
  for (std::size_t done = 0; done < count; done += pieces_per_call) {
    if (!write_pieces(output.stream, pieces + done, std::min(pieces_per_call, count - done))) {
      fail_write(output, path, last_error_code());
    }
  }
}

void write_rows_bottom_up(picture_output& output, const std::string& path, byte_piece head,
                          const std::uint8_t* rows, std::size_t row_bytes, std::int32_t height) {
  static const std::uint8_t zeros[4] = {};
  const std::size_t padding = row_padding(row_bytes);
  byte_piece pieces[pieces_per_call];
  std::size_t count = 0;
  pieces[count++] = head;
  for (std::int32_t row = height - 1; row >= 0; --row) {
    if (count + 2 > pieces_per_call) {
      write_output(output, path, pieces, count);
      count = 0;
    }
    pieces[count++] = {rows + static_cast<std::size_t>(row) * row_bytes, row_bytes};
    if (padding != 0) {
      pieces[count++] = {zeros, padding};
    }
  }
  write_output(output, path, pieces, count);
}

void close_output(picture_output& output, const std::string& path) {
  const bool flushed = std::fflush(output.stream) == 0 && !std::ferror(output.stream);
  const int error_code = last_error_code();
  const bool closed = std::fclose(output.stream) == 0;
  output.stream = nullptr;
  if (!flushed || !closed) {
    fail_write(output, path, flushed ? last_error_code() : error_code);
  }
  if (output.replacing && !output.replace_later && !replace_file(replacement_path(path), path)) {
    fail_write(output, path, last_error_code());
  }
  if (output.written_mark != nullptr) {
    std::atomic_ref<std::uint8_t>(*output.written_mark)
        .store(static_cast<std::uint8_t>(output.replacing ? file_left::beside : file_left::named));
  }
  end_writing(file_slot::picture, output.writer);
}
