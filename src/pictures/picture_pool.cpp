#include "pictures/picture_pool.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "common/files_in_progress.hpp"
#include "common/system_files.hpp"
#include "pictures/bmp_layout.hpp"
#include "pictures/output_file.hpp"
#include "pictures/picture_names.hpp"
#include "pictures/sinks.hpp"

namespace {

// Small pictures travel together, so that handing them over costs little beside writing them:
// a batch is sent once its pictures hold this many bytes (a larger picture goes alone).
constexpr std::size_t batch_bytes = 0x40000;

// One picture of a batch: where its pixels and palette lie in the batch's bytes, and what
// became of it.
struct batch_picture {
  std::string base_name;
  picture shown;
  std::size_t pixels_at = 0;
  std::size_t palette_at = 0;
  std::size_t path_at = 0;      // the file's path, ended by a zero byte
  bool rows_as_in_file = false; // the pixels are the bitmap's rows, bottom row first, padded
  bool wrote = false;           // a file was written
  bool kept = false;            // the file existed already (-n)
  // A file_left, read and written as an atomic: the writer sets it once the file is whole, the
  // main thread clears it once the file is in place, and an interruption reads it.
  std::uint8_t left = 0;
};

// Pictures on their way to files, in the order of the walk: copies of their pixels and
// palettes, since the walk goes on over the bytes they were seen in.
struct picture_batch {
  std::vector<batch_picture> pictures;
  std::vector<std::uint8_t> bytes;
  std::size_t count = 0;      // pictures in use (the vector keeps its elements for reuse)
  std::size_t written = 0;    // pictures written or kept, in order, before a failure
  std::exception_ptr failure; // what stopped picture `written`
  bool done = false;          // guarded by the pool's lock
};

} // namespace

struct picture_pool {
  picture_pool(const output_options& run_files, outcome_step taken)
      : files(run_files), taken_back(std::move(taken)) {}

  const output_options& files;
  outcome_step taken_back;
  std::vector<picture_output> outputs; // one for each thread
  std::vector<picture_batch> batches;  // a ring: batch n is batches[n % size]
  // Batches handed over; batches[sent % size] is filling. Atomic, as are `retired` and the
  // batches' `left`, for an interruption to read.
  std::atomic<std::uint64_t> sent{0};
  std::uint64_t taken = 0;               // of those, batches a thread has started
  std::atomic<std::uint64_t> retired{0}; // of those, batches taken back in order
  bool closing = false;                  // no more batches come: threads end
  bool stopping = false;                 // a picture failed: threads pass over the rest
  std::mutex lock;
  std::condition_variable batch_sent;
  std::condition_variable batch_done;
  std::vector<std::thread> threads;
};

