// Keeps a GUI test away from the user's own files: the system temporary path
// and the runtime folder (and with them the preview folder) and the settings
// store point into a fresh folder for the whole test program. Call once before anything reads either,
// e.g. first thing in initTestCase().
#pragma once

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

namespace ostrel::testing {

class PrivateEnvironment {
 public:
  PrivateEnvironment() {
    temp_.setAutoRemove(true);
    qputenv("TMPDIR", QFile::encodeName(Path() + QStringLiteral("/tmp")));
    QDir().mkpath(Path() + QStringLiteral("/tmp"));
    // The preview's per-user place, too, stays inside.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Path() + QStringLiteral("/run")));
    QDir().mkpath(Path() + QStringLiteral("/run"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Path() + QStringLiteral("/config"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Path() + QStringLiteral("/config"));
  }
  bool IsValid() const { return temp_.isValid(); }
  QString Path() const { return temp_.path(); }

 private:
  QTemporaryDir temp_;
};

}  // namespace ostrel::testing
