// The main window on Qt's offscreen platform, driven as a user would: its
// dialog answers at once, the desktop is a recorder, errors are collected.

#include "ui/qt/form1.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <functional>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <utility>
#include <vector>

#include "fuzz/expected_kml.h"
#include "fuzz/nmea_checksum.h"
#include "ui/qt/file_dialog.h"
#include "ui/qt/shell_opener.h"

namespace ostrevane::ui {
namespace {

// Three non-empty lines and an empty one: one fix, then two other sentences.
constexpr char kThreeLineLog[] =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
    "\r\n"
    "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n";

const QStringList kRevealedAtStart{"Label1", "LblNbrPoints"};
const QStringList kRevealedAtEnd{"Label3", "Label5", "Label8", "Image1", "Shape1"};

class AnsweringDialog final : public FileDialog {
 public:
  QString answer;
  int shown = 0;
  QString filter;
  QWidget* owner = nullptr;

  QString ChooseFile(QWidget* dialogOwner, const QString& nameFilter) override {
    ++shown;
    owner = dialogOwner;
    filter = nameFilter;
    return answer;
  }
};

class RecordingOpener final : public ShellOpener {
 public:
  QStringList opened;
  bool fails = false;  // as a desktop without a KML viewer
  Failure failure = Failure::NoApplication;
  void Open(const QString& path, Failed failed) override {
    opened << path;
    if (fails && failed) failed(failure);
  }
};

// The window, recording the controls that a run shows on it, in order, and
// the count's captions, and letting a test act in the middle of a run, where
// the run lets events in.
class TestForm final : public Form1 {
 public:
  explicit TestForm(Services services) : Form1(std::move(services)) {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      child->installEventFilter(this);
  }

  QStringList shown;
  QStringList captions;
  std::function<void()> duringRun;

  bool eventFilter(QObject* watched, QEvent* event) override {
    // Sent whenever a control is made visible, whether or not its window
    // shows; a run is what reveals controls.
    if (event->type() == QEvent::ShowToParent && Run().Running()) shown << watched->objectName();
    return Form1::eventFilter(watched, event);
  }
  void LineCountChanged(std::int64_t lineCount) override {
    Form1::LineCountChanged(lineCount);
    captions << findChild<QLabel*>("LblNbrPoints")->text();
  }
  void ProcessEvents() override {
    if (duringRun) std::exchange(duringRun, nullptr)();
    Form1::ProcessEvents();
  }
};

QString WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
  return path;
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList VisibleControls(const QWidget& form) {
  QStringList names;
  for (const QWidget* child : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!child->isHidden()) names << child->objectName();
  }
  names.sort();
  return names;
}

QStringList Sorted(QStringList names) {
  names.sort();
  return names;
}

// The caption a control shows, whether a label or a button draws it.
QString CaptionOf(const QWidget* control) {
  if (const auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  if (const auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
  return {};
}

QString FocusedName() {
  const QWidget* focused = QApplication::focusWidget();
  return focused ? focused->objectName() : QString();
}

}  // namespace

class Form1Test : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  AnsweringDialog dialog_;
  RecordingOpener opener_;
  QStringList errors_;
  QWidget* errorOwner_ = nullptr;
  // The information boxes, each with what the window showed before it.
  QStringList notices_;
  QWidget* noticeOwner_ = nullptr;
  QStringList noViewerNotices_;

  Form1::Services Services(double dpi = 96.0) {
    Form1::Services services;
    services.dialog = &dialog_;
    services.opener = &opener_;
    services.errorNotice = [this](QWidget* owner, const QString& message) {
      errorOwner_ = owner;
      errors_ << message;
    };
    services.infoNotice = [this](QWidget* owner, const QString& message) {
      noticeOwner_ = owner;
      notices_ << message;
    };
    services.noViewerNotice = [this](QWidget* owner, const QString& message) {
      errorOwner_ = owner;
      noViewerNotices_ << message;
    };
    services.noFolderViewerNotice = services.noViewerNotice;
    services.dpiX = services.dpiY = dpi;
    return services;
  }

  // A folder with blanks and accents in its name, as users have.
  QString Folder(const QString& name) {
    return dir_.filePath(name + QStringLiteral(" \u00e9t\u00e9"));
  }

  template <typename T = QWidget>
  static T* Control(const QWidget& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
  }

  static void Click(const QWidget& form, const char* name) {
    QTest::mouseClick(Control(form, name), Qt::LeftButton);
  }

  // The window shown and holding the keyboard, as a user finds it.
  static void ShowActive(Form1& form) {
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
  }

  // ... after one conversion of `log`: every control shows.
  void ShowAfterOneRun(Form1& form, const QString& log) {
    dialog_.answer = log;
    ShowActive(form);
    Click(form, "CmdOuvrefich");
    QVERIFY(Control(form, "Label5")->isVisible());
  }

 private slots:
  // QTemporaryDir can't remove names that are not valid UTF-8 (the Latin-1
  // logs below); the standard library takes their bytes as they are.
  void cleanupTestCase() {
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(dir_.path()).toStdString(), ignored);
  }
  void init() {
    dialog_ = AnsweringDialog();
    opener_.opened.clear();
    opener_.fails = false;
    opener_.failure = ShellOpener::Failure::NoApplication;
    noViewerNotices_.clear();
    errors_.clear();
    errorOwner_ = nullptr;
  }

