#include "message/ui/html_editor.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>

#include "common/ui/text.h"

namespace qm::ui {

namespace {

QString jsString(const QString& text) {
    // A JSON string is a valid JavaScript string literal.
    QString quoted = QString::fromUtf8(
        QJsonDocument::fromVariant(QVariantList{text}).toJson(QJsonDocument::Compact));
    return quoted.mid(1, quoted.size() - 2);
}

}  // namespace

HtmlEditor::HtmlEditor(QWidget* parent) : QWebEngineView(parent) {
    settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(this, &QWebEngineView::loadStarted, this, [this] {
        ready_ = false;
        loadedForm_.reset();
    });
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) {
        page()->runJavaScript("document.designMode = 'on';", QWebEngineScript::ApplicationWorld,
                              [this, alive = alive_](const QVariant&) {
                                  if (!*alive) return;
                                  page()->toHtml([this, alive](const QString& form) {
                                      if (!*alive) return;
                                      loadedForm_ = form;
                                      ready_ = true;
                                      emit loaded();
                                  });
                              });
    });
}

HtmlEditor::~HtmlEditor() {
    *alive_ = false;
}

void HtmlEditor::loadFile(const QString& path) {
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    source_ = toScreen(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    setUrl(QUrl::fromLocalFile(path));
}

void HtmlEditor::setDocument(const QString& html, const QString& baseFolder) {
    source_ = html;
    QWebEngineView::setHtml(html, QUrl::fromLocalFile(baseFolder + "/"));
}

void HtmlEditor::html(std::function<void(const QString&)> done) const {
    page()->toHtml([this, done = std::move(done), alive = alive_](const QString& text) {
        if (!*alive) return;
        done(loadedForm_ && text == *loadedForm_ ? source_ : text);
    });
}

void HtmlEditor::exec(const QString& command, const QString& value) {
    // Before the user has clicked into the page there is no caret; commands then act at the end
    // of the body instead of doing nothing.
    page()->runJavaScript(QString("(function() {"
                                  "  var s = window.getSelection();"
                                  "  if (!s.rangeCount || !document.body.contains(s.anchorNode)) {"
                                  "    var r = document.createRange();"
                                  "    r.selectNodeContents(document.body);"
                                  "    r.collapse(false);"
                                  "    s.removeAllRanges();"
                                  "    s.addRange(r);"
                                  "  }"
                                  "  document.execCommand(%1, false, %2);"
                                  "})();")
                              .arg(jsString(command), jsString(value)),
                          QWebEngineScript::ApplicationWorld);
}

void HtmlEditor::insertText(const QString& text) {
    setFocus();
    exec("insertText", text);
}

}  // namespace qm::ui
