// SPDX-License-Identifier: GPL-3.0-or-later
// qinghe-bench [SCENARIO]: runs every scenario, or the one named.
#include "bench/Bench.h"
#include "formats/graphics/Fonts.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <map>
#include <string>

namespace bench {

namespace {
std::map<std::string, Scenario>& scenarios()
{
    static std::map<std::string, Scenario> all;
    return all;
}
} // namespace

bool registerScenario(const char* name, Scenario scenario)
{
    scenarios()[name] = std::move(scenario);
    return true;
}

void report(const char* scenario, const char* figure, double value, const char* unit)
{
    std::printf("%s.%s: %.2f %s\n", scenario, figure, value, unit);
    std::fflush(stdout);
}

double nowMs()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(timer.nsecsElapsed()) / 1e6;
}

double heapMb()
{
    const auto info = mallinfo2(); // large blocks are mapped apart from the arena
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

double peakRssMb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
    }
    return 0;
}

} // namespace bench

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installFontSubstitutes();

    const QStringList args = app.arguments().mid(1);
    auto& all = bench::scenarios();
    if (!args.isEmpty() && !all.count(args[0].toStdString())) {
        std::fprintf(stderr, "unknown scenario %s; known:", qPrintable(args[0]));
        for (const auto& [name, scenario] : all)
            std::fprintf(stderr, " %s", name.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    for (const auto& [name, scenario] : all) {
        if (args.isEmpty() || args[0].toStdString() == name)
            scenario();
    }
    return 0;
}
