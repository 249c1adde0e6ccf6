#include "app/application.h"

#include "app/ui_services.h"

namespace norvale {

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowExceptionBox(activeWindow(), std::current_exception());
    return false;
  }
}

}  // namespace norvale
