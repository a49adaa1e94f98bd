// A deliberate data race between a worker thread and code the event loop runs, as in the
// folder tree. Built only for ThreadSanitizer: its options must still report this one, or a
// clean run of the tree's tests proves nothing.
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int shared = 0;  // written by both threads with no lock: the race
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 100000 && !done; ++i) shared = i;
  });
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    shared += 1;
    static int ticks = 0;
    if (++ticks == 20) app.quit();
  });
  tick.start(1);
  const int rc = app.exec();
  done = true;
  worker.join();
  return rc + (shared < 0 ? 1 : 0);
}
