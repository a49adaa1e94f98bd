// The parallel entry loop of the headless mode: workers, each with its own workspace, convert the
// upcoming entries into temporary files while this thread commits the results in list order with
// the very function the one-at-a-time loop uses. Only the committing thread talks to the host.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <QFileInfo>

#include "engine/job_run.h"
#include "imaging/stop_flag.h"

namespace velorin {

namespace {

struct Slot {
  bool ready = false;
  ConvertedEntry result;
};

// What the workers and the committer share; every field is guarded by mutex.
struct WorkQueue {
  std::mutex mutex;
  std::condition_variable workAvailable;  // the committer moved on, or the job stops
  std::condition_variable resultReady;
  size_t count = 0;       // entries of the job
  size_t started = 0;     // entries handed out
  size_t committed = 0;   // entries the committer has taken
  size_t aheadLimit = 0;  // how far past the committer a worker may start: bounds the memory held
  bool stop = false;
  std::vector<Slot> results;
  std::vector<bool> taken;      // handed out to a worker
  std::vector<uint64_t> sizes;  // source bytes: the likely cost of converting each entry

  // The largest entry not yet handed out among those a worker may start now, or count when there
  // is none. Large files go first so that the job does not end with one worker busy on a big file
  // while the others wait; the committer still takes the results in list order.
  size_t pick() const {
    size_t best = count;
    const size_t end = std::min(count, committed + aheadLimit);
    for (size_t i = committed; i < end; ++i)
      if (!taken[i] && (best == count || sizes[i] > sizes[best])) best = i;
    return best;
  }
};

void work(WorkQueue& queue, JobWorkspace& workspace, const std::vector<JobInput>& inputs) {
  for (;;) {
    size_t index = 0;
    {
      std::unique_lock lock(queue.mutex);
      queue.workAvailable.wait(lock, [&] {
        return queue.stop || queue.started >= queue.count || queue.pick() < queue.count;
      });
      if (queue.stop || queue.started >= queue.count) return;
      index = queue.pick();
      queue.taken[index] = true;
      ++queue.started;
    }
    ConvertedEntry result = convertEntry(workspace, inputs[index]);
    {
      std::lock_guard lock(queue.mutex);
      queue.results[index].result = std::move(result);
      queue.results[index].ready = true;
    }
    queue.resultReady.notify_all();
  }
}

void stopAndJoin(WorkQueue& queue, std::vector<std::thread>& threads) {
  {
    std::lock_guard lock(queue.mutex);
    queue.stop = true;
  }
  queue.workAvailable.notify_all();
  for (std::thread& thread : threads) thread.join();
  threads.clear();
}

}  // namespace

void runParallelLoop(JobRun& run, const std::vector<JobInput>& inputs, int workers) {
  WorkQueue queue;
  queue.count = std::min(inputs.size(), static_cast<size_t>(run.result.selected));
  queue.results.resize(queue.count);
  queue.taken.assign(queue.count, false);
  queue.sizes.resize(queue.count);
  for (size_t i = 0; i < queue.count; ++i) {
    const JobInput& input = inputs[i];
    queue.sizes[i] = input.entry ? input.entry->size : static_cast<uint64_t>(QFileInfo(input.sourcePath).size());
  }

  // The run's own workspace serves the first worker; when memory runs short, fewer workers run.
  std::vector<std::unique_ptr<JobWorkspace>> extraWorkspaces;
  std::vector<JobWorkspace*> workspaces{run.workspace.get()};
  for (int i = 1; i < workers; ++i) {
    std::unique_ptr<JobWorkspace> workspace = createJobWorkspace(run.context.settings);
    if (!workspace) break;
    prepareWorkspace(run, *workspace);
    workspaces.push_back(workspace.get());
    extraWorkspaces.push_back(std::move(workspace));
  }
  queue.aheadLimit = 2 * workspaces.size();

  std::vector<std::thread> threads;
  for (JobWorkspace* workspace : workspaces) {
    try {
      threads.emplace_back(work, std::ref(queue), std::ref(*workspace), std::cref(inputs));
    } catch (const std::system_error&) {
      break;  // the threads already started carry the job
    }
  }

  size_t index = 0;
  for (; index < queue.count; ++index) {
    run.context.host.entryStarting(inputs[index].display);
    ConvertedEntry result;
    if (threads.empty()) {
      result = convertEntry(*run.workspace, inputs[index]);
    } else {
      // A stop request comes from a signal, which cannot notify: it is looked at while waiting.
      constexpr auto kStopPoll = std::chrono::milliseconds(50);
      std::unique_lock lock(queue.mutex);
      while (!queue.results[index].ready && !conversionStopRequested())
        queue.resultReady.wait_for(lock, kStopPoll);
      if (conversionStopRequested()) break;
      result = std::move(queue.results[index].result);
      queue.results[index].ready = false;
      queue.committed = index + 1;
    }
    if (conversionStopRequested()) break;  // abandoned, with its temporary file
    queue.workAvailable.notify_all();
    commitEntry(run, inputs[index], result);
    if (confirmCancel(run)) {
      run.result.cancelled = true;
      ++index;
      break;
    }
  }
  if (conversionStopRequested()) run.result.cancelled = true;
  stopAndJoin(queue, threads);
  if (conversionStopRequested()) return;  // nothing more is committed; the slots take their files along

  // Stopped: what finished right after the last commit is committed too, in order, up to the first
  // entry that never started; the temporary files of anything later go with their slots.
  for (; index < queue.count && queue.results[index].ready; ++index) {
    commitEntry(run, inputs[index], queue.results[index].result);
    queue.results[index].ready = false;
  }
}

}  // namespace velorin
