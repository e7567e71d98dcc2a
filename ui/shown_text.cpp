#include "ui/shown_text.h"

#include <QFile>

namespace dupfind {

QString ShownText(const std::string& bytes) {
  return QFile::decodeName(
      QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string PathBytes(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

}  // namespace dupfind
