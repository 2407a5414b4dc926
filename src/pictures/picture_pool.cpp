#include "pictures/picture_pool.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "common/files_in_progress.hpp"
#include "common/system_files.hpp"
#include "pictures/pictures.hpp"

namespace {

// A picture on its way to a file: a copy of its pixels and palette, since the walk goes on
// over the bytes they were seen in, and what became of it.
struct picture_job {
  std::string base_name;
  picture shown;
  std::vector<std::uint8_t> pixels;
  std::vector<std::uint8_t> palette;
  bool done = false;  // written, kept or failed; guarded by the pool's lock
  bool wrote = false; // a file was written
  bool kept = false;  // the file existed already (-n)
  std::exception_ptr failure;
};

} // namespace

struct picture_pool {
  explicit picture_pool(const extraction_state& run) : state(run) {}

  const extraction_state& state;
  std::vector<picture_output> outputs; // one for each thread
  std::vector<picture_job> jobs;       // a ring: job n is jobs[n % size]
  std::uint64_t sent = 0;              // jobs handed over
  std::uint64_t taken = 0;             // of those, jobs a thread has started
  std::uint64_t retired = 0;           // of those, jobs taken back in order
  bool closing = false;                // no more jobs come: threads end
  bool stopping = false;               // a job failed: threads pass over the rest
  std::mutex lock;
  std::condition_variable job_sent;
  std::condition_variable job_done;
  std::vector<std::thread> threads;
};

namespace {

void write_job(const extraction_state& state, picture_output& output, picture_job& job) {
  try {
    job.wrote = write_picture_file(state, output, job.base_name, job.shown);
    job.kept = output.kept;
  } catch (...) {
    job.failure = std::current_exception();
  }
}

void run_writer(picture_pool& pool, picture_output& output) {
  keep_interruptions_off_this_thread();
  std::unique_lock<std::mutex> held(pool.lock);
  for (;;) {
    pool.job_sent.wait(held, [&pool] { return pool.closing || pool.taken < pool.sent; });
    if (pool.taken == pool.sent) {
      return;
    }
    picture_job& job = pool.jobs[pool.taken++ % pool.jobs.size()];
    const bool pass_over = pool.stopping;
    held.unlock();
    if (!pass_over) {
      write_job(pool.state, output, job);
    }
    held.lock();
    job.done = true;
    pool.job_done.notify_all();
  }
}

// Makes `job` hold a copy of the picture.
void copy_into(picture_job& job, const std::string& base_name, const picture& shown) {
  job.base_name = base_name;
  job.shown = shown;
  const std::size_t pixel_bytes = shown.pixels.size;
  job.pixels.assign(shown.pixels.bytes, shown.pixels.bytes + pixel_bytes);
  job.shown.pixels = {job.pixels.data(), pixel_bytes};
  if (shown.palette.bytes != nullptr) {
    job.palette.assign(shown.palette.bytes, shown.palette.bytes + shown.palette.size);
    job.shown.palette = {job.palette.data(), job.palette.size()};
  }
  job.wrote = job.kept = false;
  job.failure = nullptr;
}

picture_job& wait_for(picture_pool& pool, std::uint64_t number) {
  picture_job& job = pool.jobs[number % pool.jobs.size()];
  std::unique_lock<std::mutex> held(pool.lock);
  pool.job_done.wait(held, [&job] { return job.done; });
  return job;
}

// After a failure, nothing later may be left: when every picture were written in turn, none
// after the failed one would have been. The threads pass over what they have not started.
void undo_jobs_after_failure(picture_pool& pool) {
  {
    std::lock_guard<std::mutex> held(pool.lock);
    pool.stopping = true;
  }
  for (std::uint64_t later = pool.retired + 1; later < pool.sent; ++later) {
    const picture_job& job = wait_for(pool, later);
    if (job.wrote) {
      std::remove(
          (pool.state.output_folder + picture_name(pool.state, job.base_name, job.shown.place))
              .c_str());
    }
  }
  pool.retired = pool.sent;
}

// Index files of one name in different folders give pictures of the same names: the later
// must replace the earlier, not be written into the same file at the same time.
bool same_file_in_flight(const picture_pool& pool, const std::string& base_name,
                         const picture_place& place) {
  for (std::uint64_t number = pool.retired; number < pool.sent; ++number) {
    const picture_job& job = pool.jobs[number % pool.jobs.size()];
    if (job.shown.place.counter == place.counter && job.shown.place.kind == place.kind &&
        job.base_name == base_name) {
      return true;
    }
  }
  return false;
}

// Takes back the oldest job in flight: counts it, prints the text that waited for it, or
// throws its failure.
void retire_oldest(extraction_state& state, picture_pool& pool) {
  picture_job& job = wait_for(pool, pool.retired);
  if (job.failure) {
    undo_jobs_after_failure(pool);
    state.held.clear();
    state.pictures_written = state.pictures_sent;
    std::rethrow_exception(job.failure);
  }
  state.kept += job.kept ? 1 : 0;
  state.pictures_written = ++pool.retired;
  print_held_text(state);
}

} // namespace

void picture_pool_stopper::operator()(picture_pool* pool) const {
  {
    std::lock_guard<std::mutex> held(pool->lock);
    pool->closing = true;
    pool->stopping = true; // reached with jobs in flight only when the run is ending on a failure
  }
  pool->job_sent.notify_all();
  for (std::thread& thread : pool->threads) {
    thread.join();
  }
  delete pool;
}

running_pool start_picture_pool(const extraction_state& state, int writers) {
  running_pool pool(new picture_pool(state));
  pool->outputs.resize(static_cast<std::size_t>(writers));
  pool->jobs.resize(2 * static_cast<std::size_t>(writers));
  for (int writer = 0; writer < writers; ++writer) {
    picture_output& output = pool->outputs[static_cast<std::size_t>(writer)];
    output.writer = writer + 1; // slot 0 is this thread's
    output.buffer = zeroed_bytes(output_buffer_size);
    if (!output.buffer) {
      throw std::bad_alloc();
    }
  }
  for (picture_output& output : pool->outputs) {
    pool->threads.emplace_back(run_writer, std::ref(*pool), std::ref(output));
  }
  return pool;
}

void send_picture(extraction_state& state, picture_pool& pool, const std::string& base_name,
                  const picture& shown) {
  while (pool.sent - pool.retired == pool.jobs.size() ||
         same_file_in_flight(pool, base_name, shown.place)) {
    retire_oldest(state, pool);
  }
  picture_job& job = pool.jobs[pool.sent % pool.jobs.size()];
  copy_into(job, base_name, shown);
  {
    std::lock_guard<std::mutex> held(pool.lock);
    job.done = false;
    state.pictures_sent = ++pool.sent;
  }
  pool.job_sent.notify_one();
}

void finish_pictures(extraction_state& state, picture_pool& pool) {
  while (pool.retired < pool.sent) {
    retire_oldest(state, pool);
  }
}

int default_picture_writers() {
  const unsigned processors = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp<unsigned>(processors, 1, most_picture_writers));
}
