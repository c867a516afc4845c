#include "delivery/ui/sender_auth_box.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <thread>

#include "common/ui/text.h"
#include "delivery/dns_resolver.h"
#include "delivery/domain_check.h"

namespace qm::ui {

SenderAuthBox::SenderAuthBox(QWidget* parent) : QGroupBox("Sender Authentication", parent) {
    domain_ = new QLineEdit;
    domain_->setPlaceholderText("empty: messages are not signed");
    selector_ = new QLineEdit;
    keyFile_ = new QLineEdit;
    keyFile_->setPlaceholderText("PEM file, mode 0600");
    algorithm_ = new QComboBox;
    algorithm_->addItem("RSA-SHA256", static_cast<int>(DkimAlgorithm::Rsa));
    algorithm_->addItem("Ed25519-SHA256", static_cast<int>(DkimAlgorithm::Ed25519));
    warnings_ = new QLabel;
    warnings_->setWordWrap(true);
    warnings_->hide();
    auto* form = new QFormLayout(this);
    form->addRow("DKIM Domain:", domain_);
    form->addRow("Selector:", selector_);
    form->addRow("Private Key:", keyFile_);
    form->addRow("Algorithm:", algorithm_);
    form->addRow(warnings_);
}

void SenderAuthBox::load(const DkimSettings& s) {
    domain_->setText(toScreen(s.domain));
    selector_->setText(toScreen(s.selector));
    keyFile_->setText(toScreen(s.keyFile));
    algorithm_->setCurrentIndex(algorithm_->findData(static_cast<int>(s.algorithm)));
}

DkimSettings SenderAuthBox::settings() const {
    DkimSettings s;
    s.domain = fromScreen(domain_->text().trimmed());
    s.selector = fromScreen(selector_->text().trimmed());
    s.keyFile = fromScreen(keyFile_->text());
    s.algorithm = static_cast<DkimAlgorithm>(algorithm_->currentData().toInt());
    return s;
}

void SenderAuthBox::checkSenderDomain(const std::string& domain) {
    const int serial = ++checkSerial_;
    if (domain.empty()) {
        warnings_->clear();
        warnings_->hide();
        return;
    }
    std::string selector = settings().domain == domain ? settings().selector : std::string();
    QPointer<SenderAuthBox> self(this);
    // DNS may take seconds: the window never waits for it. Only the latest check is shown.
    std::thread([self, serial, domain, selector] {
        DnsResolver resolver;
        std::vector<DomainCheckLine> lines = checkDomain(resolver, domain, selector);
        std::string text;
        for (const auto& l : lines) {
            if (l.verdict == CheckVerdict::Pass) continue;
            if (!text.empty()) text += '\n';
            text += formatCheckLine(l);
        }
        QMetaObject::invokeMethod(qApp, [self, serial, text] {
            if (!self || serial != self->checkSerial_) return;
            self->warnings_->setText(toScreen(text));
            self->warnings_->setVisible(!text.empty());
            emit self->domainChecked(toScreen(text));
        });
    }).detach();
}

}  // namespace qm::ui
