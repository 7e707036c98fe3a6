// The machine as the Windows shell shows it: "My Computer", every drive letter of
// the machine, and below them folders and files, read when a level is opened.
// Every entry carries its Windows path.
#pragma once

#include <QTreeWidget>

#include <string>
#include <vector>

namespace qb::ui {

// The drive letters the machine has, in order ("C", "D", ..., "Z").
std::vector<char> MachineDrives();

class MachineTree : public QTreeWidget {
    Q_OBJECT
  public:
    explicit MachineTree(QWidget* parent = nullptr);

    // Reads the drives anew (closing every opened level).
    void reload();
    // The Windows path of the selected entry; empty for "My Computer" or none.
    std::string selectedPath() const;
    // Reads the drives anew, opens the levels down to `winPath` and selects its
    // deepest existing entry.
    // False when not even its drive is there.
    bool goTo(const std::string& winPath);

    static std::string pathOf(const QTreeWidgetItem* item);

    // Folders only, no files (for a tree beside a file list). Takes effect on the
    // levels read after it is set.
    void setFoldersOnly(bool on) { foldersOnly_ = on; }

  private:
    void fill(QTreeWidgetItem* item);
    QTreeWidgetItem* childNamed(QTreeWidgetItem* parent, const std::string& name);

    QTreeWidgetItem* computer_ = nullptr;
    bool foldersOnly_ = false;
};

}  // namespace qb::ui