  void qtNameFilter_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one entry") << "Fichier nmea|*.nmea"
                               << "Fichier nmea (*.nmea)";
    QTest::newRow("two entries, two patterns") << "Journaux|*.nmea;*.log|Tous|*.*"
                                               << "Journaux (*.nmea *.log);;Tous (*.*)";
    QTest::newRow("empty") << ""
                           << "";
  }
  void qtNameFilter() {
    QFETCH(QString, filter);
    QFETCH(QString, expected);
    QCOMPARE(ToQtNameFilter(filter.toStdString()), expected);
  }

  void initialControls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");  // twips / 15, rounded, at 96 DPI
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("visible");
    QTest::newRow("CmdOuvrefich") << "CmdOuvrefich" << QRect(80, 24, 169, 25)
                                  << "Choisir un fichier *.nmea" << true;
    QTest::newRow("Label1") << "Label1" << QRect(96, 64, 105, 13) << "Nombres de points: " << false;
    QTest::newRow("LblNbrPoints") << "LblNbrPoints" << QRect(200, 64, 3, 13) << "" << false;
    QTest::newRow("Label3") << "Label3" << QRect(0, 104, 307, 28) << "OPERATION TERMINEE" << false;
    QTest::newRow("Image1") << "Image1" << QRect(240, 128, 24, 24) << "" << false;
    QTest::newRow("Label8") << "Label8" << QRect(0, 132, 329, 25)
                            << "           --  Ouvrir le fichier avec Google Earth  ---> " << false;
    QTest::newRow("Label5") << "Label5" << QRect(0, 157, 307, 22)
                            << "--  Retrouvez  le fichier \"*.kml\" dans son r\u00e9pertoire "
                            << false;
    QTest::newRow("Shape1") << "Shape1" << QRect(273, 160, 9, 9) << "" << false;
    QTest::newRow("Label7") << "Label7" << QRect(6, 0, 121, 17) << " ostrevane.local" << true;
    QTest::newRow("Label4") << "Label4" << QRect(136, 184, 9, 1) << "Label4" << true;
  }
  void initialControls() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(bool, visible);
    Form1 form(Services());
    const QWidget* control = form.findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(!control->isHidden(), visible);
    QCOMPARE(CaptionOf(control), caption);
  }

  void windowSettings() {
    Form1 form(Services());
    QCOMPARE(form.size(), QSize(306, 217));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.windowTitle(), QString("    Convertisseur de fichiers.nmea en fichiers .kml"));
    QCOMPARE(form.windowType(), Qt::Tool);
    QVERIFY(form.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(form.testAttribute(Qt::WA_QuitOnClose));  // a tool window would not end the program
    // To assistive technology, a window named by its caption, blanks aside.
    const QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&form);
    QCOMPARE(window->role(), QAccessible::Window);
    QCOMPARE(window->text(QAccessible::Name),
             QString("Convertisseur de fichiers.nmea en fichiers .kml"));
  }

  void scalesWithTheScreen() {
    Form1 form(Services(144.0));  // 10 twips to the pixel
    QCOMPARE(form.size(), QSize(459, 326));
    QCOMPARE(Control(form, "CmdOuvrefich")->geometry(), QRect(120, 36, 254, 38));
    QCOMPARE(Control(form, "Label3")->font().pixelSize(), 24);  // 12 pt
    QCOMPARE(Control(form, "Label1")->font().pixelSize(), 17);  // 8.25 pt
  }

  // Each caption on one line inside its control, and the two end-of-run
  // lines ending before the globe and the marker that lie over them,
  // whatever fonts the machine has.
  void captionsFitAsDesigned_data() {
    QTest::addColumn<double>("dpi");
    QTest::newRow("96 DPI") << 96.0;
    QTest::newRow("144 DPI") << 144.0;
  }
  void captionsFitAsDesigned() {
    QFETCH(double, dpi);
    Form1 form(Services(dpi));
    for (const char* name : {"Label1", "Label3", "Label5", "Label7", "Label8"}) {
      const QWidget* control = Control(form, name);
      const QString caption = CaptionOf(control);
      QVERIFY2(!caption.isEmpty(), name);
      QVERIFY2(control->fontMetrics().horizontalAdvance(caption) <= control->width(), name);
      QVERIFY2(control->fontMetrics().height() <= control->height(), name);
    }
    const auto* button = Control<QPushButton>(form, "CmdOuvrefich");
    QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) < button->width() - 4);

    const auto* label8 = Control<QLabel>(form, "Label8");
    const int label8End = label8->x() + label8->fontMetrics().horizontalAdvance(label8->text()) -
                          label8->fontMetrics().horizontalAdvance(" ");
    QVERIFY2(label8End <= Control(form, "Image1")->x(), qPrintable(QString::number(label8End)));

    const QWidget* label5 = Control(form, "Label5");
    const QFontMetrics metrics = label5->fontMetrics();
    const int textWidth = metrics.horizontalAdvance(CaptionOf(label5));
    const int label5End = label5->x() + (label5->width() - textWidth) / 2 + textWidth -
                          metrics.horizontalAdvance(" ");
    QVERIFY2(label5End <= Control(form, "Shape1")->x(), qPrintable(QString::number(label5End)));
  }

  void stackingOrderCursorsAndFocus() {
    Form1 form(Services());
    QStringList backToFront;
    for (const QObject* child : form.children()) {
      if (child->isWidgetType()) backToFront << child->objectName();
    }
    QCOMPARE(backToFront, QStringList({"Label1", "Label4", "LblNbrPoints", "Label3", "Label5",
                                       "Label7", "Label8", "Image1", "Shape1", "CmdOuvrefich"}));

    // The three controls that react to a click show the pointing hand and
    // take the focus; the globe and the folder line from the keyboard only,
    // so that a click on them leaves it on the button.
    const QMap<QString, Qt::FocusPolicy> focusable{
        {"CmdOuvrefich", Qt::StrongFocus}, {"Image1", Qt::TabFocus}, {"Label5", Qt::TabFocus}};
    QStringList pointing;
    for (const QWidget* child : form.findChildren<QWidget*>()) {
      if (child->testAttribute(Qt::WA_SetCursor) &&
          child->cursor().shape() == Qt::PointingHandCursor)
        pointing << child->objectName();
      QVERIFY2(child->focusPolicy() == focusable.value(child->objectName(), Qt::NoFocus),
               qPrintable(child->objectName()));
    }
    QCOMPARE(Sorted(pointing), Sorted(focusable.keys()));
    QCOMPARE(form.focusWidget(), Control(form, "CmdOuvrefich"));
  }

  void paintsPictureAndColours() {
    Form1 form(Services());
    form.show();
    const QImage shot = form.grab().toImage();
    const QImage picture(QStringLiteral(":/ostrevane/background.png"));
    QCOMPARE(picture.size(), QSize(381, 283));
    // Unscaled from the top-left corner: where no control lies, the window
    // shows the picture's own pixels.
    for (const QPoint at : {QPoint(2, 30), QPoint(300, 90), QPoint(305, 216)})
      QCOMPARE(shot.pixelColor(at), picture.pixelColor(at));
    QCOMPARE(shot.pixelColor(84, 36), QColor(0, 192, 0));    // the button, left of its caption
    QCOMPARE(shot.pixelColor(7, 1), QColor(192, 255, 192));  // the home-page label
  }

  void wholeRun() {
    const QString log = WriteFile(Folder("run") + "/trajet du jour.nmea", kThreeLineLog);
    dialog_.answer = log;
    TestForm form(Services());
    form.show();
    Click(form, "CmdOuvrefich");

    QCOMPARE(dialog_.shown, 1);
    QCOMPARE(dialog_.filter, QString("Fichier nmea (*.nmea)"));
    QCOMPARE(dialog_.owner, &form);
    QCOMPARE(form.shown, kRevealedAtStart + kRevealedAtEnd);
    QCOMPARE(form.captions.last(), QString(" 2  "));
    QVERIFY(errors_.isEmpty());
    QVERIFY(ReadFile(Folder("run") + "/trajet du jour.kml").endsWith("</kml>\r\n"));

    // The count sits where it starts and is exactly as wide as its caption.
    const auto* count = Control<QLabel>(form, "LblNbrPoints");
    QCOMPARE(count->text(), QString(" 2  "));
    QCOMPARE(count->geometry(), QRect(200, 64, count->fontMetrics().horizontalAdvance(" 2  "),
                                      count->fontMetrics().height()));

    // A later click whose choice is refused hides nothing.
    const QStringList visible = VisibleControls(form);
    dialog_.answer = Folder("run") + "/trajet du jour.txt";
    Click(form, "CmdOuvrefich");
    QCOMPARE(VisibleControls(form), visible);
    QCOMPARE(visible.size(), 10);
  }

  void refusedNamesChangeNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("cancelled") << "";
    QTest::newRow("upper case") << "TRACK.NMEA";
    QTest::newRow("mixed case") << "track.Nmea";
    QTest::newRow("other extension") << "track.nmea.bak";
    QTest::newRow("dot only in folder") << "my.logs/track";
  }
  void refusedNamesChangeNothing() {
    QFETCH(QString, name);
    const QString folder = Folder("refused");
    if (!name.isEmpty()) WriteFile(folder + "/" + name, kThreeLineLog);
    dialog_.answer = name.isEmpty() ? QString() : folder + "/" + name;
    TestForm form(Services());
    const QStringList before = QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot);
    Click(form, "CmdOuvrefich");
    QCOMPARE(dialog_.shown, 1);
    QVERIFY(form.shown.isEmpty());
    QCOMPARE(VisibleControls(form), Sorted({"CmdOuvrefich", "Label4", "Label7"}));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot), before);
    QVERIFY(errors_.isEmpty());
  }

  // A name that is not valid UTF-8 comes back from Qt's dialog with U+FFFD
  // in place of its bytes (QFile::decodeName, as this dialog answers). The
  // chosen file is converted by its own bytes; where the folder holds no file,
  // or more than one, that Qt reads so, the user is told, and nothing else is
  // converted.
  void chosenNameKeepsItsBytes_data() {
    QTest::addColumn<QByteArrayList>("files");
    QTest::addColumn<QByteArray>("chosen");
    QTest::addColumn<QByteArray>("kml");
    QTest::newRow("Latin-1 name") << QByteArrayList{"caf\xe9.nmea"} << QByteArray("caf\xe9.nmea")
                                  << QByteArray("caf\xe9.kml");
    QTest::newRow("Latin-1 folder")
        << QByteArrayList{"r\xe9sum\xe9/trajet.nmea"} << QByteArray("r\xe9sum\xe9/trajet.nmea")
        << QByteArray("r\xe9sum\xe9/trajet.kml");
    QTest::newRow("two names read alike") << QByteArrayList{"caf\xe9.nmea", "caf\xe8.nmea"}
                                          << QByteArray("caf\xe9.nmea") << QByteArray();
    QTest::newRow("file gone") << QByteArrayList{} << QByteArray("caf\xe9.nmea") << QByteArray();
  }
  void chosenNameKeepsItsBytes() {
    QFETCH(QByteArrayList, files);
    QFETCH(QByteArray, chosen);
    QFETCH(QByteArray, kml);
    const std::string folder =
        QFile::encodeName(Folder(QString("choice ") + QTest::currentDataTag())).toStdString();
    for (const QByteArray& file : files) {
      const std::filesystem::path path(folder + "/" + file.toStdString());
      std::filesystem::create_directories(path.parent_path());
      std::FILE* log = std::fopen(path.c_str(), "wb");
      QVERIFY(log != nullptr);
      std::fputs(kThreeLineLog, log);
      std::fclose(log);
    }
    dialog_.answer = QFile::decodeName(QByteArray::fromStdString(folder) + "/" + chosen);
    TestForm form(Services());
    Click(form, "CmdOuvrefich");

    std::vector<std::string> written;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
      if (entry.path().extension() == ".kml") written.push_back(entry.path().string());
    if (!kml.isEmpty()) {
      QVERIFY(errors_.isEmpty());
      QCOMPARE(written, std::vector<std::string>{folder + "/" + kml.toStdString()});
      return;
    }
    QVERIFY(written.empty());
    QVERIFY(form.shown.isEmpty());
    QCOMPARE(errors_,
             QStringList(QString::fromUtf8("Impossible d'ouvrir le fichier \u00AB\u00A0") +
                         dialog_.answer +
                         QString::fromUtf8("\u00A0\u00BB : son nom n'est pas en UTF-8 et la "
                                           "fen\u00EAtre de choix ne peut pas le rendre tel quel ; "
                                           "d\u00E9posez le fichier sur la fen\u00EAtre, ou "
                                           "renommez-le.")));
  }

  void clickDuringRunIsIgnored() {
    dialog_.answer = WriteFile(Folder("nested") + "/a.nmea", kThreeLineLog);
    TestForm form(Services());
    form.show();
    auto* button = Control<QPushButton>(form, "CmdOuvrefich");
    form.duringRun = [&] { QTest::mouseClick(button, Qt::LeftButton); };
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(dialog_.shown, 1);  // no second dialog, no nested run
    QCOMPARE(form.shown, kRevealedAtStart + kRevealedAtEnd);
    QVERIFY(button->isEnabled());
    QVERIFY(!button->isDown());
  }

  void shellActionsGetThePaths() {
    const QString folder = Folder("shell");
    dialog_.answer = WriteFile(folder + "/sortie v\u00e9lo.nmea", kThreeLineLog);
    TestForm form(Services());
    form.show();
    Click(form, "CmdOuvrefich");
    const QString kml = folder + "/sortie v\u00e9lo.kml";

    Click(form, "Image1");
    Click(form, "Label5");
    Click(form, "Image1");  // each click goes out again
    for (const char* inert : {"Label3", "Label8", "Label1", "Shape1", "Label7"}) Click(form, inert);
    QCOMPARE(opener_.opened, QStringList({kml, folder, kml}));

    // A press dragged off the globe before its release is no click.
    QWidget* globe = Control(form, "Image1");
    QTest::mousePress(globe, Qt::LeftButton);
    QTest::mouseRelease(globe, Qt::LeftButton, {}, QPoint(-5, -5));
    QCOMPARE(opener_.opened.size(), 3);
  }

  // What a screen reader finds after a run: each control's role, name and
  // Press action, and what a point at its centre finds, the front-most
  // control that says something. A control is among the window's children
  // exactly when it finds itself there.
  void readByAssistiveTechnology_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("foundAtCentre");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("spoken");
    QTest::addColumn<bool>("pressable");
    const auto text = QAccessible::StaticText;
    QTest::newRow("button") << "CmdOuvrefich"
                            << "CmdOuvrefich" << QAccessible::Button << "Choisir un fichier *.nmea"
                            << true;
    QTest::newRow("globe") << "Image1"
                           << "Image1" << QAccessible::Button
                           << "Ouvrir le fichier .kml avec l'application associ\u00e9e" << true;
    QTest::newRow("folder line") << "Label5"
                                 << "Label5" << QAccessible::Button
                                 << "Ouvrir le r\u00e9pertoire du fichier .kml" << true;
    QTest::newRow("count title") << "Label1"
                                 << "Label1" << text << "Nombres de points : 2" << false;
    QTest::newRow("count, read with its title") << "LblNbrPoints"
                                                << "Label1" << text << "" << false;
    QTest::newRow("banner") << "Label3"
                            << "Label3" << QAccessible::Notification
                            << "OPERATION TERMINEE, Nombres de points : 2" << false;
    QTest::newRow("globe line") << "Label8"
                                << "Label8" << text
                                << "--  Ouvrir le fichier avec Google Earth  --->" << false;
    QTest::newRow("home page") << "Label7"
                               << "Label7" << text << "ostrevane.local" << false;
    QTest::newRow("strip") << "Label4"
                           << "" << text << "" << false;
    QTest::newRow("marker, on the folder line") << "Shape1"
                                                << "Label5" << text << "" << false;
  }
  void readByAssistiveTechnology() {
    QFETCH(QString, name);
    QFETCH(QString, foundAtCentre);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, spoken);
    QFETCH(bool, pressable);
    Form1 form(Services());
    ShowAfterOneRun(form, WriteFile(Folder("spoken") + "/s.nmea", kThreeLineLog));
    QWidget* control = form.findChild<QWidget*>(name);
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&form);
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(control);

    const QPoint centre = control->mapToGlobal(control->rect().center());
    const QAccessibleInterface* found = window->childAt(centre.x(), centre.y());
    QCOMPARE(found ? found->object()->objectName() : QString(), foundAtCentre);
    const bool exposed = foundAtCentre == name;
    QCOMPARE(window->indexOfChild(read) >= 0, exposed);
    if (!exposed) return;
    QCOMPARE(read->role(), role);
    QCOMPARE(read->text(QAccessible::Name), spoken);
    QCOMPARE(
        read->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()),
        pressable);
  }

  // Tab goes from the button to the globe and the folder line, once they
  // show, and round again; Shift+Tab goes back. A click on either leaves
  // the focus where it was.
  void tabOrder() {
    dialog_.answer = WriteFile(Folder("tab") + "/t.nmea", kThreeLineLog);
    Form1 form(Services());
    ShowActive(form);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(FocusedName(), QString("CmdOuvrefich"));
    Click(form, "CmdOuvrefich");
    Click(form, "Image1");
    Click(form, "Label5");
    QCOMPARE(FocusedName(), QString("CmdOuvrefich"));
    QStringList order;
    for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Backtab}) {
      QTest::keyClick(QApplication::focusWidget(), key);
      order << FocusedName();
    }
    QCOMPARE(order, QStringList({"Image1", "Label5", "CmdOuvrefich", "Label5", "Image1"}));
  }

  // Return, Enter and Space press the focused globe or folder line, and so
  // does a screen reader's Press action.
  void keysAndPressActionOpen_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("key");  // 0 for the Press action
    QTest::newRow("globe, Return") << "Image1" << int(Qt::Key_Return);
    QTest::newRow("globe, Enter") << "Image1" << int(Qt::Key_Enter);
    QTest::newRow("globe, Space") << "Image1" << int(Qt::Key_Space);
    QTest::newRow("globe, Press") << "Image1" << 0;
    QTest::newRow("folder line, Return") << "Label5" << int(Qt::Key_Return);
    QTest::newRow("folder line, Space") << "Label5" << int(Qt::Key_Space);
    QTest::newRow("folder line, Press") << "Label5" << 0;
  }
  void keysAndPressActionOpen() {
    QFETCH(QString, name);
    QFETCH(int, key);
    const QString folder = Folder("keys");
    Form1 form(Services());
    ShowAfterOneRun(form, WriteFile(folder + "/k.nmea", kThreeLineLog));
    QWidget* control = form.findChild<QWidget*>(name);
    control->setFocus(Qt::TabFocusReason);
    if (key == 0) {
      QAccessible::queryAccessibleInterface(control)->actionInterface()->doAction(
          QAccessibleActionInterface::pressAction());
    } else {
      QTest::keyClick(control, Qt::Key(key));
    }
    QTRY_COMPARE(opener_.opened, QStringList(name == "Image1" ? folder + "/k.kml" : folder));
  }

  // A mouse user sees the design's pixels whatever has the focus; a
  // keyboard user sees a ring on the globe or round the folder line's
  // caption.
  void focusRingOnlyFromTheKeyboard() {
    Form1 form(Services());
    ShowAfterOneRun(form, WriteFile(Folder("ring") + "/r.nmea", kThreeLineLog));
    QWidget* globe = Control(form, "Image1");
    QWidget* line = Control(form, "Label5");
    const auto shot = [&form](const QWidget* control) {
      return form.grab(control->geometry()).toImage();
    };
    const QImage globeAtRest = shot(globe);
    const QImage lineAtRest = shot(line);

    Click(form, "Image1");
    Click(form, "Label5");
    globe->setFocus(Qt::OtherFocusReason);  // as the program would, not the user
    QCOMPARE(shot(globe), globeAtRest);
    QCOMPARE(shot(line), lineAtRest);

    QTest::keyClick(globe, Qt::Key_Tab);
    QCOMPARE(FocusedName(), QString("Label5"));
    QVERIFY(shot(line) != lineAtRest);
    QCOMPARE(shot(globe), globeAtRest);
    QTest::keyClick(line, Qt::Key_Backtab);
    QCOMPARE(shot(line), lineAtRest);
    QCOMPARE(shot(globe).pixelColor(0, 0), QColor(Qt::black));
  }

  // Where the desktop reports that nothing opened the KML file or its
  // folder, the window says so and what to do; a file deleted since is left
  // to the desktop, as before.
  void globeSaysWhenNothingOpensTheFile_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("viewerMissing");
    QTest::addColumn<bool>("openerMissing");
    QTest::addColumn<bool>("fileDeleted");
    QTest::addColumn<QString>("told");  // how the message begins; "" for none
    const QString noViewer =
        QString::fromUtf8("Aucune application n'est install\u00e9e pour ouvrir les fichiers .kml");
    const QString noOpener = QStringLiteral("Le programme xdg-open");
    QTest::newRow("viewer opens it") << "Image1" << false << false << false << "";
    QTest::newRow("no viewer") << "Image1" << true << false << false << noViewer;
    QTest::newRow("no viewer, file deleted") << "Image1" << true << false << true << "";
    QTest::newRow("no xdg-open") << "Image1" << true << true << false << noOpener;
    QTest::newRow("no file manager")
        << "Label5" << true << false << false
        << QString::fromUtf8("Aucune application n'a pu ouvrir le r\u00e9pertoire");
    QTest::newRow("no xdg-open, folder") << "Label5" << true << true << false << noOpener;
  }
  void globeSaysWhenNothingOpensTheFile() {
    QFETCH(QString, control);
    QFETCH(bool, viewerMissing);
    QFETCH(bool, openerMissing);
    QFETCH(bool, fileDeleted);
    QFETCH(QString, told);
    const QString folder = Folder("viewer");
    dialog_.answer = WriteFile(folder + "/g.nmea", kThreeLineLog);
    TestForm form(Services());
    form.show();
    Click(form, "CmdOuvrefich");
    if (fileDeleted) QFile::remove(folder + "/g.kml");
    opener_.fails = viewerMissing;
    if (openerMissing) opener_.failure = ShellOpener::Failure::NoOpener;

    Click(form, control.toLatin1().constData());
    QCOMPARE(noViewerNotices_.size(), told.isEmpty() ? 0 : 1);
    if (!told.isEmpty()) {
      QCOMPARE(errorOwner_, &form);
      QVERIFY2(noViewerNotices_.front().startsWith(told), qPrintable(noViewerNotices_.front()));
      QVERIFY(noViewerNotices_.front().endsWith(control == "Image1" ? folder + "/g.kml" : folder));
    }
    QVERIFY(errors_.isEmpty());
  }

  void failedRunShowsOneMessageAndGoesOn_data() {
    QTest::addColumn<QString>("blocker");  // what stands where the output goes
    QTest::newRow("missing source") << "";
    QTest::newRow("output is a folder") << "b.kml";
  }
  void failedRunShowsOneMessageAndGoesOn() {
    QFETCH(QString, blocker);
    const QString folder = Folder("failure");
    if (blocker.isEmpty()) {
      dialog_.answer = folder + "/absent.nmea";
    } else {
      dialog_.answer = WriteFile(folder + "/b.nmea", kThreeLineLog);
      QDir(folder).mkpath(blocker);
    }
    TestForm form(Services());
    form.show();
    Click(form, "CmdOuvrefich");
    QCOMPARE(errors_.size(), 1);
    QCOMPARE(errorOwner_, &form);
    QVERIFY2(errors_.front().contains(QFileInfo(dialog_.answer).fileName()) ||
                 errors_.front().contains(blocker),
             qPrintable(errors_.front()));
    QVERIFY(!form.shown.contains("Shape1"));

    dialog_.answer = WriteFile(folder + "/ok.nmea", kThreeLineLog);
    Click(form, "CmdOuvrefich");
    QCOMPARE(errors_.size(), 1);
    QVERIFY(form.shown.contains("Shape1"));
  }

  void closingDuringRunStopsItAndEndsTheProgram() {
    const QString folder = Folder("close");
    dialog_.answer = WriteFile(folder + "/c.nmea", kThreeLineLog);
    const QByteArray earlier("an earlier conversion\r\n");
    WriteFile(folder + "/c.kml", earlier);
    TestForm form(Services());
    form.show();
    form.duringRun = [&] { form.close(); };
    QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);

    // In the application's own event loop, as in the program, so that closing
    // the last window ends it.
    bool timedOut = false;
    QTimer::singleShot(0, &form, [&] { Click(form, "CmdOuvrefich"); });
    QTimer::singleShot(10000, qApp, [&] {
      timedOut = true;
      QCoreApplication::quit();
    });
    QCoreApplication::exec();

    QVERIFY(!timedOut);
    QCOMPARE(lastWindowClosed.size(), 1);
    QVERIFY(!form.Run().Running());
    QVERIFY(!form.isVisible());
    QVERIFY(!form.shown.contains("Shape1"));
    QCOMPARE(ReadFile(folder + "/c.kml"), earlier);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot),
             QStringList({"c.kml", "c.nmea"}));
  }

  void droppingOneLogConvertsIt_data() {
    QTest::addColumn<QStringList>("dropped");  // relative to the folder
    QTest::addColumn<bool>("converted");
    QTest::newRow("one log") << QStringList{"d.nmea"} << true;
    QTest::newRow("two logs") << QStringList{"d.nmea", "e.nmea"} << false;
    QTest::newRow("refused name") << QStringList{"d.NMEA"} << false;
    QTest::newRow("nothing but text") << QStringList{} << false;
  }
  void droppingOneLogConvertsIt() {
    QFETCH(QStringList, dropped);
    QFETCH(bool, converted);
    const QString folder = Folder("drop");
    QDir(folder).removeRecursively();
    QList<QUrl> urls;
    for (const QString& name : dropped)
      urls << QUrl::fromLocalFile(WriteFile(folder + "/" + name, kThreeLineLog));
    QMimeData data;
    if (urls.isEmpty()) data.setText("d.nmea");
    data.setUrls(urls);

    TestForm form(Services());
    form.show();
    QDragEnterEvent enter(QPoint(150, 150), Qt::CopyAction, &data, Qt::LeftButton, {});
    enter.setAccepted(false);
    QCoreApplication::sendEvent(&form, &enter);
    QCOMPARE(enter.isAccepted(), converted);
    QDropEvent drop(QPointF(150, 150), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&form, &drop);
    QCoreApplication::processEvents();

    QCOMPARE(form.shown.contains("Shape1"), converted);
    QCOMPARE(QFile::exists(folder + "/d.kml"), converted);
    QCOMPARE(dialog_.shown, 0);
  }

  // A log whose name is not valid UTF-8 converts when dropped, as from the
  // command line; one without a position says so in a box of the window's own,
  // once the end-of-run controls show.
  void droppedLatin1LogWithoutPositionsConvertsAndSaysSo() {
    const QString folder = Folder("latin1");
    QDir().mkpath(folder);
    const QByteArray name = QFile::encodeName(folder) + "/caf\xe9.nmea";
    const QByteArray voidFix = QByteArray::fromStdString(
        testing::WithChecksum("$GPRMC,000002,V,3351.600,N,15112.600,E,0,0,010120,,") + "\r\n");
    std::FILE* file = std::fopen(name.constData(), "wb");
    QVERIFY(file != nullptr);
    std::fwrite(voidFix.constData(), 1, std::size_t(voidFix.size()), file);
    std::fclose(file);
    QMimeData data;
    data.setUrls({QUrl::fromEncoded("file://" + name.toPercentEncoding("/"))});

    TestForm form(Services());
    form.show();
    form.duringRun = [&] { QVERIFY(notices_.isEmpty()); };
    QDragEnterEvent enter(QPoint(150, 150), Qt::CopyAction, &data, Qt::LeftButton, {});
    enter.setAccepted(false);
    QCoreApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(150, 150), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&form, &drop);
    QCoreApplication::processEvents();

    QVERIFY(errors_.isEmpty());
    QVERIFY(form.shown.contains("Shape1"));
    QCOMPARE(notices_.size(), 1);
    QCOMPARE(noticeOwner_, &form);
    QVERIFY(notices_.front().endsWith(
        QStringLiteral(" ne contient aucune position valide : le trajet est vide.")));
    const QByteArray kml = QFile::encodeName(folder) + "/caf\xe9.kml";
    QCOMPARE(::access(kml.constData(), F_OK), 0);
  }

  // "Open with": a log named to the program, relative to the folder it was
  // started from; a second name is not converted, and the window says so.
  void namedLogConvertsOrSaysWhyNot_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("secondName");  // empty: none
    QTest::addColumn<bool>("converted");
    QTest::addColumn<QByteArray>("kml");
    QTest::newRow("relative log") << QByteArray("f.nmea") << QByteArray() << true
                                  << QByteArray("f.kml");
    QTest::newRow("refused name") << QByteArray("f.txt") << QByteArray() << false << QByteArray();
    QTest::newRow("Latin-1 name") << QByteArray("caf\xe9.nmea") << QByteArray() << true
                                  << QByteArray("caf\xe9.kml");
    QTest::newRow("second name") << QByteArray("f.nmea") << QByteArray("g.nmea") << true
                                 << QByteArray("f.kml");
  }
  void namedLogConvertsOrSaysWhyNot() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, secondName);
    QFETCH(bool, converted);
    QFETCH(QByteArray, kml);
    const QString folder = Folder("named");
    QDir().mkpath(folder);
    const QByteArray log = QFile::encodeName(folder) + "/" + name;
    std::FILE* file = std::fopen(log.constData(), "wb");
    QVERIFY(file != nullptr);
    std::fputs(kThreeLineLog, file);
    std::fclose(file);
    const QString startFolder = QDir::currentPath();
    QDir::setCurrent(folder);
    TestForm form(Services());
    form.show();
    std::vector<std::string> names{name.toStdString()};
    if (!secondName.isEmpty()) names.push_back(secondName.toStdString());
    const auto outcome = form.ConvertNamedLogs(names);
    QDir::setCurrent(startFolder);

    QCOMPARE(outcome == run::ConversionRun::Outcome::Converted, converted);
    QCOMPARE(form.shown.contains("Shape1"), converted);
    QCOMPARE(dialog_.shown, 0);
    if (converted) {
      QStringList told;
      if (!secondName.isEmpty())
        told << QString::fromUtf8(
            "La fen\u00EAtre convertit un seul fichier \u00E0 la fois, le premier nomm\u00E9 ; "
            "celui-ci n'est pas converti : \u00AB\u00A0g.nmea\u00A0\u00BB. Pour en convertir "
            "plusieurs : ostrevane-convert.");
      QCOMPARE(errors_, told);
      QCOMPARE(::access((QFile::encodeName(folder) + "/" + kml).constData(), F_OK), 0);
      QVERIFY(!QFile::exists(folder + "/g.kml"));
    } else {
      QCOMPARE(errors_, QStringList(QString::fromUtf8(
                            "\u00AB\u00A0f.txt\u00A0\u00BB n'est pas un journal NMEA : son nom "
                            "doit finir par \u00AB\u00A0.nmea\u00A0\u00BB.")));
      QCOMPARE(errorOwner_, &form);
    }
  }

