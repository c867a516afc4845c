#include "message/ui/preview_view.h"

#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

namespace qm::ui {

namespace {

class LocalOnly : public QWebEngineUrlRequestInterceptor {
  public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const QString scheme = info.requestUrl().scheme();
        if (scheme != "file" && scheme != "data" && scheme != "about") info.block(true);
    }
};

}  // namespace

PreviewView::PreviewView(QWidget* parent) : QWebEngineView(parent) {
    // An own off-the-record profile: its interceptor does not touch the editor's loads.
    profile_ = new QWebEngineProfile(this);
    profile_->setUrlRequestInterceptor(new LocalOnly(profile_));
    // The page must go before its profile; the destructor deletes it first.
    page_ = new QWebEnginePage(profile_);
    auto* page = page_;
    page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    page->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    setPage(page);
    setContextMenuPolicy(Qt::NoContextMenu);
}

PreviewView::~PreviewView() {
    delete page_;
}

void PreviewView::showFile(const QString& path) {
    setUrl(path.isEmpty() ? QUrl("about:blank") : QUrl::fromLocalFile(path));
}

}  // namespace qm::ui
