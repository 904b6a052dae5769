#pragma once
// The small "please wait" window a component shows during long work: a
// message and a busy indicator, on top of other windows. Only the
// component closes it; Escape and the window's close button do nothing.

#include <QDialog>

class QLabel;

namespace vorlink {

class WaitWindow : public QDialog {
 public:
  explicit WaitWindow(QWidget* parent = nullptr);

  void SetMessage(const QString& message);
  QString Message() const;

 protected:
  void reject() override {}
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* message_ = nullptr;
};

}  // namespace vorlink
