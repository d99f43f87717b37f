#pragma once
// The advanced input page: the candidate search of the volume's parser on a worker (with
// Pause, Resume and Stop), then the candidates, the sectors per cluster and, for exFAT, the
// cluster heap offsets to choose from.

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <memory>

#include "recovery/AdvancedInput.h"
#include "recovery/VolumeSession.h"
#include "ui/UiFeedback.h"
#include "ui/WizardPage.h"
#include "ui/Worker.h"
#include "ui/controls/FolderTreeAdapter.h"

namespace quenlow::ui {

class ParceModeNtfsDlg;

class advanceOptions : public WizardPage {
    Q_OBJECT
public:
    advanceOptions(CMadrelApp& app, ParceModeNtfsDlg& parent);
    ~advanceOptions() override;

    const recovery::AdvancedInput& input() const { return input_; }
    // The parser whose candidates are offered (null when none was made); the browse page
    // goes on with it.
    recovery::VolumeSession* session() const { return session_.get(); }
    const fs::CandidateChoice& chosen() const { return chosen_; }
    bool searching() const { return worker_.running(); }
    // The tree the parser fills (shown by the browse page) and where the session reports
    // while this page is on top.
    FolderTreeAdapter& tree() { return tree_; }
    Feedback& feedback() { return feedback_; }

    bool leaving() override;
    void closing() override;

protected:
    void onNext() override;

private:
    void searchEnded();
    static void fill(QComboBox* box, const std::vector<recovery::AdvancedInput::Item>& items);

    ParceModeNtfsDlg& parent_;
    recovery::AdvancedInput input_;
    FolderTreeAdapter tree_;
    std::unique_ptr<recovery::VolumeSession> session_;
    fs::CandidateChoice chosen_;
    UiFeedback feedback_;
    QLabel* entryLabel_;
    QComboBox* entries_;
    QLabel* sectorsLabel_;
    QComboBox* sectors_;
    QLabel* heapLabel_;
    QComboBox* heaps_;
    QProgressBar* progress_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QLabel* status_;
    Worker worker_;  // last: goes first
};

}  // namespace quenlow::ui
