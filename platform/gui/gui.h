// The GUI thread and the ways other threads reach it. Only the GUI thread
// touches widgets; a worker thread hands it work with Post (queued, returns
// at once) or SendSync (runs it there and waits).
//
// Waits made on the GUI thread through platform::WaitServing or
// TThread::WaitForServing keep running pending SendSync work, so a worker
// that is blocked in SendSync while the GUI thread waits for it to end is
// always released: no close or shutdown can hang on it.
#pragma once

#include <functional>

class QObject;

namespace gui {

// Called on the GUI thread once the QApplication exists. Makes the calling
// thread the GUI thread and installs its wait pump. Calling it again is harmless.
void Install();
// Stops serving: pending and later SendSync calls return false without
// running their work, and Post drops its work. Called on the GUI thread
// before the QApplication goes.
void Uninstall();
bool Installed();

bool IsGuiThread();

// Queues `fn` to the GUI thread; false when the layer is not installed.
bool Post(std::function<void()> fn);
// Queues `fn` for `context` (an object of the GUI thread); dropped when the
// context is destroyed before it runs. The caller keeps the context alive
// while it posts (stop posting threads before destroying it).
bool Post(QObject* context, std::function<void()> fn);

// Runs `fn` on the GUI thread and waits for it: a direct call on the GUI
// thread itself. False when it did not run (the layer was uninstalled).
// Never call it while holding a lock that the GUI thread may take.
bool SendSync(std::function<void()> fn);

// GUI thread: runs every pending SendSync work now; the number run.
int ServeSends();

}  // namespace gui
