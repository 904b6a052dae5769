#pragma once
// The language of the agent's windows (tray menu, viewer, About box,
// questions): English when the desktop locale prefers English, else the
// Traditional Chinese the texts are written in (for Chinese and as the
// fallback for every other language). Log lines, traces and answers never
// change with it. Used on the UI thread only.

#include <QLocale>
#include <QTranslator>

namespace vorlink {

class WindowLanguage {
 public:
  ~WindowLanguage();

  // Installs the translation `locale` asks for, replacing an earlier one;
  // returns the language the windows now use: "en" or "zh_TW". Windows
  // made afterwards show it.
  QString Use(const QLocale& locale);

 private:
  void Remove();

  QTranslator translator_;
  bool installed_ = false;
};

}  // namespace vorlink
