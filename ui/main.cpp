#include "main_form.h"
#include "placement.h"
#include "termination.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#ifdef NUBTACTILE_SIMULATED_PORT
#include "portio_sim.h"
#endif

int main(int argc, char** argv)
{
    std::srand(unsigned(std::time(nullptr)));
    // Closing the window saves the port choice, schedules the window's deletion
    // and ends the event loop with status 0; leaving the loop carries out that
    // deletion, and the application goes at the end of main.
    QApplication app(argc, argv);
#ifdef NUBTACTILE_SIMULATED_PORT
    portsim::traceDataLines();
    portsim::recordWrites(false);
#endif
    auto* window = new main_form(nullptr, nullptr, Qt::Window);
#ifdef NUBTACTILE_SIMULATED_PORT
    // A rehearsal must never be taken for a session on the cell.
    window->setWindowTitle(QStringLiteral("NUBTactile (simulated port)"));
    // The summary follows the trace lines it sums up.
    window->timingSummaryListener = [](const std::string& line) {
        std::fprintf(stderr, "%s\n", line.c_str());
    };
#endif
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(centredPosition(screen->geometry().size(), window->size()));
    // After the move, so that the box stands where the window would have.
    if (const PortRefusal* refusal = window->portRefusedAtStart()) {
        window->tellPortRefusal(*refusal);
        delete window;
        return 1;
    }
    lowerDataLinesOnTermination();
    window->setFixedSize(window->width(), window->height());
    window->show();
    return app.exec();
}
