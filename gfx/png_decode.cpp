// gfx/png_decode.cpp: the list loader, LoadBitmapsPNG: a list of PNG files
// read on the main thread and decoded on a small pool of worker threads,
// finished on the main thread in list order.
//
// The main thread reads every file's bytes first (the file system is not
// thread-safe), handing each file to the pool as soon as its bytes are in;
// the workers take the files in list order and only decode from memory. The
// main thread then waits for each file in turn and finishes it: prints its
// lines, creates its bitmap and texture. So textures get their ids in list
// order, and standard output reads as if every file had been loaded by
// LoadBitmapPNG one after the other.
//
// The file system prints a line or two as it opens each file ("found file at
// offset: N"), well before that file's turn comes. The read holds those lines
// in the file's record (core's _dbg_holdlines), and the finish prints them
// with the rest of that file's lines. Standard output itself is never
// redirected: closed, full or a broken pipe, it is only ever written to.
//
// Terms (image, bitmap, resource image): see docs/ARCHITECTURE.md#glossary.
// Here, a job is one file of the list, an s_pngload going through the
// steps of gfx/png_load.h; it is handed over once its bytes are read and done
// once decoded.
//
// The loader comes in two halves (StartBitmapsPNG, FinishBitmapsPNG) so that
// the show's start-up can read its images before it opens the window and
// have them decoded while the window, the sound and the music come up.
//
// Threads: the loader runs on the main thread (GL context); its workers
// run gfx_pngdecode only, and take and report jobs under the queue's lock.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "gfx/gfx.h"
#include "gfx/png_load.h"

// ---- Constants ---------------------------------------------------------------------
namespace {
constexpr unsigned kMaxWorkers = 8;  // threads, whatever the machine has

// ---- Types -------------------------------------------------------------------------
// The jobs shared by the main thread and the workers; every field is guarded by lock.
struct s_decodequeue {
  std::mutex lock;
  std::condition_variable handedover;  // a job's bytes are in
  std::condition_variable decoded;     // a job is done
  int count = 0;                       // jobs in the list
  int ready = 0;                       // jobs [0, ready) are handed over
  int next = 0;                        // the next job a worker takes
  std::vector<char> done;              // per job: decoded
};

// ---- Internal functions -------------------------------------------------------------
// Worker thread: decodes jobs in list order until none is left to take.
void DecodeJobs(s_decodequeue* queue, s_pngload* loads) {
  std::unique_lock<std::mutex> hold(queue->lock);
  for (;;) {
    queue->handedover.wait(hold, [queue] { return queue->next < queue->ready || queue->next >= queue->count; });
    if (queue->next >= queue->count) return;
    const int job = queue->next++;
    hold.unlock();
    gfx_pngdecode(&loads[job]);
    hold.lock();
    queue->done[static_cast<size_t>(job)] = 1;
    queue->decoded.notify_all();
  }
}

std::vector<std::thread> StartWorkers(s_decodequeue* queue, s_pngload* loads) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned wanted = std::min({cores, kMaxWorkers, static_cast<unsigned>(queue->count)});
  std::vector<std::thread> workers;
#ifdef __EMSCRIPTEN__
  return workers;  // built without threads: the main thread decodes
#endif
  for (unsigned k = 0; k < wanted; k++) {
    try {
      workers.emplace_back(DecodeJobs, queue, loads);
    } catch (const std::system_error&) {
      break;  // fewer workers; with none the main thread decodes
    }
  }
  return workers;
}

}  // namespace

// A list on its way: the jobs (each with its held lines) and the workers decoding them.
struct s_pngbatch {
  std::vector<s_pngload> loads;
  s_decodequeue queue;
  std::vector<std::thread> workers;
};

// ---- Public functions ------------------------------------------------------------------
s_pngbatch* StartBitmapsPNG(const char* const* filenames, int count) {
  if (count <= 0) return nullptr;
  s_pngbatch* batch = new s_pngbatch;
  batch->loads.resize(static_cast<size_t>(count));
  s_decodequeue& queue = batch->queue;
  queue.count = count;
  queue.done.assign(static_cast<size_t>(count), 0);
  batch->workers = StartWorkers(&queue, batch->loads.data());

  for (int k = 0; k < count; k++) {
    gfx_pngread(&batch->loads[static_cast<size_t>(k)], filenames[k]);
    {
      std::lock_guard<std::mutex> hold(queue.lock);
      queue.ready = k + 1;
    }
    queue.handedover.notify_one();
  }
  // Every job is handed over: wake every worker still waiting, so that each
  // sees that nothing is left to take and ends. One woken worker per job is
  // not enough: a worker that slept through the last handover while another
  // took the last job would otherwise wait forever, and the join with it.
  queue.handedover.notify_all();
  return batch;
}

void FinishBitmapsPNG(s_pngbatch* batch, s_bitmap* const* bitmaps, void (*loaded)(int index)) {
  if (!batch) return;
  s_decodequeue& queue = batch->queue;
  for (int k = 0; k < queue.count; k++) {
    s_pngload& load = batch->loads[static_cast<size_t>(k)];
    if (batch->workers.empty()) {
      gfx_pngdecode(&load);
    } else {
      std::unique_lock<std::mutex> hold(queue.lock);
      queue.decoded.wait(hold, [&queue, k] { return queue.done[static_cast<size_t>(k)] != 0; });
    }
    gfx_pngfinish(&load, bitmaps[k]);
    if (loaded) loaded(k);
  }
  for (std::thread& worker : batch->workers) worker.join();
  delete batch;
}

void DropBitmapsPNG(s_pngbatch* batch) {
  if (!batch) return;
  {
    std::lock_guard<std::mutex> hold(batch->queue.lock);
    batch->queue.next = batch->queue.count;  // nothing more to take
  }
  batch->queue.handedover.notify_all();
  for (std::thread& worker : batch->workers) worker.join();
  for (s_pngload& load : batch->loads) {
    free(load.pixels);
    free(load.file);
  }
  delete batch;
}

void LoadBitmapsPNG(const char* const* filenames, s_bitmap* const* bitmaps, int count, void (*loaded)(int index)) {
  FinishBitmapsPNG(StartBitmapsPNG(filenames, count), bitmaps, loaded);
}
