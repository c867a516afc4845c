// The "Message" tab: the format switch ("Html" / "Plain Text"), the dynamic-variables check box,
// the HTML editor with its tool set, the plain-text field, and the inserted web page's path.
//
// The body a run sends is always the HTML editor's source text (html()) or the plain text; the
// composer keeps no copy of its own. It also writes the preview file and shows it in the
// "Html Preview" tab's browser (refreshPreview()).
#pragma once

#include <QWidget>
#include <functional>

class QAction;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QStackedWidget;
class QToolBar;

namespace qm::ui {

class HtmlEditor;
class PreviewView;

class Composer : public QWidget {
    Q_OBJECT
  public:
    // `programFolder` holds Startup.htm and the preview file.
    Composer(const QString& programFolder, PreviewView* preview, QWidget* parent = nullptr);

    bool isHtml() const;
    void setHtmlFormat(bool html);
    bool useVariables() const;

    // Start over: Startup.htm rewritten with the blank document and loaded, HTML format, no page.
    void newMessage();
    // Ctrl+M and the insert button.
    void insertVariable();
    // Replaces the editor's document by typed HTML ("Create New HTML Page").
    void setDocumentText(const QString& html);
    // "Insert Webpage...": loads the page and remembers its path. A generated page (made by the
    // template wizard) is sent as its file, so no token can be typed into it.
    void insertPage(const QString& path, bool generated);
    bool generatedPage() const { return generatedPage_; }
    // "Remove Web Page".
    void removePage();
    // A document that replaces the page (an imported message): the page is forgotten, its
    // preview file removed, and `html` shown with relative references against `baseFolder`.
    void replacePage(const QString& html, const QString& baseFolder);
    // The same for a plain-text body: the page is forgotten and the plain field shows `text`.
    void replacePageWithText(const QString& text);
    QString pagePath() const;
    bool pageInserted() const { return !pagePath().isEmpty(); }

    void html(std::function<void(const QString&)> done) const;
    void refreshPreview();
    // Where the preview is written: beside an inserted page, else in the program folder.
    QString previewFile() const;

    HtmlEditor* editor() const { return editor_; }
    QPlainTextEdit* plainEdit() const { return plain_; }
    QCheckBox* variablesBox() const { return variables_; }
    QRadioButton* htmlButton() const { return htmlButton_; }
    QRadioButton* plainButton() const { return plainButton_; }

  signals:
    void pageChanged();

  private:
    void addTool(const QString& text, const QString& tip, std::function<void()> run);
    void chooseFont();
    void insertLink();
    void insertImage();
    void writeStartup();
    void forgetPage();

    QString programFolder_;
    PreviewView* preview_;
    HtmlEditor* editor_;
    QPlainTextEdit* plain_;
    QStackedWidget* stack_;
    QToolBar* tools_;
    QCheckBox* variables_;
    QRadioButton* htmlButton_;
    QRadioButton* plainButton_;
    QLineEdit* page_;
    QWidget* pageRow_;
    bool generatedPage_ = false;
};

}  // namespace qm::ui
