// The HTML editor of the "Message" tab: a QWebEngineView whose document is in design mode. Its
// tools run as editing commands inside the page, and html() gives back the document's source
// text, which is what a run sends. Page scripts are off; the editing commands run in an isolated
// script world, so a pasted or inserted page cannot run code of its own.
//
// Loads are asynchronous: loadFile() and setDocument() return at once and the document becomes
// editable when the page has loaded (loaded() is emitted then).
#pragma once

#include <QWebEngineView>
#include <functional>

namespace qm::ui {

class HtmlEditor : public QWebEngineView {
    Q_OBJECT
  public:
    explicit HtmlEditor(QWidget* parent = nullptr);

    void loadFile(const QString& path);
    // Replaces the document by `html`; relative references resolve against `baseFolder`.
    void setDocument(const QString& html, const QString& baseFolder);
    void html(std::function<void(const QString&)> done) const;
    // document.execCommand(command, false, value).
    void exec(const QString& command, const QString& value = {});
    // Inserts `text` at the caret, replacing the selection.
    void insertText(const QString& text);
    bool isReady() const { return ready_; }

  signals:
    void loaded();

  private:
    bool ready_ = false;
};

}  // namespace qm::ui
