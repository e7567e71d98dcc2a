#pragma once

class QCoreApplication;

namespace dupfind {

// Installs Qt's Russian translation of its own texts ("qtbase_ru" from Qt's
// translations folder) into `application`, whatever the user's locale: the
// program speaks Russian only. Returns false when it is not installed; Qt's
// texts then stay English.
bool LoadQtTranslation(QCoreApplication& application);

}  // namespace dupfind
