#include "app/code_page_menu.h"

#include <QActionGroup>

#include "dataset/dbf_table.h"

namespace norvale {
namespace {

struct TPage {
  int codePage;
  const char* name;
};

struct TScript {
  const char* title;
  std::initializer_list<TPage> pages;
};

// The pages DBF tables are found in, ANSI (Windows) first, then DOS, then ISO.
const TScript kScripts[] = {
    {"Western European",
     {{1252, "Western European (Windows 1252)"},
      {850, "Western European (DOS 850)"},
      {437, "US (DOS 437)"},
      {28591, "Western European (ISO-8859-1)"},
      {28605, "Western European (ISO-8859-15)"}}},
    {"Central European",
     {{1250, "Central European (Windows 1250)"},
      {852, "Central European (DOS 852)"},
      {28592, "Central European (ISO-8859-2)"}}},
    {"Cyrillic",
     {{1251, "Cyrillic (Windows 1251)"},
      {866, "Cyrillic (DOS 866)"},
      {20866, "Cyrillic (KOI8-R)"},
      {28595, "Cyrillic (ISO-8859-5)"}}},
    {"Greek", {{1253, "Greek (Windows 1253)"}, {737, "Greek (DOS 737)"}, {28597, "Greek (ISO-8859-7)"}}},
    {"Turkish", {{1254, "Turkish (Windows 1254)"}, {857, "Turkish (DOS 857)"}}},
    {"Baltic", {{1257, "Baltic (Windows 1257)"}, {775, "Baltic (DOS 775)"}}},
    {"Hebrew and Arabic",
     {{1255, "Hebrew (Windows 1255)"}, {862, "Hebrew (DOS 862)"}, {1256, "Arabic (Windows 1256)"}}},
    {"Asian",
     {{874, "Thai (Windows 874)"},
      {932, "Japanese (Shift-JIS)"},
      {936, "Chinese Simplified (GBK)"},
      {950, "Chinese Traditional (Big5)"},
      {949, "Korean (949)"}}},
};

}  // namespace

QString CodePageTitle(int codePage) {
  if (codePage == 65001) return QStringLiteral("UTF-8");
  for (const TScript& script : kScripts)
    for (const TPage& page : script.pages)
      if (page.codePage == codePage) return QString::fromUtf8(page.name);
  return QStringLiteral("code page %1").arg(codePage);
}

int CodePageFromText(const QString& text) { return TDbfTable::CodePageNamed(text.trimmed().toStdString()); }

TCodePageMenu::TCodePageMenu(const QString& title, QWidget* parent, std::function<void(int codePage)> chosen)
    : QMenu(title, parent), group_(new QActionGroup(this)) {
  setObjectName(QStringLiteral("ViewCodePage"));
  // Optional: a page chosen through "Other…" has no entry to check.
  group_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  auto add = [this, chosen](QMenu* menu, int codePage, const QString& caption, const QString& name) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setCheckable(true);
    action->setData(codePage);
    group_->addAction(action);
    connect(action, &QAction::triggered, this, [chosen, codePage] { chosen(codePage); });
  };
  add(this, 0, QStringLiteral("Automatic (as the table says, else detected)"), QStringLiteral("ViewCodePageAuto"));
  addSeparator();
  for (const TScript& script : kScripts) {
    QMenu* sub = addMenu(QString::fromUtf8(script.title));
    for (const TPage& page : script.pages)
      add(sub, page.codePage, QString::fromUtf8(page.name), QStringLiteral("ViewCodePage%1").arg(page.codePage));
  }
  add(this, 65001, QStringLiteral("Unicode (UTF-8)"), QStringLiteral("ViewCodePage65001"));
  addSeparator();
  QAction* other = addAction(QStringLiteral("Other…"));
  other->setObjectName(QStringLiteral("ViewCodePageOther"));
  connect(other, &QAction::triggered, this, [chosen] { chosen(-1); });
}

void TCodePageMenu::ShowCurrent(int codePage, bool automatic) {
  for (QAction* action : group_->actions()) {
    const int page = action->data().toInt();
    action->setChecked(automatic ? page == 0 : page == codePage);
  }
}

}  // namespace norvale
