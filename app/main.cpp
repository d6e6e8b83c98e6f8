// ostrel-bkf-repair: the desktop program.
//
//   ostrel-bkf-repair                       the main window, maximised
//   ostrel-bkf-repair FILE.bkf              ... and Open with that file (the
//                                           Recovery Selection dialog still asks)
//   ostrel-bkf-repair FILE.KVSNAPSHOT       ... and load that recovery snapshot
//   ostrel-bkf-repair --screenshot F.png [--size 1280x800]
//                                           draws the main window into F.png and ends
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/app_state.h"
#include "app/look.h"
#include "app/main_frame.h"
#include "app/prompts.h"
#include "app/splash_wnd.h"
#include "app/start_up.h"
#include "preview/browser_view.h"
#include "version.h"

namespace {

bool CanConnect(const std::string& path, bool abstract) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof(address.sun_path)) {
    ::close(fd);
    return false;
  }
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}

// Qt ends the process with a core dump when it cannot reach a display; look
// first, so that the user gets one line instead. Only a local X display is
// actually tried; a remote one or a Wayland socket is left to Qt.
bool DisplayReachable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string chosen = platform != nullptr ? platform : "";
  const bool wantsXcb = chosen.empty() || chosen.rfind("xcb", 0) == 0;
  const bool wantsWayland = chosen.empty() || chosen.rfind("wayland", 0) == 0;
  if (!wantsXcb && !wantsWayland) return true;  // offscreen, vnc, ...

  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wantsWayland && wayland != nullptr && *wayland != '\0') return true;
  if (!wantsXcb) return false;

  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  const std::string name = display;
  const std::size_t colon = name.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = name.substr(0, colon);
  if (!host.empty() && host != "unix") return true;
  const std::string number = name.substr(colon + 1, name.find('.', colon) - colon - 1);
  const std::string socket = "/tmp/.X11-unix/X" + number;
  return CanConnect(socket, true) || CanConnect(socket, false);
}

bool AsksForHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version") return true;
  }
  return false;
}

void DescribeOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription(QStringLiteral("Recovers files from damaged BKF backups."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption({QStringLiteral("screenshot"), QStringLiteral("Draw the main window into <file> (PNG) and end."),
                    QStringLiteral("file")});
  parser.addOption({QStringLiteral("size"), QStringLiteral("Window size for --screenshot, e.g. 1280x800."),
                    QStringLiteral("WxH"), QStringLiteral("1280x800")});
  parser.addPositionalArgument(QStringLiteral("file"),
                               QStringLiteral("A BKF file to open, or a recovery snapshot (.KVSNAPSHOT) to load."),
                               QStringLiteral("[file]"));
}

void Identify() {
  QCoreApplication::setApplicationName(QStringLiteral("ostrel-bkf-repair"));
  QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForHelpOrVersion(argc, argv)) {  // needs no display
    QCoreApplication application(argc, argv);
    Identify();
    QCommandLineParser parser;
    DescribeOptions(parser);
    parser.process(application);
    return 0;
  }
  if (!DisplayReachable()) {
    std::fprintf(stderr,
                 "ostrel-bkf-repair: no display to show the window on (set DISPLAY or WAYLAND_DISPLAY, "
                 "or run it under xvfb-run)\n");
    return 1;
  }

  QApplication application(argc, argv);
  Identify();
  QGuiApplication::setDesktopFileName(QStringLiteral("ostrel-bkf-repair"));

  QCommandLineParser parser;
  DescribeOptions(parser);
  parser.process(application);
  const bool takeScreenshot = parser.isSet(QStringLiteral("screenshot"));
  const QStringList edges = parser.value(QStringLiteral("size")).split(QLatin1Char('x'));
  const int width = edges.value(0).toInt();
  const int height = edges.value(1).toInt();
  if (takeScreenshot && (edges.size() != 2 || width < 320 || height < 240)) {
    std::fprintf(stderr, "ostrel-bkf-repair: --size wants WIDTHxHEIGHT, e.g. 1280x800\n");
    return 2;
  }

  ostrel::app::ApplyBlackLook(application);
  ostrel::app::QtPrompts prompts;
  // One instance per machine; a picture for the documentation is no
  // instance.
  ostrel::app::InstanceLock instance;
  if (!takeScreenshot && ostrel::app::RefuseSecondInstance(instance, prompts)) return 1;
  ostrel::app::CKorvaneBKFFileRepProjApp state(prompts);
  ostrel::app::CMainFrame frame(state);

  if (!takeScreenshot) {
    ostrel::app::CKorvaneSplashWnd::Show(&frame);
    frame.showMaximized();
    // While the splash picture stands still, the web preview's engine starts.
    QTimer::singleShot(ostrel::app::kSplashFadeInMs + 100, &frame, [] { ostrel::preview::StartBrowserEngine(); });
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty()) {
      // Once the window is up, as if the file had been picked in a dialog.
      const QString file = QFileInfo(files.first()).absoluteFilePath();
      QTimer::singleShot(0, &frame, [&frame, file] {
        if (file.endsWith(QStringLiteral(".KVSNAPSHOT"), Qt::CaseInsensitive)) {
          frame.LoadSnapshotPath(file);
        } else {
          frame.OpenBkfPath(file);
        }
      });
    }
    return application.exec();
  }

  frame.resize(width, height);
  frame.show();
  const QString file = parser.value(QStringLiteral("screenshot"));
  int status = 0;
  QTimer::singleShot(600, &frame, [&] {
    if (!frame.grab().save(file, "PNG")) {
      std::fprintf(stderr, "ostrel-bkf-repair: cannot write %s\n", qPrintable(file));
      status = 1;
    }
    // Ends without closing the window: no question, no web page.
    QCoreApplication::exit(status);
  });
  return application.exec();
}
