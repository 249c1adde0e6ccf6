#include "app/long_work.h"

#include <algorithm>

#include <QApplication>
#include <QProgressDialog>

#include "app/ui_services.h"
#include "dataset/dataset.h"

namespace norvale {

namespace {
// The bar counts in steps of its own, so totals past the range of int fit.
constexpr int kBarSteps = 1000;
}  // namespace

TLongWork::TLongWork(QWidget* parent, const QString& label, int64_t total)
    : dialog_(std::make_unique<QProgressDialog>(label, QStringLiteral("Cancel"), 0, kBarSteps, parent)),
      total_(total),
      next_(std::chrono::steady_clock::now()) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  dialog_->setWindowTitle(QStringLiteral("Norvale"));
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setMinimumDuration(static_cast<int>(kShowAfter.count()));
  dialog_->setAutoReset(false);
  dialog_->setAutoClose(false);
  dialog_->setMinimumWidth(360);
  dialog_->setValue(0);
  QObject::connect(dialog_.get(), &QProgressDialog::canceled, [this] { cancelled_ = true; });
}

TLongWork::~TLongWork() {
  QApplication::restoreOverrideCursor();
  dialog_->hide();
}

void TLongWork::Progress(int64_t done, int64_t total) {
  total_ = total;
  Progress(done);
}

void TLongWork::Progress(int64_t done) {
  if (std::chrono::steady_clock::now() >= next_) Serve(done);
  if (cancelled_ && cancellable_) throw EAbort();
}

void TLongWork::Uncancellable() {
  cancellable_ = false;
  dialog_->setCancelButton(nullptr);
}

void TLongWork::Serve(int64_t done) {
  const int step = total_ > 0 ? static_cast<int>(std::clamp<int64_t>(done * kBarSteps / total_, 0, kBarSteps - 1))
                              : static_cast<int>(done / 1000 % kBarSteps);
  // setValue shows the dialog once its minimum duration has passed.
  dialog_->setValue(step);
  Ui().ServeProgress(*dialog_, done);
  // Until the dialog is up, input must not reach the window the work runs
  // for; once it is, its modality keeps the window's input out.
  QCoreApplication::processEvents(dialog_->isVisible() ? QEventLoop::AllEvents
                                                       : QEventLoop::ExcludeUserInputEvents);
  if (dialog_->wasCanceled()) cancelled_ = true;
  next_ = std::chrono::steady_clock::now() + kServeEvery;
}

}  // namespace norvale
