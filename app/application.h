// TApplication: the Qt application with the standard error box behind
// every event, so that an error no command caught is shown and the program
// carries on.
#pragma once

#include <QApplication>

namespace norvale {

class TApplication : public QApplication {
  Q_OBJECT

 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace norvale
