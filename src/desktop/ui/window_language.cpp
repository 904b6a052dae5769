#include "desktop/ui/window_language.h"

#include <QCoreApplication>

namespace vorlink {

WindowLanguage::~WindowLanguage() { Remove(); }

void WindowLanguage::Remove() {
  if (installed_) QCoreApplication::removeTranslator(&translator_);
  installed_ = false;
}

QString WindowLanguage::Use(const QLocale& locale) {
  Remove();
  // The first Chinese or English language in the desktop's order decides:
  // a Chinese desktop that lists English second keeps Chinese.
  for (const QString& name : locale.uiLanguages()) {
    const QLocale::Language language = QLocale(name).language();
    if (language == QLocale::Chinese) break;
    if (language == QLocale::English) {
      // Compiled in at build time from src/desktop/translations/.
      installed_ = translator_.load(QStringLiteral(":/i18n/vorlink45_en.qm")) &&
                   QCoreApplication::installTranslator(&translator_);
      break;
    }
  }
  return installed_ ? QStringLiteral("en") : QStringLiteral("zh_TW");
}

}  // namespace vorlink
