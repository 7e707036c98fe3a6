#include "ui/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/settings.h"
#include "app/startup.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "support/interaction.h"
#include "ui/about_form.h"
#include "ui/artwork.h"
#include "ui/form1_backup.h"
#include "ui/form1_options.h"
#include "ui/form1_restore.h"
#include "ui/form1_schedule.h"
#include "ui/form1_wizard.h"
#include "ui/tray_icon.h"
#include "ui/windows.h"

namespace qb::ui {

namespace {

// The banner: the program's picture across the top; a click opens the manual.
class Banner : public QLabel {
  public:
    explicit Banner(QWidget* parent) : QLabel(parent) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        PaintBanner(p, rect());
    }
};

// The designed client area, at the font the layout was drawn for (13 pixels a line).
constexpr int kDesignWidth = 558;
constexpr int kDesignHeight = 434;
constexpr int kDesignLineHeight = 13;

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent), tray1_(std::make_unique<TIconTaskBar>(this)) {
    setObjectName("Form1");
    setWindowTitle("Quillbox");
    setWindowIcon(AppIcon());
    // A fixed-size window: a close and a minimise button, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    tray1_->SetHint("Quillbox");
    lngM_.SetLngINISupp(&lngP_);
    buildFrame();
    backupTab_ = std::make_unique<BackupTab>(*this, panels_[1]);
    restoreTab_ = std::make_unique<RestoreTab>(*this, panels_[2]);
    scheduleTab_ = std::make_unique<ScheduleTab>(*this, panels_[4]);
    optionsTab_ = std::make_unique<OptionsTab>(*this, panels_[3]);
    wizardPages_ = std::make_unique<WizardPages>(*this, pageControl2_, panel7_);
}

Form1::~Form1() {
    // FormDestroy: the icon shows only during command-line runs.
    if (tray1_ && tray1_->Visible) tray1_->Visible = false;
}

void Form1::buildFrame() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    image1_ = new Banner(this);
    image1_->setObjectName("Image1");
    image1_->setCursor(Qt::PointingHandCursor);
    image1_->setToolTip("Quillbox manual");
    image1_->setAccessibleName("Quillbox");
    image1_->setFixedHeight(70);
    image1_->installEventFilter(this);
    layout->addWidget(image1_);

    modes_ = new QStackedWidget(this);
    modes_->setObjectName("Modes");
    auto* middle = new QWidget(this);
    auto* middleLayout = new QVBoxLayout(middle);
    middleLayout->setContentsMargins(6, 6, 6, 0);
    middleLayout->addWidget(modes_);
    layout->addWidget(middle, 1);

    pageControl1_ = new QTabWidget(modes_);
    pageControl1_->setObjectName("PageControl1");
    // Tab order as on screen; the sheet names are the language file's.
    const struct {
        int sheet;
        const char* text;
    } sheets[] = {{1, "Backup"}, {2, "Restore"}, {4, "Schedule"}, {3, "Options"}};
    for (const auto& s : sheets) {
        auto* page = new QWidget;
        page->setObjectName(QString("TabSheet%1").arg(s.sheet));
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->setContentsMargins(0, 0, 0, 0);
        auto* panel = new QWidget(page);
        panel->setObjectName(QString("Panel%1").arg(s.sheet));
        pageLayout->addWidget(panel);
        panels_[s.sheet] = panel;
        pageControl1_->addTab(page, s.text);
    }
    modes_->addWidget(pageControl1_);

    // The wizard: its page set above a bar with the Back and Next buttons.
    panel6_ = new QWidget(modes_);
    panel6_->setObjectName("Panel6");
    auto* wizardLayout = new QVBoxLayout(panel6_);
    wizardLayout->setContentsMargins(0, 0, 0, 0);
    wizardLayout->setSpacing(0);
    pageControl2_ = new QTabWidget(panel6_);
    pageControl2_->setObjectName("PageControl2");
    pageControl2_->tabBar()->hide();
    pageControl2_->setDocumentMode(true);
    wizardLayout->addWidget(pageControl2_, 1);
    panel7_ = new QWidget(panel6_);
    panel7_->setObjectName("Panel7");
    wizardLayout->addWidget(panel7_);
    modes_->addWidget(panel6_);

    panel5_ = new QFrame(this);
    panel5_->setObjectName("Panel5");
    panel5_->setMinimumHeight(41);
    auto* bar = new QHBoxLayout(panel5_);
    bar->setContentsMargins(10, 6, 10, 6);
    button11_ = new QPushButton("About", panel5_);
    button11_->setObjectName("Button11");
    button10_ = new QPushButton("Web", panel5_);
    button10_->setObjectName("Button10");
    button9_ = new QPushButton("Help", panel5_);
    button9_->setObjectName("Button9");
    button8_ = new QPushButton("Exit", panel5_);
    button8_->setObjectName("Button8");
    // Standard mode's way into the wizard; the wizard's welcome page leads back.
    button42_ = new QPushButton("Wizard", panel5_);
    button42_->setObjectName("Button42");
    bar->addWidget(button11_);
    bar->addWidget(button42_);
    bar->addStretch(1);
    bar->addWidget(button10_);
    bar->addWidget(button9_);
    bar->addWidget(button8_);
    layout->addWidget(panel5_);
    connect(button11_, &QPushButton::clicked, this, &Form1::Button11Click);
    connect(button10_, &QPushButton::clicked, this, &Form1::Button10Click);
    connect(button9_, &QPushButton::clicked, this, &Form1::Button9Click);
    connect(button8_, &QPushButton::clicked, this, &Form1::Button8Click);
    connect(button42_, &QPushButton::clicked, this, &Form1::Button42Click);
}

