// A 32,000-member group in the group management window, offscreen: the time from selecting the
// group until the grid's model holds every row and the view has painted, the longest event-loop
// gap while loading (how long Stop could go unanswered), and finds over the loaded group (the
// store's search alone, and the find dialog's search with its result grid painted).
//
// usage: bench_group_window [RUNS]   (default 7; medians are printed)
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "config/paths.h"
#include "groups/group_files.h"
#include "groups/ui/find_dialog.h"
#include "groups/ui/group_window.h"
#include "groups/ui/recipient_table_model.h"

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ms(qint64 ns) {
    return static_cast<double>(ns) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QApplication app(argc, argv);
    QTemporaryDir profile;
    qm::Paths paths(profile.path().toStdString());
    paths.ensureFolders();
    {
        // Realistic lines: name, address, company, city, one in ten disabled.
        std::string text;
        for (int i = 0; i < 32000; ++i) {
            text += "user" + std::to_string(i) + "@shop" + std::to_string(i % 50) +
                    ".example,User Number" + std::to_string(i) + ",5550" + std::to_string(i) +
                    ",12%2A Long Street,,Company " + std::to_string(i % 300) +
                    ",,,,Springfield,,,Country," + (i % 10 == 0 ? "D" : "E") + "\r\n";
        }
        QFile f(QString::fromStdString(qm::groupFilePath(paths, "Big")));
        f.open(QIODevice::WriteOnly);
        f.write(text.data(), static_cast<qint64>(text.size()));
    }

    qm::ui::GroupWindow window(paths);
    window.resize(1366, 768);
    window.show();
    QApplication::processEvents();

    std::vector<double> shown, gaps;
    for (int run = 0; run < runs; ++run) {
        window.selectGroup(std::nullopt);
        QApplication::processEvents();
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        QTimer beat;
        beat.setInterval(0);
        QObject::connect(&beat, &QTimer::timeout, [&] {
            qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        clock.start();
        beat.start();
        window.selectGroup(std::string("Big"));
        while (window.store().loading() || window.model()->recipientCount() < 32000)
            QApplication::processEvents();
        window.grid()->viewport()->repaint();
        shown.push_back(ms(clock.nsecsElapsed()));
        beat.stop();
        gaps.push_back(ms(longest));
    }
    std::printf(
        "load and show 32,000 rows: median %.1f ms over %d runs (longest event-loop gap "
        "%.1f ms)\n",
        median(shown), runs, median(gaps));

    struct Find {
        const char* name;
        qm::FindField field;
        qm::FindOperator op;
        const char* expression;
    } finds[] = {
        {"Email Is", qm::FindField::Email, qm::FindOperator::Is, "USER31999@shop49.example"},
        {"Email Domain Is", qm::FindField::Email, qm::FindOperator::DomainIs, "SHOP7.example"},
        {"Name Starts with", qm::FindField::Name, qm::FindOperator::StartsWith, "user number1"},
        {"Name Ends with", qm::FindField::Name, qm::FindOperator::EndsWith, "99"},
    };
    for (const auto& f : finds) {
        std::vector<double> times;
        std::vector<std::size_t> matches;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer clock;
            clock.start();
            window.store().find(f.field, f.op, f.expression, matches);
            times.push_back(ms(clock.nsecsElapsed()));
        }
        std::printf("find %-17s %6zu matches: median %.2f ms\n", f.name, matches.size(),
                    median(times));
    }

    // The dialog: search, fill the result grid and paint it.
    window.runCommand(qm::ui::GroupCommand::Find);
    qm::ui::FindDialog* dialog = window.findDialog();
    QApplication::processEvents();
    dialog->searchBy()->setCurrentIndex(0);
    dialog->operatorList()->setCurrentIndex(3);  // Domain Is
    dialog->expression()->setText("shop7.example");
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        dialog->runFind();
        dialog->results()->viewport()->repaint();
        times.push_back(ms(clock.nsecsElapsed()));
    }
    std::printf("find dialog Domain Is, %d rows shown and painted: median %.2f ms\n",
                dialog->resultModel()->recipientCount(), median(times));
    return 0;
}
