// Renders the agent's windows under Qt's offscreen platform and saves them
// as PNG files for the documentation, in each window language:
//   make_screenshots OUTPUT_DIR
// writes log-viewer.png, about.png, tray-menu.png (Traditional Chinese)
// and the same with -en (English). The log viewer holds the lines of a
// real request through the agent.

#include <httplib.h>

#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QTimer>
#include <filesystem>

#include "desktop/ui/about_dialog.h"
#include "desktop/ui/show_log_dialog.h"
#include "desktop/ui/system_tray.h"
#include "desktop/ui/window_language.h"
#include "host/agent_host.h"
#include "host/headless_window.h"
#include "log/log_line_store.h"

using namespace vorlink;

namespace {

void Save(QWidget& widget, const QString& path) {
  widget.show();
  QApplication::processEvents();
  widget.grab().save(path);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString out = argc > 1 ? argv[1] : ".";
  std::filesystem::create_directories(out.toStdString());
  const auto logs = std::filesystem::temp_directory_path() / "vorlink-screenshots";

  AgentHostOptions options;
  options.files.executable = "/usr/lib/vorlink45/vorlink45";
  options.files.log_directory = logs.string();
  options.ports = {48290};
  options.install_browser_trust = false;
  options.timing.final_wait = std::chrono::milliseconds(0);
  AgentHost host(options);
  HeadlessWindow window;
  if (!host.CreateWindowSequence(window)) return 1;
  httplib::SSLClient client("127.0.0.1", 48290);
  client.enable_server_certificate_verification(false);
  client.Post("/ORVA", {{"Origin", "https://bank.example"}}, "DLLToken=1&ExecMethod=GetVersion", "text/plain");
  client.Post("/ORVA", {{"Origin", "https://bank.example"}}, "InitDLL=PKCS11", "text/plain");

  WindowLanguage language;
  for (const auto& [locale, suffix] : {std::pair{"zh_TW", ""}, std::pair{"en_US", "-en"}}) {
    language.Use(QLocale(locale));
    CShowLogDialog viewer(host.log_lines());
    viewer.resize(900, 520);
    Save(viewer, out + "/log-viewer" + suffix + ".png");

    CAboutDlg about;
    Save(about, out + "/about" + suffix + ".png");

    CSystemTray tray;
    tray.menu()->popup(QPoint(0, 0));
    QApplication::processEvents();
    tray.menu()->grab().save(out + "/tray-menu" + suffix + ".png");
    tray.menu()->hide();
  }
  host.Shutdown();
  std::filesystem::remove_all(logs);
  return 0;
}