QWidget* Form1::tabPanel(int sheet) const {
    return sheet >= 1 && sheet <= 4 ? panels_[sheet] : nullptr;
}

bool Form1::FormCreate(std::optional<bool> archiveLoaded) {
    // Settings, language file, job module and adapters (unless the command line
    // has already started them).
    const bool loaded = archiveLoaded ? *archiveLoaded : app::StartUp();
    ApplyLanguageAndSettings();
    backupTab_->formCreate();
    restoreTab_->formCreate();
    scheduleTab_->formCreate();
    optionsTab_->formCreate();
    wizardPages_->formCreate();
    pageControl1_->setCurrentIndex(0);
    pageControl2_->setCurrentIndex(0);
    ShowStandardMode();
    fitSize();
    placeWindow();
    created_ = true;
    // "/o FILE": the wizard's restore on that backup's items.
    if (!openBackupFile.empty()) wizardPages_->openBackupFile(openBackupFile);
    return loaded;
}

void Form1::fitSize() {
    // The designed size at the designed font, grown with the font in use and
    // with whatever the texts need.
    const double scale =
        std::max(1.0, fontMetrics().height() / static_cast<double>(kDesignLineHeight));
    QSize size(static_cast<int>(kDesignWidth * scale), static_cast<int>(kDesignHeight * scale));
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // Texts may have changed (another language): the layouts measure again.
    for (QLayout* l : findChildren<QLayout*>())
        l->invalidate();
    layout()->activate();
    size = size.expandedTo(sizeHint()).expandedTo(minimumSizeHint());
    // Once laid out, the tab sets keep the hints of their first measuring: grow by
    // what any page lacks now.
    if (testAttribute(Qt::WA_WState_Polished) && isVisible()) {
        QList<QWidget*> pages{panels_[1], panels_[2], panels_[3], panels_[4]};
        for (int i = 0; i < pageControl2_->count(); ++i)
            pages.append(pageControl2_->widget(i));
        for (QWidget* page : pages) {
            const QSize need = page->minimumSizeHint();
            size = size.expandedTo(QSize(width() + std::max(0, need.width() - page->width()),
                                         height() + std::max(0, need.height() - page->height())));
        }
    }
    setFixedSize(size);
}

