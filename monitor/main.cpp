// portio-monitor: the lamps of one port in a window: a simulated port's, or,
// for a port that goes to OLA, its eight channels as olad holds them.
//
//   portio-monitor [--port N] [--if-simulated]
//
// --port N        the port to show (default 888, 0x378); decimal or 0x..
// --if-simulated  start only if the port library would use the simulated
//                 port for it in this environment (PORTIO_BACKEND,
//                 PORTIO_DEVICE, the machine's ports); otherwise say why not
//                 and exit 0. The run command starts the monitor so.

#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <memory>
#include <string>

#include "lamp_monitor.h"
#include "module_loader.h"
#include "module_monitor.h"
#include "port_backend.h"
#include "port_chooser.h"
#include "screen_placement.h"
#include "settings.h"
#include "sim_port.h"
#include "unique_fd.h"

int main(int argc, char** argv) {
    // The run command stops the monitor with SIGTERM. Taken from a signalfd in
    // the event loop, it ends the program normally, so the watcher thread is
    // stopped and joined. Blocked before Qt makes any thread, so that no
    // thread takes them the default way. Without a signalfd (the system
    // refused one) they are unblocked again: then they end the monitor the
    // default way, which is still better than a monitor nobody can stop.
    sigset_t stops;
    sigemptyset(&stops);
    for (const int stop : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stops, stop);
    }
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    const runlight::UniqueFd stopFd(signalfd(-1, &stops, SFD_CLOEXEC));
    if (!stopFd) {
        std::fprintf(stderr, "portio-monitor: no signalfd (%s); SIGTERM ends it the default way\n",
                     std::strerror(errno));
        pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    }

    // Started alone on a Wayland desktop it opens through XWayland, as qtx
    // does, so that it can take its place beside the running light.
    runlight::ui::preferX11OnWayland();
    QApplication app(argc, argv);
    QApplication::setApplicationName("portio-monitor");
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.runlight.qtx.monitor"));
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (stopFd) {
        stopNotifier = std::make_unique<QSocketNotifier>(stopFd.get(), QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, &app,
                         &QApplication::quit);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Shows the eight lamps of a simulated parallel port, or of a port that goes to OLA.");
    parser.addHelpOption();
    const QCommandLineOption portOption("port", "The port to show (default 888).", "N", "888");
    const QCommandLineOption ifSimulated("if-simulated",
                                         "Start only if the port library would simulate the port.");
    parser.addOption(portOption);
    parser.addOption(ifSimulated);
    parser.process(app);

    bool ok = false;
    const int port = parser.value(portOption).toInt(&ok, 0);
    if (!ok || port < -32768 || port > 65535) {
        std::fprintf(stderr, "portio-monitor: --port wants an address 0..65535\n");
        return 2;
    }
    const auto address = static_cast<std::uint16_t>(port);
    const auto settings = runlight::portio::Environment::fromProcess();

    runlight::portio::PortSettings resolved;
    const auto choice = runlight::portio::chooseWithSettings(address, settings, resolved);
    if (parser.isSet(ifSimulated) && choice.kind != runlight::portio::Choice::Kind::Sim) {
        std::fprintf(stderr, "portio-monitor: %s is not simulated here (%s); not starting\n",
                     runlight::portio::portLabel(address).c_str(),
                     choice.kind == runlight::portio::Choice::Kind::Parport
                         ? ("real port " + choice.parport.device).c_str()
                     : choice.kind == runlight::portio::Choice::Kind::Module
                         ? ("back end " + resolved.text("backend")).c_str()
                         : choice.error.c_str());
        return 0;
    }

    std::unique_ptr<QWidget> monitor;
    if (choice.kind == runlight::portio::Choice::Kind::Module) {
        const auto module = runlight::portio::BackendModule::load(
            *choice.module, runlight::portio::moduleFolders());
        if (!module) {
            std::fprintf(stderr, "portio-monitor: %s: %s\n",
                         runlight::portio::portLabel(address).c_str(), module.error().c_str());
            return 1;
        }
        monitor = std::make_unique<runlight::ui::ModuleMonitor>(address, *module, resolved);
    } else {
        if (choice.kind == runlight::portio::Choice::Kind::Error) {
            // The port library writes nothing now; the simulated port shows its last byte.
            std::fprintf(stderr, "portio-monitor: %s\n", choice.error.c_str());
        }
        const auto folder = runlight::portio::simFolder(settings.runtimeDir, settings.tmpDir);
        if (!folder) {
            std::fprintf(stderr, "portio-monitor: %s\n", folder.error().c_str());
            return 1;
        }
        monitor = std::make_unique<runlight::ui::LampMonitor>(address, *folder);
    }
    // Beside the running light's main window where the screen has room for
    // both, else covering as little of it as the screen allows; whole on the
    // screen. (Where the window system places windows itself, it decides.)
    monitor->adjustSize();
    runlight::ui::placeBesideRunningLight(*monitor);
    monitor->show();
    return QApplication::exec();
}
