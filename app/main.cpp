// norvale: the table viewer. Arguments: a table path, then "/FULL" to start
// maximised without the tool bar.
#include <QStringList>

#include "app/application.h"
#include "app/main_form.h"

int main(int argc, char** argv) {
  norvale::TApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Norvale"));
  norvale::TForm1 form;
  QStringList args = app.arguments();
  args.removeFirst();
  form.HandleCommandLine(args);
  form.show();
  return app.exec();
}
