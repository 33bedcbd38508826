#include "main_form.h"
#include "placement.h"
#include "termination.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#ifdef NUBTACTILE_SIMULATED_PORT
#include "simulated_lab.h"
#include "synchronisation.h"

#include <QStringList>

#include <memory>

namespace
{

// Reads "--pulse-every MS" and "--pulse-pin PIN"; false, with the reason
// on standard error, for anything else.
bool readRehearsalOptions(QStringList arguments, std::uint32_t& pulseEvery, int& pulsePin)
{
    arguments.removeFirst();
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        const QString& option = arguments[i];
        bool valid = i + 1 < arguments.size();
        const uint value = valid ? arguments[i + 1].toUInt(&valid) : 0;
        if (option == QLatin1String("--pulse-every") && valid &&
            value >= 2 * SimulatedLab::PULSE_WIDTH_MS) {
            pulseEvery = value;
        } else if (option == QLatin1String("--pulse-pin") && valid &&
                   Synchronisation::isInputPin(int(value))) {
            pulsePin = int(value);
        } else {
            std::fprintf(stderr,
                         "%s: unknown option or value: %s\n"
                         "usage: nubtactile-sim [--pulse-every MS (20 or more)] "
                         "[--pulse-pin 10|11|12|13|15]\n",
                         qPrintable(QCoreApplication::applicationName()), qPrintable(option));
            return false;
        }
    }
    return true;
}

} // namespace
#endif

int main(int argc, char** argv)
{
    std::srand(unsigned(std::time(nullptr)));
    // Closing the window saves the port choice, schedules the window's deletion
    // and ends the event loop with status 0; leaving the loop carries out that
    // deletion, and the application goes at the end of main.
    QApplication app(argc, argv);
#ifdef NUBTACTILE_SIMULATED_PORT
    std::uint32_t pulseEvery = 0;
    int pulsePin = 10;
    if (!readRehearsalOptions(QCoreApplication::arguments(), pulseEvery, pulsePin))
        return 2;
    const auto lab = std::make_unique<SimulatedLab>(pulseEvery, pulsePin);
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
