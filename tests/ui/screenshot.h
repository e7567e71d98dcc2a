#pragma once

// Pictures of the windows for people to look at, not checks: saved beside the
// tests' build, or into the folder that DUPFIND_SCREENSHOTS names.

#include <QImage>
#include <QTest>
#include <QWidget>

inline void SaveScreenshot(QWidget& window, const char* name) {
  QString folder = qEnvironmentVariable("DUPFIND_SCREENSHOTS");
  if (folder.isEmpty()) folder = QStringLiteral(DUPFIND_ARTEFACT_DIR);
  const QString path = folder + "/" + QString::fromLatin1(name);
  QVERIFY2(window.grab().save(path), qPrintable(path));
  QCOMPARE(QImage(path).size(), window.size() * window.devicePixelRatio());
}
