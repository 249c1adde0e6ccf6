// A combo box that refills its list each time the list is opened, for
// lists that follow the open table (memo fields, visible columns).
#pragma once

#include <functional>

#include <QComboBox>

namespace norvale {

class TDropDownCombo : public QComboBox {
  Q_OBJECT

 public:
  using QComboBox::QComboBox;
  std::function<void()> OnDropDown;

  void showPopup() override {
    if (OnDropDown) OnDropDown();
    QComboBox::showPopup();
  }
};

}  // namespace norvale
