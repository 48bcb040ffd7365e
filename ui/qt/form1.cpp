#include "ui/qt/form1.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QUrl>

#include "messages/messages.h"
#include "ui/qt/bundled_fonts.h"
#include "ui/qt/desktop_placement.h"
#include "ui/qt/file_dialog.h"
#include "ui/qt/form_accessibility.h"
#include "ui/qt/form_controls.h"
#include "ui/qt/native_path.h"
#include "ui/qt/shell_opener.h"

namespace ostrevane::ui {

namespace {

using Outcome = run::ConversionRun::Outcome;

QColor ToQColor(form::Rgb colour) { return QColor(colour.red, colour.green, colour.blue); }

Qt::Alignment ToQtAlignment(form::Align align) {
  switch (align) {
    case form::Align::Left:
      return Qt::AlignLeft;
    case form::Align::Centre:
      return Qt::AlignHCenter;
    case form::Align::Right:
      return Qt::AlignRight;
  }
  return Qt::AlignLeft;
}

QColor BackColour(form::Back back) {
  return back == form::Back::SystemButtonFace ? QApplication::palette().color(QPalette::Button)
                                              : ToQColor(form::Colour(back));
}

QColor TextColour(form::TextColour text) {
  return text == form::TextColour::HomePage ? ToQColor(form::kHomePageText)
                                            : QApplication::palette().color(QPalette::ButtonText);
}

QString QtCaption(form::ControlId id) { return QString::fromStdString(form::Caption(id)); }

QString QtText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void ShowCriticalMessage(QWidget* owner, const QString& message) {
  QMessageBox::critical(owner, QtText(messages::kErrorTitle), message);
}

void ShowInformationMessage(QWidget* owner, const QString& message) {
  QMessageBox::information(owner, QtText(messages::kNoticeTitle), message);
}

void ShowNoViewerMessage(QWidget* owner, const QString& message) {
  QMessageBox::warning(owner, QtText(messages::kNoViewerTitle), message);
}

void ShowNoFolderViewerMessage(QWidget* owner, const QString& message) {
  QMessageBox::warning(owner, QtText(messages::kNoFolderViewerTitle), message);
}

// A window hands the KML file's path to the desktop long after the run:
// its logs are converted from their absolute paths.
run::ConversionRun::Services WithAbsoluteNames(run::ConversionRun::Services services) {
  services.absoluteNames = true;
  return services;
}

double ScreenDpi(double requested, double (QScreen::*screenDpi)() const) {
  if (requested > 0.0) return requested;
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? (screen->*screenDpi)() : 96.0;
}

// Liberation Sans and its kin run some 4 % wider than the design font, which
// pushes captions into the globe and the marker. Narrowed to 96 %, a
// caption takes the design font's width ("Nombres de points: " 94 px at
// 96 DPI in both); hinted vertically only, so that the narrowing is not
// rounded away glyph by glyph.
void NarrowToDesignWidths(QFont& font) {
  constexpr int kDesignWidthPercent = 96;
  font.setStretch(kDesignWidthPercent);
  font.setHintingPreference(QFont::PreferVerticalHinting);
}

QIcon GlobeIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    icon.addFile(QStringLiteral(":/ostrevane/globe-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

QWidget* NewLabel(const form::ControlLayout& layout, QWidget* parent) {
  const Qt::Alignment alignment = ToQtAlignment(layout.align) | Qt::AlignTop;
  // The label that reacts to a click is a button to the keyboard and to
  // assistive technology, and looks like its neighbours all the same.
  if (layout.clickable) {
    auto* button = new CaptionButton(QtCaption(layout.id), BackColour(layout.back),
                                     TextColour(layout.text), parent);
    button->SetAlignment(alignment);
    return button;
  }
  auto* label =
      new FormLabel(QtCaption(layout.id), BackColour(layout.back), TextColour(layout.text), parent);
  label->setAlignment(alignment);
  return label;
}

QWidget* NewControl(const form::ControlLayout& layout, QWidget* parent) {
  switch (layout.kind) {
    case form::Kind::Button:
      return new GraphicalButton(QtCaption(layout.id), BackColour(layout.back), parent);
    case form::Kind::Label:
      return NewLabel(layout, parent);
    case form::Kind::Image:
      return new IconButton(GlobeIcon(), parent);
    case form::Kind::Shape:
      return new MarkerShape(BackColour(layout.back), parent);
  }
  return nullptr;
}

// Once more for a banner that a run before this one showed already, which
// Qt says only when a control appears.
void SayAgain(QWidget* banner) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
  QAccessibleAnnouncementEvent said(banner, banner->accessibleName());
  QAccessible::updateAccessibility(&said);
#else
  QAccessibleEvent shown(banner, QAccessible::ObjectShow);
  QAccessible::updateAccessibility(&shown);
#endif
}

}  // namespace

Form1::Form1() : Form1(Services{}) {}

Form1::Form1(Services services)
    : scale_(ScreenDpi(services.dpiX, &QScreen::logicalDotsPerInchX),
             ScreenDpi(services.dpiY, &QScreen::logicalDotsPerInchY)),
      dialog_(services.dialog ? *services.dialog : QtFileDialog()),
      opener_(services.opener ? *services.opener : DesktopShellOpener()),
      errorNotice_(services.errorNotice ? std::move(services.errorNotice)
                                        : Notice(ShowCriticalMessage)),
      infoNotice_(services.infoNotice ? std::move(services.infoNotice)
                                      : Notice(ShowInformationMessage)),
      noViewerNotice_(services.noViewerNotice ? std::move(services.noViewerNotice)
                                              : Notice(ShowNoViewerMessage)),
      noFolderViewerNotice_(services.noFolderViewerNotice ? std::move(services.noFolderViewerNotice)
                                                          : Notice(ShowNoFolderViewerMessage)),
      run_(*this, WithAbsoluteNames(services.run)) {
  InstallFormAccessibility();
  SetUpWindow();
  CreateControls();
  ConnectActions();
  SetUpKeyboardAndNames();
}

Form1::~Form1() = default;

void Form1::SetUpWindow() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(form::kCaption.data(), qsizetype(form::kCaption.size())));
  // A tool window: a narrow caption with a close button only, no taskbar entry.
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  // Qt lets only plain windows end the program when they close; this one is
  // the program.
  setAttribute(Qt::WA_QuitOnClose, true);
  setWindowIcon(QIcon(QStringLiteral(":/ostrevane/ostrevane-32.png")));
  setFixedSize(scale_.X(form::kClientWidth), scale_.Y(form::kClientHeight));
  RegisterBundledFonts();
  setFont(WindowFont(form::kWindowFont));
  setAcceptDrops(true);
  background_ = QPixmap(QStringLiteral(":/ostrevane/background.png"));
}

