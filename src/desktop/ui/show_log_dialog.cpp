#include "desktop/ui/show_log_dialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "log/log_line_store.h"

namespace vorlink {

CShowLogDialog::CShowLogDialog(LogLineStore& lines, QWidget* parent) : QDialog(parent), lines_(lines) {
  setWindowTitle(tr("作業記錄檢視"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  resize(640, 380);

  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* copy = new QPushButton(tr("複製"), this);
  clear_ = new QPushButton(tr("清除記錄"), this);
  auto* close = new QPushButton(tr("關閉"), this);
  close->setDefault(true);
  connect(copy, &QPushButton::clicked, this, &CShowLogDialog::Copy);
  connect(clear_, &QPushButton::clicked, this, &CShowLogDialog::Clear);
  connect(close, &QPushButton::clicked, this, &QDialog::hide);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(copy);
  buttons->addWidget(clear_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addLayout(buttons);
  Refresh();
}

QString CShowLogDialog::Text() const { return text_->toPlainText(); }
bool CShowLogDialog::ClearEnabled() const { return clear_->isEnabled(); }

void CShowLogDialog::Refresh() {
  const std::u16string text = lines_.Text();
  // The edit shows lines; the store keeps them CR LF separated.
  QString shown = QString::fromStdU16String(text);
  shown.remove(QLatin1Char('\r'));
  if (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
  // The newest line stays in view unless the user scrolled up to read:
  // then the view stays where it was.
  QScrollBar* vertical = text_->verticalScrollBar();
  const bool following = vertical->value() >= vertical->maximum();
  const int line = vertical->value();
  const int column = text_->horizontalScrollBar()->value();
  text_->setPlainText(shown);
  vertical->setValue(following ? vertical->maximum() : line);
  text_->horizontalScrollBar()->setValue(column);
  clear_->setEnabled(!text.empty());
}

void CShowLogDialog::Copy() {
  text_->selectAll();
  text_->ensureCursorVisible();
  if (!text_->toPlainText().isEmpty()) QGuiApplication::clipboard()->setText(QString::fromStdU16String(lines_.Text()));
}

void CShowLogDialog::Clear() {
  lines_.Clear();
  Refresh();
}

}  // namespace vorlink