#ifdef __GLIBC__
  // A long session: the window's memory stays flat and every output is right.
  void twoHundredRunsKeepMemoryFlat() {
    const QString log = WriteFile(Folder("session") + "/trajet.nmea", kThreeLineLog);
    const QString kml = Folder("session") + "/trajet.kml";
    const QByteArray expected = QByteArray::fromStdString(
        testing::ExpectedKml({"11.5166666666667,48.1173,0", "11.5166666666667,48.1173,0",
                              "11.5166666666667,48.1173,0"}));
    dialog_.answer = log;
    Form1 form(Services());
    form.show();
    std::size_t afterWarmUp = 0;
    for (int run = 0; run < 200; ++run) {
      QFile::remove(kml);
      Click(form, "CmdOuvrefich");
      QCOMPARE(ReadFile(kml), expected);
      if (run == 9) afterWarmUp = mallinfo2().uordblks;
    }
    QVERIFY(errors_.isEmpty());
    QCOMPARE(dialog_.shown, 200);
    QVERIFY2(
        mallinfo2().uordblks <= afterWarmUp + 64 * 1024,
        qPrintable(
            QString("heap grew from %1 to %2 bytes").arg(afterWarmUp).arg(mallinfo2().uordblks)));
  }
#endif
};

}  // namespace ostrevane::ui

int main(int argc, char** argv) {
  // No display is needed: the window draws into memory.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ostrevane::ui::Form1Test test;
  return QTest::qExec(&test, argc, argv);
}

#include "form1_test.moc"