QFont Form1::WindowFont(form::Font design) const {
  QFont font;
  QStringList families;
  for (std::string_view family : form::kFontFamilies) {
    families << QString::fromLatin1(family.data(), qsizetype(family.size()));
  }
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(scale_.FontPixels(design.points));
  font.setBold(design.bold);
  if (QFontInfo(font).family() != families.front()) NarrowToDesignWidths(font);
  return font;
}

QWidget* Form1::CreateControl(const form::ControlLayout& layout) {
  QWidget* widget = NewControl(layout, this);
  widget->setObjectName(QString::fromLatin1(layout.name));
  widget->setGeometry(scale_.Rect(layout.left, layout.top, layout.width, layout.height));
  widget->setFont(WindowFont(layout.font));
  if (!layout.visibleAtStart) widget->hide();
  if (layout.clickable) widget->setCursor(Qt::PointingHandCursor);
  return widget;
}

void Form1::CreateControls() {
  // Back to front: a child created later lies above its older siblings.
  const auto controls = form::ControlsFrontToBack();
  for (auto layout = controls.rbegin(); layout != controls.rend(); ++layout) {
    controls_[static_cast<std::size_t>(layout->id)] = CreateControl(*layout);
  }
  chooseButton_ = static_cast<GraphicalButton*>(Control(form::ControlId::ChooseButton));
  count_ = static_cast<FormLabel*>(Control(form::ControlId::Count));
  count_->setWordWrap(false);  // it sizes itself to its caption instead
  chooseButton_->setFocus();
}

