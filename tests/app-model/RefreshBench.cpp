// Measures one polling pass of the model on a simulated two-fan machine with the daemon installed
// (so every pass also reads and compares the installed executable). Not a test: run it by hand,
//   app_model_bench [passes] [daemon size in MiB]
// and read the printed figures.

#include <stdlib.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "CSMC/hid.h"
#include "CSMC/sandbox_root.h"
#include "FanCore/Policy/Paths.h"
#include "Tarnwick/model/Model.h"
#include "sim/SimMachine.h"
#include "sim/SimSysfs.h"
#include "sim/SimTransport.h"

namespace {

bool write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int mebibytes = argc > 2 ? std::max(0, std::atoi(argv[2])) : 4;

    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    QDir().mkpath(root);
    ::setenv("TARNWICK_ROOT", root.toLocal8Bit().constData(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit().constData(), 1);
    SandboxRoot::reload();
    Paths::reload();
    hid_reset_services();

    SimMachine machine("mbp14-m3pro");
    smc_set_transport_factory(SimTransport::factory(machine));
    SimSysfs sysfs(root.toStdString());
    std::string error;
    if (!sysfs.prepare(machine, error) || !sysfs.update(machine, error)) {
        std::fprintf(stderr, "cannot publish the simulated machine: %s\n", error.c_str());
        return 1;
    }

    QByteArray daemon(static_cast<qsizetype>(mebibytes) * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < daemon.size(); ++i) daemon[i] = static_cast<char>(i * 7919 % 251);
    const QString bundle = dir.filePath("bundle");
    if (!write(bundle + "/tarnwickd", daemon) ||
        !write(QString::fromStdString(Paths::daemonBinary().string()), daemon) ||
        !write(QString::fromStdString(Paths::daemonUnitLink().string()), "[Unit]\n")) {
        std::fprintf(stderr, "cannot write the sandbox files\n");
        return 1;
    }

    ModelOptions options;
    options.bundleDir = bundle;
    options.startTimer = false;
    options.sensorPause = std::chrono::milliseconds(0);
    Model model(options);

    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(passes));
    for (int i = 0; i < passes; ++i) {
        const auto start = std::chrono::steady_clock::now();
        model.refresh();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double m : ms) sum += m;
    std::printf("refresh passes: %d, daemon executable: %d MiB, fans: %zu, outdated: %s\n", passes,
                mebibytes, model.fans().size(), model.helperOutdated() ? "yes" : "no");
    std::printf("per pass: mean %.3f ms, median %.3f ms, p95 %.3f ms, max %.3f ms\n",
                sum / static_cast<double>(ms.size()), ms[ms.size() / 2],
                ms[std::min(ms.size() - 1, ms.size() * 95 / 100)], ms.back());
    smc_set_transport_factory({});
    return 0;
}
