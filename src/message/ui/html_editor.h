// The HTML editor of the "Message" tab: a QWebEngineView whose document is in design mode. Its
// tools run as editing commands inside the page, and html() gives back the document's source
// text, which is what a run sends. Page scripts are off; the editing commands run in an isolated
// script world, so a pasted or inserted page cannot run code of its own.
//
// An untouched document gives back the text it was loaded from, byte for byte, rather than the
// engine's re-serialisation of it: the blank document must stay recognisable as an empty message,
// and an inserted page is sent as written. Once edited, the document's serialised source is given.
//
// Loads are asynchronous: loadFile() and setDocument() return at once and the document becomes
// editable when the page has loaded (loaded() is emitted then).
//
// The engine calls back its pending answers even while widgets are being torn down (from inside
// another profile's destruction, or its own page's), so an answer that arrives once the editor is
// going away is dropped rather than handed to callers whose state may already be gone.
#pragma once

#include <QString>
#include <QWebEngineView>
#include <functional>
#include <memory>
#include <optional>

namespace qm::ui {

class HtmlEditor : public QWebEngineView {
    Q_OBJECT
  public:
    explicit HtmlEditor(QWidget* parent = nullptr);
    ~HtmlEditor() override;

    void loadFile(const QString& path);
    // Replaces the document by `html`; relative references resolve against `baseFolder`.
    void setDocument(const QString& html, const QString& baseFolder);
    // `done` runs on the window's thread with the source text, or never if the editor is destroyed
    // first.
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
    QString source_;                     // the text of the last load
    std::optional<QString> loadedForm_;  // the engine's serialisation right after that load
    // False from the start of destruction on; shared with every pending engine callback.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace qm::ui
