#pragma once
// The member page: the machine's disks, the members chosen (newest on top), their partition
// offsets, the RAID level, the RAID-5 parity layout and the stripe size. Next writes them
// into the RAID virtual disk.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeWidget>
#include <array>

#include "recovery/MemberList.h"
#include "ui/WizardPage.h"
#include "ui/Worker.h"

namespace quenlow::ui {

class RaidHardDisksDlg : public WizardPage {
    Q_OBJECT
public:
    RaidHardDisksDlg(CMadrelApp& app, recovery::MemberList::Kind kind);
    recovery::MemberList& members() { return members_; }
    void closing() override { worker_.join(); }

protected:
    void onNext() override;

private:
    void addMember(const QString& path);
    void showRows(int select);
    void chooseLevel(int level);
    void chooseLayout(int layout);
    // Runs the array detection over the members on a worker and offers its proposal.
    void proposeArray();
    void showSettings();

    recovery::MemberList members_;
    QTreeWidget* available_;
    QTreeWidget* selected_;
    QLineEdit* offsetEdit_;
    QRadioButton* raid0_;
    QRadioButton* raid5_;
    std::array<QCheckBox*, 3> layouts_{};
    QComboBox* stripe_;
    recovery::MemberList::ProposalOutcome proposal_;  // written by the worker, so declared before it
    Worker worker_;
};

}  // namespace quenlow::ui
