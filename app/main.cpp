// norvale: the table viewer. Arguments: a table path, then "/FULL" to start
// maximised without the tool bar.
#include <QStringList>
#include <QTimer>

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
  // scripts/screenshot.sh: picture the window once it has painted, then quit.
  const QString shot = qEnvironmentVariable("NORVALE_SCREENSHOT");
  if (!shot.isEmpty()) {
    QTimer::singleShot(800, &form, [&form, &app, shot] {
      const bool saved = form.grab().save(shot, "PNG");
      app.exit(saved ? 0 : 1);
    });
  }
  return app.exec();
}
