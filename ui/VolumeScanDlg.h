#pragma once
// The browse page: the chosen volume parsed on a worker by the parser its file system
// names (or, in Advanced mode, by the parser the advanced input page chose a candidate
// on), then its folder tree and file list, the name search, and saving a folder or a file.
// One piece of work runs at a time; while it runs the tree, Search, Save and Back are held
// (Save says why), so nothing reads the parser's table while a worker writes it and the
// page never goes while its worker reads the parser.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QToolButton>
#include <functional>
#include <memory>

#include "output/FolderSaver.h"
#include "recovery/BrowseRules.h"
#include "recovery/FolderView.h"
#include "recovery/VolumeSession.h"
#include "ui/UiFeedback.h"
#include "ui/WizardPage.h"
#include "ui/Worker.h"
#include "ui/controls/CCheckListCtrl.h"
#include "ui/controls/CXHtmlTree.h"
#include "ui/controls/FolderTreeAdapter.h"

namespace quenlow::ui {

class ParceModeNtfsDlg;
class advanceOptions;

class VolumeScanDlg : public WizardPage {
    Q_OBJECT
public:
    // `advanced`: the advanced input page whose parser and lists this page goes on with.
    VolumeScanDlg(CMadrelApp& app, ParceModeNtfsDlg& modes, advanceOptions* advanced = nullptr);
    ~VolumeScanDlg() override;

    recovery::VolumeSession* session() const { return session_; }
    FolderTreeAdapter& folderTree() const { return *tree_; }
    const recovery::BrowseState& state() const { return state_; }
    bool working() const { return worker_.running() || state_.busy(); }
    const output::SaveReport& lastSave() const { return lastSave_; }

    bool leaving() override;
    void closing() override;

protected:
    void onNext() override {}

private:
    void buildControls();
    void startParse(ParceModeNtfsDlg& modes);
    void parseEnded();
    void applyState();
    void showRunControls(bool shown);
    void greyTree(bool grey);
    void releasePauses();

    // Tree events: each runs only when the volume is browsable, and lists what it changed.
    void browse(QTreeWidgetItem* item, const std::function<void(fs::TreeItem)>& step);
    void doubleClicked(QTreeWidgetItem* item);
    void drawRows();
    void listCheckClicked(int row, bool wasChecked);

    void startSearch();
    void startSave();
    void runSave(const std::function<output::SaveReport()>& save,
                 const std::function<void(const output::SaveReport&)>& after);

    advanceOptions* advanced_;
    std::unique_ptr<FolderTreeAdapter> ownTree_;
    FolderTreeAdapter* tree_;
    std::unique_ptr<recovery::VolumeSession> ownSession_;
    recovery::VolumeSession* session_ = nullptr;
    std::unique_ptr<recovery::FolderView> view_;
    recovery::BrowseState state_;
    fs::ParseOutcome parseOutcome_;
    output::SaveReport lastSave_;
    int drawnRevision_ = -1;
    bool inheritChecks_ = false;
    UiFeedback feedback_;

    QLineEdit* volumeData_;
    QLineEdit* pattern_;
    QPushButton* search_;
    CXHtmlTree* treeView_;
    CCheckListCtrl* list_;
    QProgressBar* progress_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QLabel* status_;
    QLabel* detail_;
    QLineEdit* output_;
    QToolButton* chooseFolder_;
    QPushButton* save_;
    QComboBox* advEntries_;
    QComboBox* advSectors_;
    QComboBox* advHeaps_;
    std::vector<QWidget*> advancedWidgets_;
    QPalette treePalette_;
    Worker worker_;  // last: goes first
};

}  // namespace quenlow::ui