namespace {

picture_batch& batch_number(picture_pool& pool, std::uint64_t number) {
  return pool.batches[number % pool.batches.size()];
}

file_left left_of(batch_picture& copy) {
  return static_cast<file_left>(std::atomic_ref<std::uint8_t>(copy.left).load());
}

void clear_left(batch_picture& copy) {
  std::atomic_ref<std::uint8_t>(copy.left).store(0);
}

// Removes the file the picture left, if any. Async-signal-safe when `remove` is: the path is
// made in a buffer of its own.
void remove_left(const picture_batch& batch, batch_picture& copy, removal remove) {
  const file_left left = left_of(copy);
  const char* path = reinterpret_cast<const char*>(batch.bytes.data() + copy.path_at);
  if (left == file_left::named) {
    remove(path);
  } else if (left == file_left::beside) {
    char beside[noted_path_capacity + sizeof replacement_suffix];
    const std::size_t length = std::strlen(path);
    if (length < noted_path_capacity) {
      std::memcpy(beside, path, length);
      std::memcpy(beside + length, replacement_suffix, sizeof replacement_suffix);
      remove(beside);
    }
  }
}

// The pool whose files an interruption removes: there is one a run.
constinit std::atomic<picture_pool*> pool_of_run{nullptr};

// Removes every file written ahead of its turn: those of the batches sent and not yet retired.
// Runs in the interruption handler, with the main thread stopped where it was.
void remove_written_ahead(removal remove) {
  picture_pool* const pool = pool_of_run;
  if (pool == nullptr) {
    return;
  }
  for (std::uint64_t number = pool->retired; number < pool->sent; ++number) {
    picture_batch& batch = batch_number(*pool, number);
    for (std::size_t k = 0; k < batch.count; ++k) {
      remove_left(batch, batch.pictures[k], remove);
    }
  }
}

void remove_file(const char* path) {
  std::remove(path);
}

void write_batch(const output_options& files, picture_output& output, picture_batch& batch) {
  for (; batch.written < batch.count; ++batch.written) {
    batch_picture& next = batch.pictures[batch.written];
    output.written_mark = &next.left;
    try {
      next.wrote =
          write_picture_file(files, output, next.base_name, next.shown, next.rows_as_in_file);
      next.kept = output.kept;
    } catch (...) {
      batch.failure = std::current_exception();
      return;
    }
  }
}

void run_writer(picture_pool& pool, picture_output& output) {
  std::unique_lock<std::mutex> held(pool.lock);
  for (;;) {
    pool.batch_sent.wait(held, [&pool] { return pool.closing || pool.taken < pool.sent; });
    if (pool.taken == pool.sent) {
      return;
    }
    picture_batch& batch = batch_number(pool, pool.taken++);
    const bool pass_over = pool.stopping;
    held.unlock();
    if (!pass_over) {
      write_batch(pool.files, output, batch);
    }
    held.lock();
    batch.done = true;
    pool.batch_done.notify_all();
  }
}

// Copies a palette picture's rows as a bitmap lays them out, so that its writer hands the file
// one piece: the copy costs what a plain one does, and the system is spared a piece a row.
void add_rows_as_in_file(std::vector<std::uint8_t>& bytes, const picture& shown) {
  const auto row_bytes = static_cast<std::size_t>(shown.width);
  if (row_bytes == 0) {
    return; // a frame without pixels: its bitmap has no rows to lay out
  }
  const std::size_t padded = row_bytes + row_padding(row_bytes);
  std::size_t at = bytes.size();
  bytes.resize(at + padded * static_cast<std::size_t>(shown.height));
  for (std::int32_t row = shown.height - 1; row >= 0; --row, at += padded) {
    std::memcpy(bytes.data() + at, shown.pixels.bytes + static_cast<std::size_t>(row) * row_bytes,
                row_bytes);
    std::memset(bytes.data() + at + row_bytes, 0, padded - row_bytes);
  }
}

// Adds a copy of the picture to the batch being filled.
void add_copy(const output_options& files, picture_batch& batch, const std::string& base_name,
              const picture& shown) {
  if (batch.count == batch.pictures.size()) {
    batch.pictures.emplace_back();
  }
  batch_picture& copy = batch.pictures[batch.count++];
  copy.base_name = base_name;
  copy.shown = shown;
  copy.pixels_at = batch.bytes.size();
  copy.rows_as_in_file = takes_rows_as_in_file(files, shown);
  if (copy.rows_as_in_file) {
    add_rows_as_in_file(batch.bytes, shown);
  } else {
    batch.bytes.insert(batch.bytes.end(), shown.pixels.bytes,
                       shown.pixels.bytes + shown.pixels.size);
  }
  copy.palette_at = batch.bytes.size();
  if (shown.palette.bytes != nullptr) {
    batch.bytes.insert(batch.bytes.end(), shown.palette.bytes,
                       shown.palette.bytes + shown.palette.size);
  }
  copy.path_at = batch.bytes.size();
  const std::string path = files.folder + picture_name(files, base_name, shown.place);
  batch.bytes.insert(batch.bytes.end(), path.c_str(), path.c_str() + path.size() + 1);
  copy.wrote = copy.kept = false;
  copy.left = 0;
}

// The batch's bytes move no more: the pictures' views can point into them.
void point_views_into(picture_batch& batch) {
  for (std::size_t k = 0; k < batch.count; ++k) {
    batch_picture& copy = batch.pictures[k];
    copy.shown.pixels.bytes = batch.bytes.data() + copy.pixels_at;
    if (copy.shown.palette.bytes != nullptr) {
      copy.shown.palette.bytes = batch.bytes.data() + copy.palette_at;
    }
  }
}

void send_batch(picture_pool& pool) {
  picture_batch& batch = batch_number(pool, pool.sent);
  point_views_into(batch);
  {
    std::lock_guard<std::mutex> held(pool.lock);
    batch.done = false;
    ++pool.sent;
  }
  pool.batch_sent.notify_one();
}

picture_batch& wait_for(picture_pool& pool, std::uint64_t number) {
  picture_batch& batch = batch_number(pool, number);
  std::unique_lock<std::mutex> held(pool.lock);
  pool.batch_done.wait(held, [&batch] { return batch.done; });
  return batch;
}

void remove_written(picture_batch& batch, std::size_t from) {
  for (std::size_t k = from; k < batch.count; ++k) {
    remove_left(batch, batch.pictures[k], remove_file);
    clear_left(batch.pictures[k]);
  }
}

// After a failure, nothing later may be left: when every picture were written in turn, none
// after the failed one would have been. The threads pass over what they have not started.
void undo_after_failure(picture_pool& pool) {
  {
    std::lock_guard<std::mutex> held(pool.lock);
    pool.stopping = true;
  }
  for (std::uint64_t later = pool.retired + 1; later < pool.sent; ++later) {
    remove_written(wait_for(pool, later), 0);
  }
  pool.retired = pool.sent.load();
}

// Puts the batch's pictures up to `count` in place, in order, telling what each came to. A
// picture that cannot take its old file's place becomes the batch's failure, and the files
// after it are removed.
void take_back(const picture_pool& pool, picture_batch& batch, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    batch_picture& copy = batch.pictures[k];
    if (left_of(copy) == file_left::beside) {
      const char* path = reinterpret_cast<const char*>(batch.bytes.data() + copy.path_at);
      if (!replace_file(replacement_path(path), path)) {
        const int error_code = last_error_code();
        remove_written(batch, k);
        batch.written = k;
        batch.failure =
            std::make_exception_ptr(fatal_error{text::file_write_error, path, error_code});
        return;
      }
    }
    clear_left(copy);
    pool.taken_back({copy.wrote, copy.kept});
  }
}

