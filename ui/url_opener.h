#pragma once

#include <QUrl>

#include <functional>

namespace dupfind {

// Opens `url` in the desktop's browser. Tests install their own opener to see
// the address without starting a browser; an empty function restores the
// desktop's.
void OpenUrl(const QUrl& url);

using UrlOpener = std::function<void(const QUrl& url)>;
void SetUrlOpener(UrlOpener opener);

}  // namespace dupfind
