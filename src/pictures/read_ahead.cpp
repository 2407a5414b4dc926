#include "pictures/read_ahead.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "common/system_files.hpp"
#include "pictures/picture_reader.hpp"

namespace {

// Bounds on what waits to be taken: about two records' pictures of the usual sizes.
constexpr std::size_t most_requests = 128;
constexpr std::size_t most_held_bytes = 3 * 1024 * 1024;

enum class request_state { waiting, reading, done };

struct read_request {
  std::string path;
  request_state state = request_state::waiting;
  bool read = false;
  bool abandoned = false; // the reader ran out of memory: the asking thread reads it
  picture_pixels picture;
  std::string why;
};

std::size_t bytes_of(const read_request& request) {
  return request.picture.pixels.size() + request.picture.palette.size();
}

} // namespace

struct picture_read_ahead {
  std::size_t most_pixels = 0;
  std::mutex lock;
  std::condition_variable hinted;   // a request is waiting, room was freed, or stopping
  std::condition_variable finished; // a request is done
  // In the order hinted. Readers hold the request they read, so a request dropped while read
  // stays alive until its reader is done with it.
  std::deque<std::shared_ptr<read_request>> requests;
  std::size_t held_bytes = 0; // pictures done and not yet taken or dropped
  bool stopping = false;
  std::vector<std::thread> readers;
};

namespace {

std::shared_ptr<read_request> next_waiting(picture_read_ahead& ahead) {
  if (ahead.held_bytes >= most_held_bytes) {
    return nullptr;
  }
  for (const std::shared_ptr<read_request>& request : ahead.requests) {
    if (request->state == request_state::waiting) {
      return request;
    }
  }
  return nullptr;
}

void read_requests(picture_read_ahead& ahead) {
  std::unique_lock<std::mutex> guard(ahead.lock);
  for (;;) {
    std::shared_ptr<read_request> request;
    ahead.hinted.wait(guard,
                      [&] { return ahead.stopping || (request = next_waiting(ahead)) != nullptr; });
    if (ahead.stopping) {
      return;
    }
    request->state = request_state::reading;
    guard.unlock();
    picture_pixels picture;
    std::string why;
    bool read = false;
    bool abandoned = false;
    try {
      read = read_picture_file(request->path, ahead.most_pixels, picture, why);
    } catch (...) { // out of memory: the asking thread reads it again and meets it there
      abandoned = true;
    }
    guard.lock();
    request->abandoned = abandoned;
    request->read = read;
    request->picture = std::move(picture);
    request->why = std::move(why);
    request->state = request_state::done;
    if (std::find(ahead.requests.begin(), ahead.requests.end(), request) != ahead.requests.end()) {
      ahead.held_bytes += bytes_of(*request);
    }
    ahead.finished.notify_all();
  }
}

// Drops the request at the front.
void drop_front(picture_read_ahead& ahead) {
  const std::shared_ptr<read_request>& front = ahead.requests.front();
  if (front->state == request_state::done) {
    ahead.held_bytes -= bytes_of(*front);
  }
  ahead.requests.pop_front();
}

} // namespace

void picture_read_ahead_stopper::operator()(picture_read_ahead* ahead) const {
  {
    const std::lock_guard<std::mutex> guard(ahead->lock);
    ahead->stopping = true;
  }
  ahead->hinted.notify_all();
  for (std::thread& reader : ahead->readers) {
    reader.join();
  }
  delete ahead;
}

read_ahead_threads start_read_ahead(int threads, std::size_t most_pixels) {
  read_ahead_threads ahead(new picture_read_ahead);
  ahead->most_pixels = most_pixels;
  start_without_interruptions([&ahead, threads] {
    for (int n = 0; n < threads; ++n) {
      ahead->readers.emplace_back(read_requests, std::ref(*ahead));
    }
  });
  return ahead;
}

void read_ahead_of(picture_read_ahead& ahead, const std::string& path) {
  {
    const std::lock_guard<std::mutex> guard(ahead.lock);
    if (ahead.requests.size() >= most_requests ||
        std::any_of(ahead.requests.begin(), ahead.requests.end(),
                    [&path](const auto& request) { return request->path == path; })) {
      return;
    }
    auto request = std::make_shared<read_request>();
    request->path = path;
    ahead.requests.push_back(std::move(request));
  }
  ahead.hinted.notify_one();
}

bool read_picture_from(picture_read_ahead* ahead, const std::string& path, std::size_t most_pixels,
                       picture_pixels& picture, std::string& why) {
  if (ahead != nullptr && most_pixels == ahead->most_pixels) {
    std::unique_lock<std::mutex> guard(ahead->lock);
    const auto found = std::find_if(ahead->requests.begin(), ahead->requests.end(),
                                    [&path](const auto& request) { return request->path == path; });
    if (found != ahead->requests.end()) {
      const std::shared_ptr<read_request> request = *found;
      // Those before it will not be asked for: drop them, and it too unless it is under way.
      while (ahead->requests.front() != request) {
        drop_front(*ahead);
      }
      if (request->state != request_state::waiting) {
        // Only this thread takes requests off the queue: it is still at the front when done.
        ahead->finished.wait(guard, [&] { return request->state == request_state::done; });
        drop_front(*ahead);
        ahead->hinted.notify_all();
        if (!request->abandoned) {
          picture = std::move(request->picture);
          why = std::move(request->why);
          return request->read;
        }
      } else {
        ahead->requests.pop_front();
        ahead->hinted.notify_all();
      }
    }
  }
  return read_picture_file(path, most_pixels, picture, why);
}
