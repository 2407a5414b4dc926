// Where extraction sends pictures: the file writer, on this thread or the run's writer threads,
// and the lister. Both name broken frames and records on the console, which ends the run with
// status 1.
#pragma once

#include "driver/console.hpp"
#include "pictures/picture_pool.hpp"
#include "pictures/sinks.hpp"

// The file writer: an ok picture is saved as a bitmap or a PNG, here or on the run's writer
// threads; a broken frame or record is named on the console instead.
void save_picture(extraction_state& state, const picture_source& source, const picture& shown);

// The lister: one row of the listing for each picture, broken ones included.
void list_picture(extraction_state& state, const picture_source& source, const picture& shown);

// Where extraction sends pictures: to the lister when listing, else to the file writer. The
// sink refers to `source`, which must outlive it.
picture_sink extraction_sink(extraction_state& state, const picture_source& source);

// Starts the run's writer threads (state.pool), which count what became of each picture in
// `state` and print the text that waited for it. False when no thread could be started: the
// pictures are then written on this one.
bool start_writers(extraction_state& state, running_pool& pool, int writers);

// Waits for every picture sent to the writer threads; throws the first failure.
void finish_writers(extraction_state& state);
