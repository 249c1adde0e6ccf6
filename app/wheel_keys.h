// TWheelToKeys: the application-wide input filter that turns the mouse
// wheel into the up and down arrow keys, so a notch moves the grid's current
// record by one row instead of scrolling the view away from it.
#pragma once

#include <QObject>

namespace norvale {

class TWheelToKeys : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Wheel movement short of a notch, from fine-grained wheels and touchpads.
  int pending_ = 0;
};

}  // namespace norvale
