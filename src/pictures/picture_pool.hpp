// Pictures written on worker threads: the walk decodes on its own thread and hands each ok
// picture over, copied; the workers encode and write the files. Pictures are taken back in
// the order they were sent, so the console, the messages and a failure read exactly as when
// every picture is written in turn: text said after a picture waits until that picture is
// written, and the first picture that fails ends the run as it would have then.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/picture.hpp"
#include "common/state.hpp"

// What became of a picture sent: a file was written, or one that existed was kept (-n).
struct picture_outcome {
  bool wrote = false;
  bool kept = false;
};
// Told on the sending thread, for each picture in the order they were sent.
using outcome_step = std::function<void(const picture_outcome&)>;

struct picture_pool;
struct picture_pool_stopper {
  void operator()(picture_pool* pool) const;
};
using running_pool = std::unique_ptr<picture_pool, picture_pool_stopper>;

// Starts `writers` threads (1 to most_picture_writers) writing pictures with `files`, which
// must outlive them; `taken_back` hears of each picture once it is written. Small pictures go over
// in batches of about 256 KiB; at most two batches a thread are in flight at once, and one is being
// filled.
running_pool start_picture_pool(const output_options& files, int writers, outcome_step taken_back);

// Hands a copy of the picture to the writers. When all places are taken, first waits for the
// oldest batch; if a picture of it failed, the files written after that picture are removed
// and its failure is thrown here.
void send_picture(picture_pool& pool, const std::string& base_name, const picture& shown);

// Waits for every picture sent, in order; throws the first failure as send_picture does.
void finish_pictures(picture_pool& pool);

// Threads that write pictures when -j is not given: one for each processor.
int default_picture_writers();
