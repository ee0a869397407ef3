#include "ui/help.h"

#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <algorithm>

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
namespace {

constexpr char kHelpContextProperty[] = "calvexHelpContext";

// The context popup. A popup holds the pointer and the keyboard while it is open, so it must
// close on whatever the user does next: any key, any click (inside or outside), or the pointer
// leaving it.
class HelpPopup : public QLabel {
 public:
  explicit HelpPopup(const QString& html) : QLabel(nullptr, Qt::Popup) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWordWrap(true);
    setFixedWidth(280);
    setMargin(8);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setStyleSheet(QStringLiteral("QLabel { background: #ffffe0; color: black; }"));
    setText(html);
    adjustSize();
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    event->accept();
    close();
  }
  void mousePressEvent(QMouseEvent* event) override {
    event->accept();
    close();
  }
  void leaveEvent(QEvent*) override { close(); }
};

}  // namespace

HelpSystem::HelpSystem(QObject* parent) : QObject(parent) {}

HelpSystem::~HelpSystem() {
  delete window_;
}

QString HelpSystem::TopicHtml(const QString& name) {
  RegisterHelpTopics();
  QFile file(QStringLiteral(":/help/%1.html").arg(name));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

QString HelpSystem::TopicHtml(int context) {
  return TopicHtml(context == kHelpContents ? QStringLiteral("contents")
                                            : QString::number(context));
}

void HelpSystem::EnsureWindow() {
  if (window_) return;
  window_ = new QDialog(nullptr, Qt::Window);
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  window_->resize(520, 420);
  browser_ = new QTextBrowser(window_);
  browser_->setOpenLinks(false);
  // Links between topics are "topic:NNN" or "topic:NAME".
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
    if (url.scheme() != QLatin1String("topic")) return;
    bool number = false;
    const int context = url.path().toInt(&number);
    if (number) {
      ShowTopic(context);
    } else {
      const QString html = TopicHtml(url.path());
      if (!html.isEmpty()) Show(html);
    }
  });
  auto* layout = new QVBoxLayout(window_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
}

void HelpSystem::Show(const QString& html) {
  used_ = true;
  EnsureWindow();
  window_->setWindowTitle(ApplicationTitle() + QStringLiteral(" Help"));
  browser_->setHtml(html);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void HelpSystem::ShowTopic(int context, QWidget* /*near*/) {
  lastContext_ = context;
  lastWasPopup_ = false;
  QString html = TopicHtml(context);
  if (html.isEmpty()) html = TopicHtml(kHelpContents);
  Show(html);
}

void HelpSystem::ShowPopup(int context) {
  lastContext_ = context;
  lastWasPopup_ = true;
  used_ = true;
  auto* popup = new HelpPopup(TopicHtml(context));
  // Under the pointer, so that moving away closes it as a click does.
  QPoint at = QCursor::pos() - QPoint(12, 12);
  if (const QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) {
    const QRect area = screen->availableGeometry();
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - popup->width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - popup->height())));
  }
  popup->move(at);
  popup->show();
}

void HelpSystem::ShowText(const QString& title, const QString& text) {
  used_ = true;
  EnsureWindow();
  window_->setWindowTitle(title);
  browser_->setPlainText(text);
  window_->show();
  window_->raise();
}

void SetDialogHelp(QDialog* dialog, int context) {
  dialog->setProperty(kHelpContextProperty, context);
  dialog->setWindowModality(Qt::WindowModal);
}

QPushButton* AddHelpButton(QDialogButtonBox* buttons, QDialog* dialog, HelpSystem* help,
                           int context) {
  SetDialogHelp(dialog, context);
  QPushButton* button = buttons->addButton(QStringLiteral("&Help"), QDialogButtonBox::HelpRole);
  QObject::connect(button, &QPushButton::clicked, dialog, [help, dialog, context] {
    if (help != nullptr) help->ShowTopic(context, dialog);
  });
  return button;
}

std::optional<int> DialogHelpContext(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    const QVariant context = w->property(kHelpContextProperty);
    if (context.isValid()) return context.toInt();
    if (w->isWindow()) break;
  }
  return std::nullopt;
}

}  // namespace calvex::ui
