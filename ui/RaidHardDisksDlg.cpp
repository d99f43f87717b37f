#include "ui/RaidHardDisksDlg.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "platform/BlockDevices.h"
#include "ui/CMadrelApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/Messages.h"

namespace quenlow::ui {

using recovery::MemberList;

namespace {

QTreeWidget* listWidget(QWidget* parent, const QStringList& columns, int width, const char* name) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setHeaderLabels(columns);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAlternatingRowColors(true);
    for (int c = 0; c < columns.size(); ++c) list->setColumnWidth(c, width);
    return list;
}

}  // namespace

RaidHardDisksDlg::RaidHardDisksDlg(CMadrelApp& app, MemberList::Kind kind)
    : WizardPage(app, "RaidHardDisksDlg"), members_(kind, app.context()) {
    const bool drives = kind == MemberList::Kind::Drives;
    auto* grid = new QGridLayout;
    body()->addLayout(grid, 1);

    grid->addWidget(new QLabel(tr("Available:"), this), 0, 0);
    available_ = listWidget(this, {tr("HardDisk")}, 100, "available");
    grid->addWidget(available_, 1, 0, 4, 1);
    grid->addWidget(new QLabel(tr("Selected:"), this), 0, 2);
    selected_ = listWidget(this, {drives ? tr("HardDisk") : tr("VHD-FILE:"), tr("PARTITION_OFFSET")}, 150, "selected");
    grid->addWidget(selected_, 1, 2, 4, 2);

    auto* addDrive = button(tr("Add>>"), tr("Add"), "addDrive");
    auto* addVhd = button(tr("Add VHD File"), tr("Add VHD file"), "addVhd");
    auto* addImage = button(tr("Add Image File"), tr("Add a raw disk image file"), "addImage");
    auto* addMissing = button(tr("Add Missing Disk"), tr("Add Missing Disk"), "addMissing");
    auto* remove = button(tr("Remove"), tr("Remove"), "remove");
    // The array detection reads the members and fills level, layout, stripe, member order
    // and offsets.
    auto* propose = button(tr("Propose Array"),
                           tr("Read the members (in any order, MISSING for one that is gone) and propose the RAID "
                              "level, layout, stripe size, member order and offsets"),
                           "proposeArray");
    auto* column = new QVBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(addDrive), static_cast<QWidget*>(addVhd), static_cast<QWidget*>(addImage),
                       static_cast<QWidget*>(addMissing), static_cast<QWidget*>(remove), static_cast<QWidget*>(propose)})
        column->addWidget(w);
    column->addStretch(1);
    grid->addLayout(column, 1, 1, 4, 1);

    auto* offsetRow = new QHBoxLayout;
    offsetEdit_ = new QLineEdit(this);
    offsetEdit_->setObjectName("offsetEdit");
    auto* change = button(tr("change Partition offset"), tr("Change partition offset of the selected disk"), "changeOffset");
    offsetRow->addWidget(offsetEdit_);
    offsetRow->addWidget(change);
    grid->addLayout(offsetRow, 5, 2, 1, 2);

    auto* levels = new QHBoxLayout;
    raid0_ = new QRadioButton(tr("RAID-0"), this);
    raid0_->setObjectName("raid0");
    raid5_ = new QRadioButton(tr("RAID-5"), this);
    raid5_->setObjectName("raid5");
    auto* levelGroup = new QButtonGroup(this);
    levelGroup->addButton(raid0_);
    levelGroup->addButton(raid5_);
    levels->addWidget(raid0_);
    levels->addWidget(raid5_);
    levels->addStretch(1);
    levels->addWidget(new QLabel(tr("STRIP_SIZE in sectors:"), this));
    stripe_ = new QComboBox(this);
    stripe_->setObjectName("stripe");
    for (const auto& s : MemberList::stripeEntries()) stripe_->addItem(qs(s));
    stripe_->setCurrentText(qs(members_.stripeText));
    levels->addWidget(stripe_);
    grid->addLayout(levels, 6, 0, 1, 4);
    auto* layoutRow = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        layouts_[i] = new QCheckBox(qs(MemberList::layoutTexts()[i]), this);
        layouts_[i]->setObjectName(QStringLiteral("layout%1").arg(i + 1));
        layouts_[i]->setEnabled(false);
        layoutRow->addWidget(layouts_[i]);
        connect(layouts_[i], &QCheckBox::clicked, this, [this, i] { chooseLayout(i + 1); });
    }
    grid->addLayout(layoutRow, 7, 0, 1, 4);

    connect(raid0_, &QRadioButton::clicked, this, [this] { chooseLevel(0); });
    connect(raid5_, &QRadioButton::clicked, this, [this] { chooseLevel(5); });
    connect(stripe_, &QComboBox::currentTextChanged, this, [this](const QString& t) { members_.stripeText = t.toStdString(); });
    connect(addDrive, &QPushButton::clicked, this, [this] {
        auto* item = available_->currentItem();
        if (item != nullptr && !item->text(0).isEmpty()) addMember(item->text(0));
    });
    connect(addVhd, &QPushButton::clicked, this, [this] { addMember(chooseFile(this, tr("Add VHD File"))); });
    connect(addImage, &QPushButton::clicked, this, [this] { addMember(chooseFile(this, tr("Add Image File"))); });
    connect(addMissing, &QPushButton::clicked, this, [this] {
        members_.addMissing();
        showRows(0);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = selected_->currentItem() != nullptr ? selected_->indexOfTopLevelItem(selected_->currentItem()) : -1;
        if (std::string text = members_.remove(row); !text.empty()) showMessage(this, qs(text));
        else showRows(-1);
    });
    connect(propose, &QPushButton::clicked, this, [this] { proposeArray(); });
    connect(change, &QPushButton::clicked, this, [this] {
        const int row = selected_->currentItem() != nullptr ? selected_->indexOfTopLevelItem(selected_->currentItem()) : -1;
        if (members_.changeOffset(row, offsetEdit_->text().toStdString())) showRows(row);
    });

    if (drives) {
        addVhd->hide();
        // The machine's whole disks, the last one on top.
        for (const auto& d : platform::listWholeDisks()) {
            auto* item = new QTreeWidgetItem(QStringList{qs(d.path)});
            item->setToolTip(0, QStringLiteral("%1 (%2 sectors)").arg(qs(d.model)).arg(d.sizeBytes / 512));
            available_->insertTopLevelItem(0, item);
        }
    } else {
        available_->setEnabled(false);
        addDrive->hide();
        addImage->hide();
    }
}

