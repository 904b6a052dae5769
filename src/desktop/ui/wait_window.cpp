#include "desktop/ui/wait_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace vorlink {

WaitWindow::WaitWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("Please wait"));
  setModal(false);
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  message_->setMinimumWidth(280);
  auto* busy = new QProgressBar(this);
  busy->setRange(0, 0);  // no known end: the bar moves to and fro
  busy->setTextVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message_);
  layout->addWidget(busy);
}

void WaitWindow::SetMessage(const QString& message) { message_->setText(message); }

QString WaitWindow::Message() const { return message_->text(); }

void WaitWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace vorlink
