// The progress windows on their own: a backup stopped by Abort while one large
// file is packed, and the outcome texts and colours.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "jobs/archive_job.h"
#include "testkit/job_kit.h"
#include "ui/tform2.h"
#include "ui_test_support.h"

namespace qb::test {
namespace {

using ui::TForm2;

bool red(const QLabel* label) {
    return label->palette().color(QPalette::WindowText) == QColor(Qt::red);
}

class BackupWindow : public WindowTest {};

TEST_F(BackupWindow, AbortWhileALargeFileIsPackedLeavesTheOlderBackupAsItWas) {
    const OEInstall install = installOutlookExpress(source);
    // One store file large enough that packing it takes many progress reports.
    const std::string big = install.storeFolders[0] + "\\Archive.dbx";
    writeHostFile(source.host(big), randomBytes(48u << 20, 7));
    const std::string path = "C:\\Backups\\OExpressBackup.ebk";
    source.writeFile(path, "the older backup");

    std::vector<std::string> identities, items;
    ListIdentitiesAndItems(kind::OutlookExpress, identities, items);
    QListWidget identityList, itemList;
    fillCheckList(identityList, identities);
    fillCheckList(itemList, items);

    TForm2 window;
    window.setJob(path, kind::OutlookExpress, &identityList, &itemList);
    int barWhenAborted = -1;
    size_t entryWhenAborted = 0;
    WhileModal abort([&] {
        const jobs::ArchiveJob& job = jobs::archiveJob();
        if (!window.running() || job.position == 0 || job.position > job.files.size()) return false;
        if (job.files[job.position - 1].source != big) return false;
        barWhenAborted = window.ProgressBar1->value();
        entryWhenAborted = job.position;
        QTest::mouseClick(window.Button1, Qt::LeftButton);
        return true;
    });
    WhileModal close([&] {
        if (window.running() || !window.isVisible() || window.Button1->property("tag") != 1)
            return false;
        // The outcome, before the person closes the window.
        EXPECT_EQ(window.Label3->text(), "Backup aborted");
        EXPECT_TRUE(red(window.Label3));
        EXPECT_EQ(window.Label1->text(), "Quillbox was backing up your email data to:");
        EXPECT_EQ(window.Button1->text(), "Close");
        EXPECT_TRUE(window.Button2->isVisible());
        EXPECT_EQ(window.ProgressBar1->value(), 100);
        QTest::mouseClick(window.Button1, Qt::LeftButton);
        return true;
    });
    window.exec();

    ASSERT_TRUE(abort.done()) << "the large file was never packed";
    ASSERT_TRUE(close.done());
    // The job stopped inside the large file, at the report after the click.
    EXPECT_EQ(jobs::archiveJob().position, entryWhenAborted);
    EXPECT_LT(barWhenAborted, 100);
    EXPECT_TRUE(jobs::archiveJob().aborted);
    EXPECT_FALSE(window.succeeded());
    EXPECT_EQ(source.readFile(path), "the older backup");
    // Nothing half written is left beside it.
    EXPECT_EQ(filesBelow("C:\\Backups"), (Names{"OExpressBackup.ebk"}));
}

TEST_F(BackupWindow, ABackupThatWritesNoFileIsReportedAsAnError) {
    // No adapter packs anything for a family code: the job reports no error of its
    // own, and the window must not call that a success.
    QListWidget identityList, itemList;
    fillCheckList(identityList, {"Main Identity"});
    TForm2 window;
    const std::string path = "C:\\Backups\\Nothing.ebk";
    window.setJob(path, kind::PocoMailFamily, &identityList, &itemList);
    WhileModal close([&] {
        if (window.running() || window.Button1->property("tag") != 1) return false;
        QTest::mouseClick(window.Button1, Qt::LeftButton);
        return true;
    });
    window.exec();
    ASSERT_TRUE(close.done());
    EXPECT_FALSE(window.succeeded());
    EXPECT_EQ(window.Label3->text(),
              "There was an error: No backup file was written: C:\\Backups\\Nothing.ebk");
    EXPECT_TRUE(red(window.Label3));
}

}  // namespace
}  // namespace qb::test