void RaidHardDisksDlg::addMember(const QString& path) {
    if (path.isEmpty()) return;
    if (std::string question = members_.addedAgainQuestion(path.toStdString());
        !question.empty() && !askYesNo(this, qs(question)))
        return;
    std::string error;
    if (!members_.add(path.toStdString(), error)) {
        if (!error.empty()) showMessage(this, qs(error), QMessageBox::Warning);
        return;
    }
    showRows(0);
}

void RaidHardDisksDlg::showRows(int select) {
    selected_->clear();
    for (const auto& row : members_.rows()) selected_->addTopLevelItem(new QTreeWidgetItem(QStringList{qs(row.name), qs(row.offset)}));
    if (select >= 0 && select < selected_->topLevelItemCount()) selected_->setCurrentItem(selected_->topLevelItem(select));
}

void RaidHardDisksDlg::chooseLevel(int level) {
    members_.chooseLevel(level);
    for (int i = 0; i < 3; ++i) {
        layouts_[i]->setEnabled(members_.layoutsEnabled());
        layouts_[i]->setChecked(members_.layout() == i + 1);
    }
}

void RaidHardDisksDlg::chooseLayout(int layout) {
    members_.chooseLayout(layout);
    for (int i = 0; i < 3; ++i) layouts_[i]->setChecked(members_.layout() == i + 1);
}

void RaidHardDisksDlg::showSettings() {
    raid0_->setChecked(members_.level() == 0);
    raid5_->setChecked(members_.level() == 5);
    for (int i = 0; i < 3; ++i) {
        layouts_[i]->setEnabled(members_.layoutsEnabled());
        layouts_[i]->setChecked(members_.layout() == i + 1);
    }
    stripe_->setCurrentText(qs(members_.stripeText));
}

void RaidHardDisksDlg::proposeArray() {
    if (members_.rows().empty()) {
        showMessage(this, tr("Add the members first: in any order, with Add Missing Disk for one that is gone."));
        return;
    }
    const auto names = members_.memberNames();
    const auto kind = members_.kind();
    setEnabled(false);
    setCursor(Qt::WaitCursor);
    worker_.start(
        this, [this, names, kind] { proposal_ = MemberList::propose(names, kind); },
        [this] {
            setEnabled(true);
            unsetCursor();
            if (!proposal_.usable) {
                showMessage(this, qs(proposal_.text), QMessageBox::Warning);
                return;
            }
            if (!askYesNo(this, qs(proposal_.text + "\n\nFill the page with this proposal?"))) return;
            members_.applyProposal(proposal_.proposal);
            showRows(0);
            showSettings();
        });
}

void RaidHardDisksDlg::onNext() {
    if (std::string text = members_.next(); !text.empty()) {
        showMessage(this, qs(text));
        return;
    }
    app_.forward(this, new DriveParsingModes(app_));
}

}  // namespace quenlow::ui
