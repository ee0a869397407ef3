#include "ui/help.h"

#include <QCursor>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/user_dialogs.h"

// The topics are compiled into the program's library; a static library needs its resources
// registered by hand.
static void RegisterHelpTopics() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(help);
    return true;
  }();
  (void)registered;
}

namespace calvex::ui {

HelpSystem::HelpSystem(QObject* parent) : QObject(parent) {}

HelpSystem::~HelpSystem() {
  delete window_;
}

QString HelpSystem::TopicHtml(int context) {
  RegisterHelpTopics();
  QFile file(QStringLiteral(":/help/%1.html").arg(context));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

void HelpSystem::EnsureWindow() {
  if (window_) return;
  window_ = new QDialog(nullptr, Qt::Window);
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  window_->resize(520, 420);
  browser_ = new QTextBrowser(window_);
  browser_->setOpenLinks(false);
  // Links between topics are "topic:NNN".
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
    if (url.scheme() == QLatin1String("topic")) ShowTopic(url.path().toInt());
  });
  auto* layout = new QVBoxLayout(window_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
}

void HelpSystem::ShowTopic(int context, QWidget* /*near*/) {
  lastContext_ = context;
  lastWasPopup_ = false;
  EnsureWindow();
  QString html = TopicHtml(context);
  if (html.isEmpty()) html = TopicHtml(kHelpContents);
  window_->setWindowTitle(ApplicationTitle() + QStringLiteral(" Help"));
  browser_->setHtml(html);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void HelpSystem::ShowPopup(int context) {
  lastContext_ = context;
  lastWasPopup_ = true;
  auto* popup = new QLabel(nullptr, Qt::Popup);
  popup->setAttribute(Qt::WA_DeleteOnClose);
  popup->setWordWrap(true);
  popup->setFixedWidth(280);
  popup->setMargin(8);
  popup->setFrameStyle(QFrame::Box | QFrame::Plain);
  popup->setStyleSheet(QStringLiteral("QLabel { background: #ffffe0; color: black; }"));
  popup->setText(TopicHtml(context));
  popup->adjustSize();
  popup->move(QCursor::pos() + QPoint(8, 8));
  popup->show();
}

void HelpSystem::ShowText(const QString& title, const QString& text) {
  EnsureWindow();
  window_->setWindowTitle(title);
  browser_->setPlainText(text);
  window_->show();
  window_->raise();
}

}  // namespace calvex::ui
