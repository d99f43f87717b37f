#pragma once
// The raw recovery page: loads the signature files (the default one beside the program
// and/or one the user picks), carves the chosen volume on a worker with progress, Pause,
// Resume and Stop, shows the finds as a check-box tree of categories with a file list, and
// saves the checked finds into a folder the user chooses. Every Parse adds a run of its
// own to the tree; the finds of every run can be saved.

#include <QCheckBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <map>
#include <vector>

#include "disk/WorkControl.h"
#include "recovery/RawPage.h"
#include "ui/UiFeedback.h"
#include "ui/WizardPage.h"
#include "ui/Worker.h"
#include "ui/controls/CXHtmlTree.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::ui {

class RawRecoveryDialog : public WizardPage {
    Q_OBJECT
public:
    RawRecoveryDialog(CMadrelApp& app, const volumes::VolumeRecord& volume);
    ~RawRecoveryDialog() override;

    const volumes::VolumeRecord& volume() const { return volume_; }
    bool busy() const { return busy_; }
    const recovery::RawRuns& runs() const { return runs_; }
    CXHtmlTree* tree() const { return tree_; }
    // The finds checked in the tree, by run and find.
    std::vector<recovery::FindRef> checkedFinds() const;
    const recovery::RawSaveReport& lastReport() const { return report_; }

    bool leaving() override;
    void closing() override;

protected:
    // Save: the checked finds into the destination folder.
    void onNext() override;

private:
    void parse();
    void parseEnded(size_t run);
    void saveEnded(const QString& destination);
    void setRunning(bool running);
    void apply(size_t run, const recovery::TreeChange& change);
    void forget(QTreeWidgetItem* item);
    void showChildren(QTreeWidgetItem* item);
    QIcon iconFor(const QString& name);

    volumes::VolumeRecord volume_;
    std::string defaultPath_;
    recovery::RawRuns runs_;
    recovery::RawSaveReport report_;
    WorkControl control_;
    UiFeedback feedback_;
    bool busy_ = false;

    QLineEdit* path_;
    QPushButton* pick_;
    QPushButton* parse_;
    QCheckBox* loadDefault_;
    QPushButton* setting_;
    CXHtmlTree* tree_;
    QTableWidget* list_;
    QProgressBar* progress_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QLabel* status_;
    QLineEdit* destination_;
    QPushButton* browse_;

    std::map<std::pair<size_t, fs::TreeItem>, QTreeWidgetItem*> items_;  // (run, engine item)
    QHash<QTreeWidgetItem*, recovery::FindRef> finds_;
    QHash<QTreeWidgetItem*, bool> folders_;  // items with the folder image
    QHash<QString, QIcon> icons_;
    Worker worker_;  // last: goes first
};

}  // namespace quenlow::ui
