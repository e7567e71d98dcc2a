#pragma once

#include <stop_token>
#include <string>

#include "search/folder_walk.h"
#include "search/read_ahead_queue.h"

namespace dupfind {

// The threads of a read-ahead, each working on `queue` until its stop token
// is requested or nothing is left for it to do. Those that make calls that
// may keep them waiting on the system mark them in `mark`.

// Takes the steps of `walk` into the queue, no further ahead of the window
// than the queue has room for; first enters the folder `enter_first` of the
// folder the walk stands in, when one is named. An error of the walk ends it,
// recorded for the window to raise where the walk met it.
void WalkAhead(std::stop_token stop, ReadAheadQueue& queue, ThreadMark& mark, FolderWalk walk,
               std::string enter_first);

// Worker `index`: claims files in walk order, many at a time, opens, locks,
// reads and digests them side by side in MD5 lanes, and finishes each file's
// outcome. It never waits for a disk or a server: what it cannot open or
// read from memory it hands to the helpers, and goes on with its other files.
void WorkOnFiles(std::stop_token stop, ReadAheadQueue& queue, std::size_t index);

// Runs the workers' tasks, earliest file first, waiting as long as the system
// makes it: a task held up holds up its own file alone.
void HelpWorkers(std::stop_token stop, ReadAheadQueue& queue, ThreadMark& mark);

}  // namespace dupfind
