// The View > Code Page menu: the common code pages grouped by script, an
// automatic entry (the table's own page, its .cpg, or detection) and
// "Other…" for any page the converters know.
#pragma once

#include <functional>

#include <QMenu>
#include <QString>

class QActionGroup;

namespace norvale {

// A person's name of a code page: "Cyrillic (DOS 866)", "UTF-8"; for a page
// the menu does not list, "code page N".
QString CodePageTitle(int codePage);

// The code page typed into "Other…": a number or a name such as "cp866",
// "KOI8-R" or "ISO-8859-2"; 0 when it names none.
int CodePageFromText(const QString& text);

class TCodePageMenu : public QMenu {
 public:
  // `chosen` runs with the page picked (0 for automatic, -1 for "Other…").
  TCodePageMenu(const QString& title, QWidget* parent, std::function<void(int codePage)> chosen);
  // Checks the entry of the page the table is read in; `automatic` checks
  // the automatic entry instead.
  void ShowCurrent(int codePage, bool automatic);

 private:
  QActionGroup* group_;
};

}  // namespace norvale
