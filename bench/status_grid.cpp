// 100,000 results into the "Send Status" grid while the window is shown, as a run delivers them:
// sending threads call the run forwarder as fast as they can, and the window's thread takes each
// call in order. A 0 ms heartbeat timer on the window's thread fires once per event-loop
// iteration; the longest gap between two beats is how long the window could not react to input or
// repaint. Offscreen.
//
// usage: bench_status_grid [RESULTS [THREADS]]   (default 100000 4)
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/desktop_core.h"
#include "app/ui/main_window.h"
#include "delivery/ui/run_forwarder.h"
#include "delivery/ui/send_status_tab.h"
#include "delivery/ui/status_model.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    const int results = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    const int threads = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QTemporaryDir profile;
    qputenv("QUILLMARK_CONFIG", (profile.path() + "/settings.ini").toUtf8());
    qputenv("QUILLMARK_HOME", (profile.path() + "/home").toUtf8());

    qm::DesktopCore core;
    qm::ui::MainWindow window(core);
    window.resize(1366, 768);
    window.show();
    auto* forwarder = new qm::ui::RunForwarder(&window, &window);
    auto* model = window.statusTab()->model();

    QElapsedTimer clock;
    qint64 lastBeat = 0, longestGap = 0, beats = 0, feedersDone = -1;
    QTimer heartbeat;
    heartbeat.setInterval(0);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastBeat);
        lastBeat = now;
        ++beats;
        if (feedersDone >= 0 && model->rowCount() == results) {
            heartbeat.stop();
            window.runStopped();
            app.quit();
        }
    });

    std::vector<std::thread> feeders;
    std::atomic<int> running{threads};
    QTimer::singleShot(200, [&] {
        // The typed phase: progress over every result, current group "<General>".
        forwarder->runStarted(static_cast<std::size_t>(results));
        clock.start();
        heartbeat.start();
        for (int t = 0; t < threads; ++t)
            feeders.emplace_back([&, t] {
                const std::string label = "Thread# " + std::to_string(t + 1);
                for (int i = t; i < results; i += threads) {
                    const bool sent = i % 10 != 0;
                    forwarder->result(qm::SendResult{t, label, sent, sent ? "Sent" : "refused",
                                                     "<General>",
                                                     "user" + std::to_string(i) + "@example.com"});
                }
                if (--running == 0)
                    QMetaObject::invokeMethod(&app, [&] { feedersDone = clock.elapsed(); });
            });
    });
    app.exec();
    for (auto& f : feeders) f.join();
    const double total = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    std::printf(
        "%d results from %d threads: all rows shown after %.0f ms (threads done after %lld "
        "ms)\n",
        results, threads, total, feedersDone);
    std::printf("event loop: %lld iterations, longest gap %.1f ms\n", beats,
                static_cast<double>(longestGap) / 1e6);
    return model->rowCount() == results ? 0 : 1;
}