// Takes back the oldest batch in flight, or throws the failure that stopped it.
void retire_oldest(picture_pool& pool) {
  picture_batch& batch = wait_for(pool, pool.retired);
  take_back(pool, batch, batch.written);
  if (batch.failure) {
    undo_after_failure(pool);
    batch_number(pool, pool.sent).count = 0;
    std::rethrow_exception(batch.failure);
  }
  ++pool.retired;
  batch.count = 0;
  batch.written = 0;
  batch.bytes.clear();
}

// Sends the batch being filled, first making room for it.
void dispatch(picture_pool& pool) {
  if (batch_number(pool, pool.sent).count == 0) {
    return;
  }
  if (pool.sent - pool.retired == pool.batches.size() - 1) {
    retire_oldest(pool);
  }
  send_batch(pool);
}

// Index files of one name in different folders give pictures of the same names: the later
// must replace the earlier, not be written into the same file at the same time.
bool same_file_in_flight(picture_pool& pool, const std::string& base_name,
                         const picture_place& place) {
  for (std::uint64_t number = pool.retired; number < pool.sent; ++number) {
    const picture_batch& batch = batch_number(pool, number);
    for (std::size_t k = 0; k < batch.count; ++k) {
      const picture_place& other = batch.pictures[k].shown.place;
      if (other.counter == place.counter && other.kind == place.kind &&
          batch.pictures[k].base_name == base_name) {
        return true;
      }
    }
  }
  return false;
}

} // namespace

void picture_pool_stopper::operator()(picture_pool* pool) const {
  {
    // Batches are still in flight here only when the run is ending on a failure.
    std::lock_guard<std::mutex> held(pool->lock);
    pool->closing = true;
    pool->stopping = true;
  }
  pool_of_run = nullptr;
  pool->batch_sent.notify_all();
  for (std::thread& thread : pool->threads) {
    thread.join();
  }
  delete pool;
}

running_pool start_picture_pool(const output_options& files, int writers, outcome_step taken_back) {
  running_pool pool(new picture_pool(files, std::move(taken_back)));
  pool->outputs.resize(static_cast<std::size_t>(writers));
  // Two batches a thread in flight, and one being filled.
  pool->batches.resize(2 * static_cast<std::size_t>(writers) + 1);
  for (int writer = 0; writer < writers; ++writer) {
    picture_output& output = pool->outputs[static_cast<std::size_t>(writer)];
    output.writer = writer + 1; // slot 0 is this thread's
    output.replace_later = true;
    output.buffer = zeroed_bytes(output_buffer_size);
    if (!output.buffer) {
      throw std::bad_alloc();
    }
  }
  pool_of_run = pool.get();
  note_written_ahead(remove_written_ahead);
  start_without_interruptions([&pool] {
    for (picture_output& output : pool->outputs) {
      pool->threads.emplace_back(run_writer, std::ref(*pool), std::ref(output));
    }
  });
  return pool;
}

void send_picture(picture_pool& pool, const std::string& base_name, const picture& shown) {
  if (same_file_in_flight(pool, base_name, shown.place)) {
    finish_pictures(pool);
  }
  picture_batch& filling = batch_number(pool, pool.sent);
  add_copy(pool.files, filling, base_name, shown);
  if (filling.bytes.size() >= batch_bytes) {
    dispatch(pool);
  }
}

void finish_pictures(picture_pool& pool) {
  dispatch(pool);
  while (pool.retired < pool.sent) {
    retire_oldest(pool);
  }
}

int default_picture_writers() {
  const unsigned processors = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp<unsigned>(processors, 1, most_picture_writers));
}