QWidget* Form1::Control(form::ControlId id) const {
  return controls_[static_cast<std::size_t>(id)];
}

void Form1::ConnectActions() {
  connect(chooseButton_, &QPushButton::clicked, this, [this] { run_.OnClick(); });
  connect(static_cast<QAbstractButton*>(Control(form::ControlId::Globe)), &QAbstractButton::clicked,
          this, &Form1::OpenKmlFile);
  connect(static_cast<QAbstractButton*>(Control(form::ControlId::FolderLine)),
          &QAbstractButton::clicked, this, &Form1::OpenKmlFolder);
}

void Form1::SetUpKeyboardAndNames() {
  QWidget* globe = Control(form::ControlId::Globe);
  QWidget* folderLine = Control(form::ControlId::FolderLine);
  // Down the window; Tab skips the two end-of-run items until they show.
  setTabOrder(chooseButton_, globe);
  setTabOrder(globe, folderLine);
  globe->setAccessibleName(QtText(messages::kOpenKmlFileName));
  folderLine->setAccessibleName(QtText(messages::kOpenKmlFolderName));
  // Screen readers speak a notification as it shows, without taking the
  // keyboard (Orca: a status bar only when asked, a change of name only on
  // what has the focus).
  static_cast<FormLabel*>(Control(form::ControlId::Banner))
      ->SetAccessibleRole(QAccessible::Notification);
}

QWidget* Form1::AccessibleStandIn(QWidget* control) const {
  if (control == Control(form::ControlId::Strip) || control == Control(form::ControlId::Marker))
    return nullptr;
  if (control == count_) return Control(form::ControlId::CountTitle);
  return control;
}

void Form1::ShowCentred() {
  KeepOffTaskbar(*this);
  ShowWithFrameCentred(*this);
  raise();
  activateWindow();
  chooseButton_->setFocus();
}

Outcome Form1::ConvertNamedLog(const std::string& path) { return run_.ConvertNamedLog(path); }

Outcome Form1::ConvertNamedLogs(const std::vector<std::string>& paths) {
  if (paths.size() > 1)
    ReportError(messages::ExtraNamesNotConverted({paths.begin() + 1, paths.end()}));
  return ConvertNamedLog(paths.front());
}

std::optional<std::string> Form1::ChooseLog() {
  const QString chosen = dialog_.ChooseFile(this, ToQtNameFilter(messages::kLogDialogFilter));
  TakeKeyboardBack();
  if (chosen.isEmpty()) return std::nullopt;
  // A name the run refuses anyway is refused silently, as any other.
  std::string path = ToCorePath(chosen);
  if (!run::ConversionRun::IsAcceptedName(path) || CorePathOfChoice(chosen, path)) return path;
  // Never another file: the user is told, naming the file as the dialog did.
  ReportError(messages::FileFailure(messages::FileAction::Open, path, messages::kNameLostByDialog));
  return std::nullopt;
}

void Form1::RunStarted() { Reveal(form::Moment::RunStarted); }

void Form1::LineCountChanged(std::int64_t lineCount) {
  count_->setText(QtText(form::CountCaption(lineCount)));
  count_->FitToCaption();
  shownCount_ = lineCount;
  Control(form::ControlId::CountTitle)->setAccessibleName(QtText(messages::CountName(lineCount)));
}

void Form1::RunFinished() {
  // The banner says the end of the run and its final count (set by now) to
  // assistive technology once, when it shows: named first, so that what is
  // said is this run's.
  QWidget* banner = Control(form::ControlId::Banner);
  const bool shownBefore = !banner->isHidden();
  banner->setAccessibleName(shownCount_ ? QtText(messages::RunFinishedStatus(*shownCount_))
                                        : QtCaption(form::ControlId::Banner));
  Reveal(form::Moment::RunFinished);
  if (shownBefore) SayAgain(banner);
}

void Form1::Reveal(form::Moment moment) {
  for (form::ControlId id : form::RevealedAt(moment)) Control(id)->show();
}

