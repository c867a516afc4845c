// The "Html Preview" browser: shows a file with page scripts off and every load that is not a
// local file refused, so previewing a message never runs its code or reveals the reader to a
// remote server.
#pragma once

#include <QWebEngineView>

class QWebEnginePage;
class QWebEngineProfile;

namespace qm::ui {

class PreviewView : public QWebEngineView {
    Q_OBJECT
  public:
    explicit PreviewView(QWidget* parent = nullptr);
    ~PreviewView() override;
    // A local file, or about:blank for an empty path.
    void showFile(const QString& path);

  private:
    QWebEngineProfile* profile_;
    QWebEnginePage* page_;
};

}  // namespace qm::ui
