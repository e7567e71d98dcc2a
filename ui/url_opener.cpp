#include "ui/url_opener.h"

#include <QDesktopServices>

namespace dupfind {
namespace {

void OpenInBrowser(const QUrl& url) {
  QDesktopServices::openUrl(url);
}

UrlOpener& Opener() {
  static UrlOpener opener = OpenInBrowser;
  return opener;
}

}  // namespace

void OpenUrl(const QUrl& url) {
  Opener()(url);
}

void SetUrlOpener(UrlOpener opener) {
  Opener() = opener ? std::move(opener) : UrlOpener(OpenInBrowser);
}

}  // namespace dupfind
