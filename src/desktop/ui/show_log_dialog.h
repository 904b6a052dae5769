#pragma once
// CShowLogDialog: the execution-log viewer. Shows the lines the agent
// collected since start-up, following the newest while the user has not
// scrolled up; closing hides it, the text stays.

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace vorlink {

class LogLineStore;

class CShowLogDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CShowLogDialog(LogLineStore& lines, QWidget* parent = nullptr);

  QString Text() const;
  bool ClearEnabled() const;
  QPlainTextEdit* text_view() const { return text_; }

 public slots:
  // Shows the store's current text. Runs on the UI thread only; workers
  // ask for it through a queued call.
  void Refresh();
  void Copy();
  void Clear();

 private:
  LogLineStore& lines_;
  QPlainTextEdit* text_ = nullptr;
  QPushButton* clear_ = nullptr;
};

}  // namespace vorlink
