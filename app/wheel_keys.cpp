#include "app/wheel_keys.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QWheelEvent>

namespace norvale {

namespace {
constexpr int kNotch = 120;

void SendKey(QObject* target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &release);
}
}  // namespace

bool TWheelToKeys::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Wheel || !watched->isWidgetType()) return false;
  const auto* wheel = static_cast<QWheelEvent*>(event);
  const int delta = wheel->angleDelta().y();
  // Sideways wheels keep scrolling sideways.
  if (delta == 0 && wheel->angleDelta().x() != 0) return false;
  // The wheel reaches a scroll area's viewport; its keys go to the area.
  QObject* target = watched;
  if (auto* area = qobject_cast<QAbstractScrollArea*>(watched->parent()))
    if (area->viewport() == watched) target = area;
  if (delta == 0) {
    SendKey(target, Qt::Key_Down);
    return true;
  }
  if ((pending_ > 0) != (delta > 0)) pending_ = 0;
  pending_ += delta;
  while (pending_ >= kNotch || pending_ <= -kNotch) {
    SendKey(target, pending_ > 0 ? Qt::Key_Up : Qt::Key_Down);
    pending_ += pending_ > 0 ? -kNotch : kNotch;
  }
  return true;
}

}  // namespace norvale