void Form1::ProcessEvents() { QCoreApplication::processEvents(); }

bool Form1::StopRequested() { return closeRequested_; }

void Form1::ReportError(std::string_view message) {
  errorNotice_(this, QtText(message));
  TakeKeyboardBack();
}

void Form1::ReportNotice(std::string_view message) {
  infoNotice_(this, QtText(message));
  TakeKeyboardBack();
}

void Form1::TakeKeyboardBack() {
  // A window kept off the taskbar gets the keyboard back from no window
  // manager of its own accord (openbox leaves it on the desktop); asked,
  // Qt gives the focus back to the control that had it.
  if (!isVisible() || isActiveWindow()) return;
  raise();
  activateWindow();
}

void Form1::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), ToQColor(form::kFormBack));
  // The picture keeps its size in screen pixels and is clipped, never fitted
  // to the window: where Qt scales the window with the screen's resolution
  // (device pixel ratio 1.5 at 144 DPI), the controls and texts grow and the
  // picture does not.
  if (background_.devicePixelRatio() != devicePixelRatioF()) {
    background_.setDevicePixelRatio(devicePixelRatioF());
  }
  painter.drawPixmap(0, 0, background_);
}

void Form1::showEvent(QShowEvent* event) {
  if (!run_.Running()) closeRequested_ = false;
  QWidget::showEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
  // A run in progress sees the request at its next pause for events, gives
  // up its output and returns; the program ends once it has.
  if (run_.Running()) closeRequested_ = true;
  event->accept();
}

std::string Form1::DroppedLog(const QMimeData* data) const {
  if (data == nullptr || !data->hasUrls()) return {};
  const QList<QUrl> urls = data->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
  // The name's own bytes, as the command line gets them.
  std::string path = CorePathOfUrl(urls.front());
  return run::ConversionRun::IsAcceptedName(path) ? path : std::string();
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
  if (!run_.Running() && !DroppedLog(event->mimeData()).empty()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
  std::string path = DroppedLog(event->mimeData());
  if (path.empty()) return;
  event->acceptProposedAction();
  // Converting once the drop has returned lets the program that the file
  // came from carry on meanwhile.
  QMetaObject::invokeMethod(
      this, [this, path = std::move(path)] { ConvertNamedLog(path); }, Qt::QueuedConnection);
}

QString Form1::KmlPath() const { return FromCorePath(run_.Kml.KmlFile); }

void Form1::OpenKmlFile() {
  const QString kml = KmlPath();
  opener_.Open(kml, [window = QPointer<Form1>(this), kml](ShellOpener::Failure failure) {
    if (window) window->ReportNoViewer(kml, failure);
  });
}

void Form1::ReportNoViewer(const QString& kmlPath, ShellOpener::Failure failure) {
  // A file deleted since its conversion is the desktop's to report, if at all.
  if (!QFileInfo::exists(kmlPath)) return;
  const std::string path = kmlPath.toStdString();
  noViewerNotice_(this,
                  QtText(failure == ShellOpener::Failure::NoOpener ? messages::NoOpener(path)
                                                                   : messages::NoViewer(path)));
  TakeKeyboardBack();
}

void Form1::OpenKmlFolder() {
  // Nothing names the folder on its own; it is the one the KML file is in.
  const QString file = KmlPath();
  if (file.isEmpty()) return;
  const QString folder = QFileInfo(file).absolutePath();
  opener_.Open(folder, [window = QPointer<Form1>(this), folder](ShellOpener::Failure failure) {
    if (window) window->ReportNoFolderViewer(folder, failure);
  });
}

void Form1::ReportNoFolderViewer(const QString& folder, ShellOpener::Failure failure) {
  // As for the file: a folder removed since is the desktop's to report.
  if (!QFileInfo::exists(folder)) return;
  const std::string path = folder.toStdString();
  noFolderViewerNotice_(
      this, QtText(failure == ShellOpener::Failure::NoOpener ? messages::NoOpener(path)
                                                             : messages::NoFolderViewer(path)));
  TakeKeyboardBack();
}

}  // namespace ostrevane::ui
