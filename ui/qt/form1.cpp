#include "ui/qt/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QUrl>

#include "platform/version.h"
#include "ui/qt/file_dialog.h"
#include "ui/qt/form_controls.h"
#include "ui/qt/native_path.h"
#include "ui/qt/shell_opener.h"

namespace ostrevane::ui {

namespace {

using Outcome = run::ConversionRun::Outcome;

const QColor kFormBack(192, 192, 192);
const QColor kLabelBack(192, 255, 192);
const QColor kButtonBack(0, 192, 0);
const QColor kHomePageText(128, 0, 0);
const QColor kMarkerFill(255, 0, 0);

constexpr double kWindowPoints = 8.25;
constexpr double kTitlePoints = 12.0;

// Where each label sits (in twips), what it says and how it looks.
struct LabelLayout {
  const char* name;
  int left, top, width, height;
  const char* caption;  // UTF-8
  double points;
  bool bold;
  Qt::Alignment alignment;
  enum class Back { LightGreen, ButtonFace } back;
};

using Back = LabelLayout::Back;

// clang-format off
constexpr LabelLayout kLabel1{"Label1", 1440, 960, 1575, 200, "Nombres de points: ",
    kWindowPoints, false, Qt::AlignRight, Back::LightGreen};
constexpr LabelLayout kLblNbrPoints{"LblNbrPoints", 3000, 960, 45, 200, "",
    kWindowPoints, false, Qt::AlignLeft, Back::LightGreen};
constexpr LabelLayout kLabel3{"Label3", 0, 1560, 4600, 420, "OPERATION TERMINEE",
    kTitlePoints, true, Qt::AlignHCenter, Back::LightGreen};
constexpr LabelLayout kLabel8{"Label8", 0, 1980, 4935, 375,
    "           --  Ouvrir le fichier avec Google Earth  ---> ",
    kWindowPoints, false, Qt::AlignLeft, Back::LightGreen};
constexpr LabelLayout kLabel5{"Label5", 0, 2355, 4600, 330,
    "--  Retrouvez  le fichier \"*.kml\" dans son r\u00e9pertoire ",
    kWindowPoints, false, Qt::AlignHCenter, Back::LightGreen};
// Label7's caption, a blank and then the home page, is set in the constructor.
constexpr LabelLayout kLabel7{"Label7", 90, 0, 1815, 255, "",
    kWindowPoints, true, Qt::AlignHCenter, Back::LightGreen};
constexpr LabelLayout kLabel4{"Label4", 2040, 2760, 135, 15, "Label4",
    kWindowPoints, false, Qt::AlignLeft, Back::ButtonFace};
// clang-format on

void ShowCriticalMessage(QWidget* owner, const QString& message) {
  QMessageBox::critical(owner, QStringLiteral("Conversion impossible"), message);
}

double ScreenDpi(double requested, double (QScreen::*screenDpi)() const) {
  if (requested > 0.0) return requested;
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? (screen->*screenDpi)() : 96.0;
}

QIcon GlobeIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    icon.addFile(QStringLiteral(":/ostrevane/globe-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace

Form1::Form1() : Form1(Services{}) {}

Form1::Form1(Services services)
    : scale_(ScreenDpi(services.dpiX, &QScreen::logicalDotsPerInchX),
             ScreenDpi(services.dpiY, &QScreen::logicalDotsPerInchY)),
      dialog_(services.dialog ? *services.dialog : QtFileDialog()),
      opener_(services.opener ? *services.opener : DesktopShellOpener()),
      errorNotice_(services.errorNotice ? std::move(services.errorNotice)
                                        : ErrorNotice(ShowCriticalMessage)),
      run_(*this, services.run) {
  SetUpWindow();
  CreateControls();
  StackControls();
  ConnectActions();
}

Form1::~Form1() = default;

void Form1::SetUpWindow() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("    Convertisseur de fichiers.nmea en fichiers .kml"));
  // A tool window: a narrow caption with a close button only, no taskbar entry.
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  // Qt lets only plain windows end the program when they close; this one is
  // the program.
  setAttribute(Qt::WA_QuitOnClose, true);
  setWindowIcon(QIcon(QStringLiteral(":/ostrevane/ostrevane-32.png")));
  setFixedSize(scale_.X(4590), scale_.Y(3255));
  setFont(WindowFont(kWindowPoints, false));
  setAcceptDrops(true);
  background_ = QPixmap(QStringLiteral(":/ostrevane/background.png"));
}

QFont Form1::WindowFont(double points, bool bold) const {
  QFont font;
  // The design font first, then installed fonts of near metrics.
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("Arial"), QStringLiteral("Helvetica")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(scale_.FontPixels(points));
  font.setBold(bold);
  return font;
}

void Form1::CreateControls() {
  const QColor buttonText = QApplication::palette().color(QPalette::ButtonText);
  const QColor buttonFace = QApplication::palette().color(QPalette::Button);

  auto makeLabel = [&](const LabelLayout& layout, const QColor& text) {
    const QColor back = layout.back == Back::LightGreen ? kLabelBack : buttonFace;
    auto* label = new FormLabel(QString::fromUtf8(layout.caption), back, text, this);
    label->setObjectName(QString::fromLatin1(layout.name));
    label->setGeometry(scale_.Rect(layout.left, layout.top, layout.width, layout.height));
    label->setFont(WindowFont(layout.points, layout.bold));
    label->setAlignment(layout.alignment | Qt::AlignTop);
    return label;
  };

  cmdOuvrefich_ =
      new GraphicalButton(QStringLiteral("Choisir un fichier *.nmea"), kButtonBack, this);
  cmdOuvrefich_->setObjectName(QStringLiteral("CmdOuvrefich"));
  cmdOuvrefich_->setGeometry(scale_.Rect(1200, 360, 2535, 375));
  cmdOuvrefich_->setFont(WindowFont(kWindowPoints, true));

  label1_ = makeLabel(kLabel1, buttonText);
  lblNbrPoints_ = makeLabel(kLblNbrPoints, buttonText);
  lblNbrPoints_->setWordWrap(false);  // it sizes itself to its caption instead
  label3_ = makeLabel(kLabel3, buttonText);
  label8_ = makeLabel(kLabel8, buttonText);
  label5_ = makeLabel(kLabel5, buttonText);
  label7_ = makeLabel(kLabel7, kHomePageText);
  label7_->setText(QLatin1Char(' ') + QString::fromUtf8(platform::kHomePage.data(),
                                                        qsizetype(platform::kHomePage.size())));
  label4_ = makeLabel(kLabel4, buttonText);

  image1_ = new IconImage(GlobeIcon(), this);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setGeometry(scale_.Rect(3600, 1920, 360, 360));

  shape1_ = new MarkerShape(kMarkerFill, this);
  shape1_->setObjectName(QStringLiteral("Shape1"));
  shape1_->setGeometry(scale_.Rect(4100, 2400, 135, 135));

  // The end-of-run items wait for a run to reveal them.
  for (QWidget* hidden : std::initializer_list<QWidget*>{label1_, lblNbrPoints_, label3_, image1_,
                                                         label8_, label5_, shape1_}) {
    hidden->hide();
  }

  // Exactly the three items that react to a click show the pointing hand.
  for (QWidget* clickable : std::initializer_list<QWidget*>{cmdOuvrefich_, image1_, label5_}) {
    clickable->setCursor(Qt::PointingHandCursor);
  }
  cmdOuvrefich_->setFocus();
}

void Form1::StackControls() {
  // Back to front: each raise() puts the control above all created before it.
  for (QWidget* control :
       std::initializer_list<QWidget*>{label1_, label4_, lblNbrPoints_, label3_, label5_, label7_,
                                       label8_, image1_, shape1_, cmdOuvrefich_}) {
    control->raise();
  }
}

void Form1::ConnectActions() {
  connect(cmdOuvrefich_, &QPushButton::clicked, this, [this] { run_.OnClick(); });
  connect(image1_, &IconImage::clicked, this, &Form1::OpenKmlFile);
  connect(label5_, &FormLabel::clicked, this, &Form1::OpenKmlFolder);
}

void Form1::ShowCentred() {
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  activateWindow();
  cmdOuvrefich_->setFocus();
}

Outcome Form1::ConvertFile(const QString& path) {
  const std::string corePath = ToCorePath(path);
  if (run_.Running() || !run::ConversionRun::IsAcceptedName(corePath)) return Outcome::Refused;
  return run_.ConvertFile(corePath);
}

void Form1::SetDialogFilter(std::string_view filter) { dialogFilter_ = filter; }

void Form1::ShowOpen() {
  dialogFileName_ = ToCorePath(dialog_.ChooseFile(this, ToQtNameFilter(dialogFilter_)));
}

std::string Form1::DialogFileName() { return dialogFileName_; }

QWidget* Form1::ControlWidget(run::Control control) const {
  switch (control) {
    case run::Control::Label1:
      return label1_;
    case run::Control::LblNbrPoints:
      return lblNbrPoints_;
    case run::Control::Label3:
      return label3_;
    case run::Control::Label5:
      return label5_;
    case run::Control::Label8:
      return label8_;
    case run::Control::Image1:
      return image1_;
    case run::Control::Shape1:
      return shape1_;
  }
  return nullptr;
}

void Form1::ShowControl(run::Control control) {
  if (QWidget* widget = ControlWidget(control)) widget->show();
}

void Form1::SetCountCaption(std::string_view caption) {
  lblNbrPoints_->setText(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  lblNbrPoints_->FitToCaption();
}

void Form1::ProcessEvents() { QCoreApplication::processEvents(); }

bool Form1::StopRequested() { return closeRequested_; }

void Form1::ReportError(std::string_view message) {
  errorNotice_(this, QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
}

void Form1::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), kFormBack);
  // The picture keeps its size in logical pixels and is clipped, never fitted
  // to the window. On a screen that Qt scales (device pixel ratio 2, say) it
  // is enlarged with the window, as the desktop enlarges older programs.
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
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

QString Form1::DroppedLog(const QMimeData* data) const {
  if (data == nullptr || !data->hasUrls()) return {};
  const QList<QUrl> urls = data->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
  const QString path = urls.front().toLocalFile();
  return run::ConversionRun::IsAcceptedName(ToCorePath(path)) ? path : QString();
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
  if (!run_.Running() && !DroppedLog(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
  const QString path = DroppedLog(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  // Converting once the drop has returned lets the program that the file
  // came from carry on meanwhile.
  QMetaObject::invokeMethod(
      this, [this, path] { ConvertFile(path); }, Qt::QueuedConnection);
}

QString Form1::KmlPath() const { return FromCorePath(run_.Kml.KmlFile); }

void Form1::OpenKmlFile() { opener_.Open(KmlPath()); }

void Form1::OpenKmlFolder() {
  // Nothing names the folder on its own; it is the one the KML file is in.
  const QString file = KmlPath();
  if (!file.isEmpty()) opener_.Open(QFileInfo(file).absolutePath());
}

}  // namespace ostrevane::ui
