#include "ui_test_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/settings.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "ui/form1.h"
#include "ui/passwordform1.h"
#include "ui/windows.h"

namespace qb::test {

WhileModal::WhileModal(std::function<bool()> step, int limit)
    : step_(std::move(step)), limit_(limit) {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (done_) return;
        if (++passes_ > limit_ || step_()) {
            done_ = passes_ <= limit_;
            timer_.stop();
        }
    });
    timer_.start();
}

WhileModal::~WhileModal() {
    timer_.stop();
}

void fillCheckList(QListWidget& list, const std::vector<std::string>& names, bool checked) {
    list.clear();
    for (const std::string& n : names) {
        auto* item = new QListWidgetItem(QString::fromStdString(n), &list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(std::min(12, w->width() / 2), w->height() / 2));
}

void clickEntry(QTreeWidget* tree, QTreeWidgetItem* item) {
    ASSERT_NE(item, nullptr);
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

QTreeWidgetItem* entryLabelled(QTreeWidget* tree, const QString& text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

std::vector<std::string> lines(const QListWidget* list, bool checkedOnly) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i)
        if (!checkedOnly || list->item(i)->checkState() == Qt::Checked)
            out.push_back(list->item(i)->text().toStdString());
    return out;
}

void WindowTest::SetUp() {
    AdapterTest::SetUp();
}

void WindowTest::TearDown() {
    closeWindows();
    AdapterTest::TearDown();
}

void WindowTest::openMainWindow(const std::function<void(app::Settings&)>& adjust,
                                const std::string& openFile) {
    closeWindows();
    app::Settings& s = app::settings();
    s = app::Settings{};
    s.programFolder = "C:\\Program Files\\Quillbox\\";
    ui::CreateWindows();
    form = ui::windows().form1;
    form->openBackupFile = openFile;
    ASSERT_TRUE(form->FormCreate());
    if (adjust) adjust(app::settings());
    form->show();
}

void WindowTest::closeWindows() {
    if (!form) return;
    ui::DestroyWindows();
    form = nullptr;
}

std::unique_ptr<WhileModal> WindowTest::answering(std::vector<Answer> answers) {
    boxesBefore.clear();
    return std::make_unique<WhileModal>([this, answers] {
        auto* window = modal<ui::Tpasswordform1>();
        if (!window || !window->isVisible()) return false;
        const Answer& a = answers[boxesBefore.size()];
        boxesBefore.push_back(boxes.boxes.size());
        EXPECT_TRUE(window->Edit1->text().isEmpty());
        QTest::keyClicks(window->Edit1, QString::fromStdString(a.typed));
        QTest::mouseClick(a.ok ? window->Button1 : window->Button2, Qt::LeftButton);
        return boxesBefore.size() == answers.size();
    });
}

std::string WindowTest::bobWithAnnsBackup(const std::string& as) {
    installOutlookExpress(source);
    const std::string made = backupThroughProgram(source, "oexpress", "OExpressBackup ");
    EXPECT_FALSE(made.empty());
    if (made.empty()) return {};
    use(target);
    installOutlookExpress(target, {{"Main Identity", kOld}});
    carry(source, made, target, as);
    return made;
}

std::string WindowTest::bobWithAnnsProtectedBackup(const std::string& password,
                                                   const std::string& as) {
    installOutlookExpress(source);
    ::setenv("QUILLBOX_PASSWORD", password.c_str(), 1);
    const ProgramRun made =
        runQuillbox(source, {"/b", "/c:oexpress", "/p:C:\\Backups\\Protected", "-"});
    ::unsetenv("QUILLBOX_PASSWORD");
    EXPECT_EQ(made.status, 0) << made.out << made.err;
    if (made.status != 0) return {};
    use(source);
    const auto files = platform::findFiles("C:\\Backups\\Protected\\*.ebk", platform::faAnyFile);
    EXPECT_EQ(files.size(), 1u);
    if (files.size() != 1) return {};
    const std::string inbox = readHostFile(source.host("C:\\users\\ann") / kInbox);
    use(target);
    installOutlookExpress(target, {{"Main Identity", kOld}});
    carry(source, "C:\\Backups\\Protected\\" + files[0].name, target, as);
    return inbox;
}

void WindowTest::expectRestoredAlike(const FakeMachine& restored, const FakeMachine& byProgram) {
    const auto userFiles = [](const FakeMachine& m) {
        std::map<std::string, std::string> out;
        const fs::path root = m.host("C:\\users\\bob");
        for (const std::string& name : treeOf(root, false))
            if (!name.starts_with("Temp/") && !name.starts_with("Documents/AutoBackup/"))
                out[name] = readHostFile(root / name);
        return out;
    };
    const auto files = userFiles(restored);
    EXPECT_EQ(files, userFiles(byProgram));
    EXPECT_TRUE(files.count(kInbox));
    const FakeMachine& before = *current_;
    const std::string storeRoot =
        "\\Identities\\" + kMain + "\\Software\\Microsoft\\Outlook Express\\5.0";
    use(restored);
    const std::string setting = registryText(RootKey::CurrentUser, storeRoot, "Store Root");
    EXPECT_FALSE(setting.empty());
    use(byProgram);
    EXPECT_EQ(setting, registryText(RootKey::CurrentUser, storeRoot, "Store Root"));
    use(before);
}

void WindowTest::addCdDrive() {
    fs::create_directories(current_->prefix() / "cdrom");
    fs::create_symlink("../cdrom", current_->prefix() / "dosdevices" / "d:");
    setString(RootKey::LocalMachine, "\\Software\\Wine\\Drives", "d:", "cdrom");
}

void WindowTest::expectNowhereOn(const FakeMachine& m, const std::string& secret) {
    platform::flushRegistry();
    for (const auto& e : fs::recursive_directory_iterator(m.prefix())) {
        if (!e.is_regular_file() || e.is_symlink()) continue;
        EXPECT_EQ(readHostFile(e.path()).find(secret), std::string::npos) << e.path();
    }
}

}  // namespace qb::test
