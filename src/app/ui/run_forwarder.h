// The window's end of the send engine's observer. The engine calls these from its sending
// threads; each call is carried out on the window's thread, in order. Relay failures block the
// calling thread until the window has handled them, as the engine expects of that notification.
//
// When the engine lands, its observer interface is implemented by deriving from this class (or
// by a two-line adapter holding one); nothing else in the window needs to change.
#pragma once

#include <QObject>
#include <QString>

namespace qm::ui {

class MainWindow;

class RunForwarder : public QObject {
    Q_OBJECT
  public:
    explicit RunForwarder(MainWindow* window);

    void started();
    void result(const QString& thread, bool sent, const QString& group, const QString& address);
    void progressRange(int total);
    void progressStep();
    void currentGroup(const QString& group);
    void finished(int failedPercent);
    void stopped();
    void relayFailure(const QString& message);

  private:
    template <typename F>
    void onWindow(F&& f, bool wait = false);
    MainWindow* window_;
};

}  // namespace qm::ui
