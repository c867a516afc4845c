// "EML file parser": choose a saved e-mail file, take its content (the core's content step,
// message/eml_content.h) into the body field and the file list, look at a listed file in the
// preview, and hand body and names back with "Add".
//
// The output folder is emptied of the previous import when "Get Content" runs. The HTML body's
// pictures are referred to as "EmlOutput/NAME", which the editor (based on the program folder)
// shows and the send step turns back into cid: references.
#pragma once

#include <QDialog>
#include <QString>

#include "message/eml_content.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace qm::ui {

class EmlImportDialog : public QDialog {
    Q_OBJECT
  public:
    EmlImportDialog(const QString& outputFolder, QWidget* parent = nullptr);

    // Browse's answer: refused above 512,000 bytes (the source stays), else the new source.
    void chooseSource(const QString& path);
    void getContent();
    void add();
    // Valid after Add.
    const EmlImportResult& result() const { return result_; }

    QLineEdit* sourceField() const { return source_; }
    QPlainTextEdit* bodyField() const { return body_; }
    QListWidget* fileList() const { return files_; }
    QLabel* preview() const { return preview_; }
    bool bodyIsHtml() const { return bodyIsHtml_; }
    static QColor background();

  private:
    void browse();
    void showPreview();

    QString outputFolder_;
    QLineEdit* source_;
    QPlainTextEdit* body_;
    QListWidget* files_;
    QLabel* preview_;
    bool bodyIsHtml_ = false;
    EmlImportResult result_;
};

}  // namespace qm::ui
