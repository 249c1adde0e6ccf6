// TLongWork: what the window shows while a command works through a large
// table: the busy cursor at once, and from half a second on a progress
// dialog with Cancel. The work reports its progress; each report that comes
// due lets the window repaint (input reaches only the dialog) and raises
// EAbort once the person has pressed Cancel, so the work unwinds the way it
// does on any error.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include <QString>

class QProgressDialog;
class QWidget;

namespace norvale {

class TLongWork {
 public:
  // How long the busy cursor alone may stand for the work.
  static constexpr std::chrono::milliseconds kShowAfter{500};
  // How often the window is served while the work runs.
  static constexpr std::chrono::milliseconds kServeEvery{30};

  // `total` is the work's count at the end; 0 when unknown (the bar then
  // only moves).
  TLongWork(QWidget* parent, const QString& label, int64_t total);
  ~TLongWork();
  TLongWork(const TLongWork&) = delete;
  TLongWork& operator=(const TLongWork&) = delete;

  // Cheap between the moments it serves the window; raises EAbort after
  // Cancel.
  void Progress(int64_t done);
  // The same with a new total (work that learns its size as it goes).
  void Progress(int64_t done, int64_t total);
  // Past the last point where cancelling leaves things as they were: the
  // Cancel button goes, the dialog stays up.
  void Uncancellable();
  bool Cancelled() const { return cancelled_; }
  QProgressDialog* Dialog() const { return dialog_.get(); }

 private:
  void Serve(int64_t done);

  std::unique_ptr<QProgressDialog> dialog_;
  int64_t total_;
  // When the window is served next; the first report serves it at once.
  std::chrono::steady_clock::time_point next_;
  bool cancelled_ = false;
  bool cancellable_ = true;
};

}  // namespace norvale