void Form1::placeWindow() {
    app::Settings& s = app::settings();
    int x = s.windowX;
    int y = s.windowY;
    if (QScreen* screen = this->screen() ? this->screen() : QApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        x = std::min(x, area.width() - 50);
        y = std::min(y, area.height() - 150);
    }
    move(x, y);
}

void Form1::ApplyLanguageAndSettings() {
    app::Settings& s = app::settings();
    app::ChooseLanguageFile(s);
    lngP_.SetFileName(s.languageFile);
    lngM_.SetFileName(s.languageFile);
    jobs::JobTexts().SetFileName(s.languageFile);
    try {
        lngP_.Apply();
        lngM_.CloseFile();
        lngM_.SetFileName(s.languageFile);
        lngM_.OpenFile();
    } catch (const OperationAbandoned&) {
    }
    backupTab_->applySettings();
    restoreTab_->applySettings();
    scheduleTab_->applySettings();
    optionsTab_->applySettings();
    wizardPages_->applySettings();
    if (!platform::directoryExists(s.restoreFolder)) s.restoreFolder = s.documentsFolder;
}

void Form1::ReapplyLanguage() {
    lngP_.ClearFileName();
    lngM_.CloseFile();
    for (QWidget* window : windows().all())
        RestoreDesignTexts(*window);
    ApplyLanguageAndSettings();
    optionsTab_->formShow();
    if (created_) fitSize();
}

void Form1::SaveWindowAndFolderSettings() {
    app::Settings& s = app::settings();
    s.windowX = x();
    s.windowY = y();
    app::SaveWindowAndFolderSettings(s);
}

bool Form1::builtInTexts() {
    return app::settings().languageName == "English";
}

void Form1::ShowStandardMode() {
    modes_->setCurrentWidget(pageControl1_);
    button42_->show();
}

void Form1::ShowWizardMode() {
    modes_->setCurrentWidget(panel6_);
    button42_->hide();
}

bool Form1::wizardMode() const {
    return modes_->currentWidget() == panel6_;
}

void Form1::Button42Click() {
    wizardPages_->showPage(WizardPages::Welcome);
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void Form1::FormShow() {
    ApplyLanguageAndSettings();
    setWindowTitle("Quillbox");
    if (builtInTexts()) button10_->setText("Web");
    backupTab_->formShow();
    restoreTab_->formShow();
    scheduleTab_->formShow();
    optionsTab_->formShow();
    wizardPages_->formShow();
}

void Form1::closeEvent(QCloseEvent* event) {
    // FormCloseQuery: a running job stops at its next progress report.
    jobs::archiveJob().abortRequest = true;
    // FormClose.
    backupTab_->formClose();
    restoreTab_->formClose();
    scheduleTab_->formClose();
    optionsTab_->formClose();
    wizardPages_->formClose();
    SaveWindowAndFolderSettings();
    event->accept();
    // The other windows go with the main window.
    for (QWidget* window : windows().all())
        if (window != this) window->close();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == image1_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Image1Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString Form1::manualPath() {
    // Beside the program (a build), or in the installation's share folder.
    const QString bin = QApplication::applicationDirPath();
    for (const QString& candidate :
         {bin + "/manual/index.html", bin + "/../share/doc/quillbox/manual/index.html",
          bin + "/../../docs/manual/index.html"})
        if (QFileInfo::exists(candidate)) return QFileInfo(candidate).canonicalFilePath();
    return {};
}

bool Form1::OpenManual() {
    const QString path = manualPath();
    return !path.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void Form1::Image1Click() {
    OpenManual();
}

void Form1::Button10Click() {
    OpenManual();
}

void Form1::Button9Click() {
    if (!OpenManual())
        interaction().messageBox(" Help can't find!", MsgIcon::Information, MsgButtons::Ok);
}

void Form1::Button11Click() {
    if (TForm4* about = windows().form4) about->exec();
}

void Form1::Button8Click() {
    const std::string staging = jobs::archiveJob().stagingFolder;
    if (!staging.empty()) {
        const std::string manifest = staging + "\\infobak.ini";
        if (platform::fileExists(manifest)) platform::deleteFile(manifest);
    }
    close();
}

}  // namespace qb::ui
