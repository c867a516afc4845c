// "Create New HTML Page": one large field for HTML source; OK hands the text to the composer.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace qm::ui {

class HtmlPageDialog : public QDialog {
    Q_OBJECT
  public:
    explicit HtmlPageDialog(QWidget* parent = nullptr);
    QPlainTextEdit* field() const { return text_; }
    QString text() const;

  private:
    void clearText();
    QPlainTextEdit* text_;
};

}  // namespace qm::ui
